// kelvo_brino: effective coverage of an ocean observing network on a model
// domain. The base directories are fixed when the program is built.
#include <string>
#include <vector>

#include "legacy/driver.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  textio::Console console = textio::standard_console();
  const kelvo::legacy::BaseDirs dirs{KELVO_SCALE_DIR, KELVO_RESULTS_DIR};
  const int threads = kelvo::threads_from_environment();
  return kelvo::legacy::run_kelvo_brino(args, dirs, console, kelvo::Evaluation::fast, threads);
}
