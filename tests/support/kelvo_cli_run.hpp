// Runs the kelvo front end in-process for tests, with base directories that
// do not exist unless the arguments name others.
#pragma once

#include <string>
#include <vector>

#include "kelvo/cli.hpp"
#include "support/run_support.hpp"

namespace kelvo_test {

inline RunResult kelvo_cli(std::vector<std::string> args) {
  args.insert(args.begin(), "kelvo");
  textio::Console console;
  kelvo::cli::Context context{console, "/nonexistent/", "/nonexistent/", {}};
  RunResult r;
  r.status = kelvo::cli::run(args, context);
  r.out = console.out;
  r.err = console.err;
  return r;
}

}  // namespace kelvo_test
