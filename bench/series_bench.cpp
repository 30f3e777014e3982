// A year of daily assessments against one assessment, side by side on the
// generated domain: the domain's list with its one-time observations spread
// over 2004, layers 1-10; one kelvo_brino run, the work of one `kelvo map
// --day` and of a 365-day `kelvo series` (the core's analyses on inputs read
// through io/, with their files), each the best of a few repeats, and the ratio.
//
//     kelvo_bench_series [--quick] [--repeats N] [--root DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "analyses.hpp"
#include "core/parallel.hpp"
#include "domain_generator.hpp"
#include "legacy/driver.hpp"

namespace {

using kelvo_bench::best_of;

namespace fs = std::filesystem;

std::string two_digits(int v) { return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10); }

// The list with every one-time observation moved to a day of 2004 drawn
// from its position in the list (the hour is kept), so that about 1/366 of
// them are in each day's slot.
fs::path year_list(const kelvo_bench::Domain& d, const fs::path& root) {
  static constexpr int month_days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const fs::path path = root / (d.shape.domain + "_obs_year.lst");
  std::string text;
  std::uint32_t state = 2004u;
  for (kelvo_bench::Observation o : d.obs) {
    if (o.freq == 0) {
      state = state * 1664525u + 1013904223u;
      int doy = static_cast<int>((state >> 8) % 366u);
      int month = 0;
      while (doy >= month_days[month]) doy -= month_days[month++];
      o.date = o.date.substr(0, 2) + two_digits(doy + 1) + two_digits(month + 1) + "2004";
    }
    text += kelvo_bench::metadata_line(o) + "\n";
  }
  std::ofstream(path, std::ios::binary) << text;
  return path;
}



}  // namespace

int main(int argc, char** argv) {
  const kelvo_bench::BenchSetup setup = kelvo_bench::bench_setup(argc, argv, "kelvo_bench_series");
  const bool quick = setup.quick;
  const int repeats = setup.repeats;
  const kelvo_bench::DomainSpec& shape = setup.shape;
  const kelvo_bench::DomainFiles& f = setup.files;

  const fs::path list = year_list(kelvo_bench::build_domain(shape), f.root);
  const int threads = kelvo::threads_from_environment();
  const std::string last = quick ? "3" : "10";
  const kelvo::CalendarDay from{2004, 1, 1, 0, 0}, to{2004, quick ? 1 : 12, quick ? 31 : 30, 0, 0};
  const kelvo_bench::AnalysisRun run{&f, list, quick ? 3 : 10, threads};
  const double brino = best_of(repeats, [&] {
    textio::Console console;
    const std::vector<std::string> brino_args{"kelvo_brino", shape.domain, shape.param, "1", last, list.string(), "b"};
    return kelvo::legacy::run_kelvo_brino(brino_args, f.dirs(), console, kelvo::Evaluation::fast, threads);
  });
  const double map = best_of(repeats, [&] { return kelvo_bench::run_map(run, {2004, 6, 15, 0, 0}); });
  const double series = best_of(repeats, [&] { return kelvo_bench::run_series(run, from, to); });
  const int days = quick ? 31 : 365;
  std::printf("domain %s: %d x %d, layers 1-%s, %zu observations spread over 2004, %d threads\n", shape.label.c_str(),
              shape.nlon, shape.nlat, last.c_str(), static_cast<std::size_t>(shape.nobs), threads);
  std::printf("kelvo_brino, one day           %8.3f s\n", brino);
  std::printf("kelvo map --day, one day       %8.3f s\n", map);
  std::printf("kelvo series, %3d days         %8.3f s\n", days, series);
  std::printf("series / one kelvo_brino run   %8.2f (goal: at most 10 for 365 days)\n", series / brino);
  return 0;
}
