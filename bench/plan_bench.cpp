// The work of `kelvo plan` (the core's plan on inputs read through io/, with
// its list and file) against one kelvo_brino run on the generated domain
// (layers 1-10, every water point of layer 1 a candidate, K = 20), and the
// brute force (a full count of the layers with count_covered for each
// candidate) on a subset of the candidates, scaled to all of them.
//
//     kelvo_bench_plan [--quick] [--repeats N] [--root DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analyses.hpp"
#include "core/parallel.hpp"
#include "core/plan.hpp"
#include "domain_generator.hpp"
#include "io/domain_tree.hpp"
#include "io/metadata_list.hpp"
#include "legacy/driver.hpp"

namespace {

using kelvo_bench::best_of;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;



// Seconds per candidate of the brute force: every `stride`-th water point
// of layer 1, each counted over the layers with the network.
double brute_force_per_candidate(const kelvo_bench::DomainFiles& f, std::int32_t last, int threads,
                                 std::size_t* candidates) {
  const kelvo::Domain domain =
      kelvo::io::read_domain_tree(f.scale_dir().string() + "/", f.domain, f.param, 1, last, threads);
  const kelvo::ObservationSet set = kelvo::io::read_list(f.metadata().string(), kelvo::parameter_named(f.param));
  const kelvo::CalendarDay day = kelvo::legacy_assessment_day;
  const float slot = kelvo::assessment_slot(day);
  const std::vector<kelvo::Site> water = kelvo::water_sites(domain, 1);
  *candidates = water.size();
  std::vector<kelvo::Observation> with = kelvo::place_at(set.records, slot);
  with.emplace_back();
  const std::size_t subset = 8, stride = std::max<std::size_t>(1, water.size() / subset);
  const Clock::time_point t0 = Clock::now();
  std::size_t done = 0;
  for (std::size_t c = 0; c < water.size() && done < subset; c += stride, ++done) {
    with.back() = kelvo::placed(kelvo::io::planned_record(water[c].lat, water[c].lon, day, 4).record, slot);
    for (std::int32_t k = 1; k <= last; ++k) kelvo::count_covered(domain.axes(), domain.fields(k), with, slot);
  }
  return std::chrono::duration<double>(Clock::now() - t0).count() / static_cast<double>(done);
}

}  // namespace

int main(int argc, char** argv) {
  const kelvo_bench::BenchSetup setup = kelvo_bench::bench_setup(argc, argv, "kelvo_bench_plan");
  const bool quick = setup.quick;
  const int repeats = setup.repeats;
  const kelvo_bench::DomainSpec& shape = setup.shape;
  const kelvo_bench::DomainFiles& f = setup.files;
  const std::int32_t last = quick ? 3 : 10;
  const int threads = kelvo::threads_from_environment();
  const std::string list = f.metadata().string();
  const double brino = best_of(repeats, [&] {
    textio::Console console;
    const std::vector<std::string> args{"kelvo_brino", shape.domain, shape.param, "1", std::to_string(last), list, "b"};
    return kelvo::legacy::run_kelvo_brino(args, f.dirs(), console, kelvo::Evaluation::fast, threads);
  });
  const kelvo_bench::AnalysisRun run{&f, f.metadata(), last, threads};
  const double plan = best_of(repeats, [&] { return kelvo_bench::run_plan(run, kelvo::legacy_assessment_day, 20, 4); });
  std::size_t candidates = 0;
  const double brute = brute_force_per_candidate(f, last, threads, &candidates);
  std::printf("domain %s: %d x %d, layers 1-%d, %d observations, %zu candidates, %d threads\n", shape.label.c_str(),
              shape.nlon, shape.nlat, last, shape.nobs, candidates, threads);
  std::printf("kelvo_brino, one run                  %9.3f s\n", brino);
  std::printf("kelvo plan, K = 20                    %9.3f s\n", plan);
  std::printf("plan / one kelvo_brino run            %9.2f (goal: at most 10)\n", plan / brino);
  std::printf("brute force, per candidate and step   %9.4f s\n", brute);
  std::printf("brute force, 20 steps (estimated)     %9.1f s (%.0f times the plan)\n",
              brute * static_cast<double>(candidates) * 20.0, brute * static_cast<double>(candidates) * 20.0 / plan);
  return 0;
}
