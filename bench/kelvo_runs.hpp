// What the benchmarks of the kelvo subcommands share: a subcommand run
// in-process, and the best time of a few repeats.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kelvo/cli.hpp"

namespace kelvo_bench {

// Runs `kelvo ARGS...`; its error messages go to standard error.
inline int run_kelvo(const std::vector<std::string>& args) {
  textio::Console console;
  kelvo::cli::Context context{console, "", "", {}};
  std::vector<std::string> all{"kelvo"};
  all.insert(all.end(), args.begin(), args.end());
  const int status = kelvo::cli::run(all, context);
  if (status != 0) std::fprintf(stderr, "%s", console.err.c_str());
  return status;
}

// The best wall time of `repeats` calls of `run`; a call that fails ends the
// benchmark with status 2.
template <typename F>
double best_of(int repeats, F&& run) {
  using Clock = std::chrono::steady_clock;
  double best = 1e30;
  for (int r = 0; r < repeats; ++r) {
    const Clock::time_point t0 = Clock::now();
    if (run() != 0) {
      std::fprintf(stderr, "benchmark: a run failed\n");
      std::exit(2);
    }
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

}  // namespace kelvo_bench
