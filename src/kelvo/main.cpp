// kelvo: the front end of the coverage tools; each subcommand is one task.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>

#include "kelvo/cli.hpp"

int main(int argc, char** argv) {
  // A map or series reads the next layer on one thread while it assesses
  // the last on another, and frees each layer where it was not taken: with
  // a single arena the room of a freed layer serves the next one, instead
  // of every thread's arena keeping layers of its own.
  mallopt(M_ARENA_MAX, 1);
  const int status = kelvo::cli::run(argc, argv);
  // Everything of ours is written and closed. The HDF5 library's exit
  // handler crashes on a file whose close failed (a full disk), so the
  // process ends without running it.
  std::fflush(nullptr);
  std::_Exit(status);
}
