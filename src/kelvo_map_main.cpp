// kelvo_map: the assessment of kelvo_brino written as a NetCDF map of
// covered and uncovered water, with what each observation kind adds. The
// base directories are fixed when the program is built.
#include <string>
#include <vector>

#include "kelvo_map/map_run.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  textio::Console console = textio::standard_console();
  const kelvo::BaseDirs dirs{KELVO_SCALE_DIR, KELVO_RESULTS_DIR};
  return kelvo::run_kelvo_map(args, dirs, console);
}
