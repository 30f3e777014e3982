// What the benchmarks of the analyses share: the work of `kelvo map`,
// `series` and `plan` done by the core on inputs read through io/ (the
// domain tree and the list, read side by side) and written through io/, the
// best time of a few repeats, and the generated domain they run on.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/calendar.hpp"
#include "domain_generator.hpp"

namespace kelvo_bench {

// One assessment's inputs and outputs: the domain tree and list, the layers
// 1..last, the results directory, the threads.
struct AnalysisRun {
  const DomainFiles* files = nullptr;
  std::filesystem::path list;
  std::int32_t last = 1;
  int threads = 1;
};

// The map of one day (assessment, kinds, classes, the map file); 0 when done.
int run_map(const AnalysisRun& run, const kelvo::CalendarDay& day);
// The series of the days from..to (every day), with its file.
int run_series(const AnalysisRun& run, const kelvo::CalendarDay& from, const kelvo::CalendarDay& to);
// A plan of `add` platforms of `kind` on `day`, the candidates every water
// point of layer 1, with its list and its file.
int run_plan(const AnalysisRun& run, const kelvo::CalendarDay& day, std::int32_t add, std::int32_t kind);

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

// The command line of a benchmark ([--quick] [--repeats N] [--root DIR])
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
