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
  // The planes of a layer (a few megabytes each at 1/4 degree) are taken
  // and freed over and over: kept in the heap rather than mapped and
  // unmapped each time, their pages are not faulted in and cleared again
  // for every layer. Larger arrays (whole layers, finer grids) are still
  // mapped, so that the heap does not keep them once freed.
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  const int status = kelvo::cli::run(argc, argv);
  // Everything of ours is written and closed. The HDF5 library's exit
  // handler crashes on a file whose close failed (a full disk), so the
  // process ends without running it.
  std::fflush(nullptr);
  std::_Exit(status);
}
