// What the benchmarks of the kelvo subcommands share: a subcommand run
// in-process, and the best time of a few repeats.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <cstring>
#include <filesystem>

#include "domain_generator.hpp"
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

// The command line of a kelvo benchmark ([--quick] [--repeats N] [--root DIR])
// and the generated domain it runs on, made under DIR (or reused).
struct BenchSetup {
  bool quick = false;
  int repeats = 3;
  DomainSpec shape;
  DomainFiles files;
};

inline BenchSetup bench_setup(int argc, char** argv, const char* name) {
  BenchSetup b;
  std::filesystem::path root = std::filesystem::temp_directory_path() / name;
  for (int a = 1; a < argc; ++a) {
    if (std::strcmp(argv[a], "--quick") == 0) b.quick = true;
    else if (std::strcmp(argv[a], "--repeats") == 0 && a + 1 < argc) b.repeats = std::max(1, std::atoi(argv[++a]));
    else if (std::strcmp(argv[a], "--root") == 0 && a + 1 < argc) root = argv[++a];
  }
  b.shape = b.quick ? quick_domain() : large_domain();
  const std::filesystem::path tree = root / b.shape.label;
  ensure_domain(b.shape, tree);
  b.files = domain_files(b.shape, tree);
  std::filesystem::create_directories(b.files.results_dir());
  return b;
}

}  // namespace kelvo_bench
