// kelvo: the front end of the coverage tools; each subcommand is one task.
#include <cstdio>
#include <cstdlib>

#include "kelvo/cli.hpp"

int main(int argc, char** argv) {
  const int status = kelvo::cli::run(argc, argv);
  // Everything of ours is written and closed. The HDF5 library's exit
  // handler crashes on a file whose close failed (a full disk), so the
  // process ends without running it.
  std::fflush(nullptr);
  std::_Exit(status);
}
