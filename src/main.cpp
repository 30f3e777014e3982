// kelvo_brino: effective coverage of an ocean observing network on a model
// domain. The base directories are fixed when the program is built.
#include <string>
#include <vector>

#include "kelvo_brino/driver.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  textio::Console console = textio::standard_console();
  const kelvo::BaseDirs dirs{KELVO_SCALE_DIR, KELVO_RESULTS_DIR};
  return kelvo::run_kelvo_brino(args, dirs, console);
}
