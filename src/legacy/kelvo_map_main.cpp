// kelvo_map: the assessment of kelvo_brino written as a NetCDF map of
// covered and uncovered water, with what each observation kind adds. The
// base directories are fixed when the program is built.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "legacy/map_run.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  textio::Console console = textio::standard_console();
  const kelvo::legacy::BaseDirs dirs{KELVO_SCALE_DIR, KELVO_RESULTS_DIR};
  const int status = kelvo::legacy::run_kelvo_map(args, dirs, console, kelvo::threads_from_environment());
  // The HDF5 library's exit handler crashes on a file whose close failed (a
  // full disk); everything of ours is written and closed, so it is not run.
  std::fflush(nullptr);
  std::_Exit(status);
}
