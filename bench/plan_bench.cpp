// kelvo plan against one kelvo_brino run on the generated domain (layers
// 1-10, every water point of layer 1 a candidate, K = 20), and the brute
// force (a full count of the layers with count_covered for each candidate)
// on a subset of the candidates, scaled to all of them.
//
//     kelvo_bench_plan [--quick] [--repeats N] [--root DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "domain_generator.hpp"
#include "kelvo_runs.hpp"
#include "kelvo/cli.hpp"
#include "kelvo_mod/parallel.hpp"
#include "kelvo/plan.hpp"
#include "kelvo/series.hpp"
#include "kelvo_brino/driver.hpp"

namespace {

using kelvo_bench::best_of;
using kelvo_bench::run_kelvo;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;



// Seconds per candidate of the brute force: every `stride`-th water point
// of layer 1, each counted over the layers with the network.
double brute_force_per_candidate(const kelvo_bench::DomainFiles& f, std::int32_t last, std::size_t* candidates) {
  kelvo::DomainState ds(f.dirs());
  ds.domain = f.domain, ds.param = f.param, ds.metadata_file = f.metadata().string();
  ds.level_start = 1, ds.level_end = last;
  textio::Console console;
  kelvo::Reporter out{console};
  kelvo::run_stages(out, ds, {});
  const std::vector<float> dxkm = kelvo::row_km_per_degree(ds.lat.data);
  const kelvo::GridAxes grid = kelvo::grid_axes(ds, dxkm);
  std::vector<std::size_t> water;
  const std::int32_t* mask = ds.water_mask.plane(1, 1);
  for (std::size_t q = 0; q < static_cast<std::size_t>(grid.plane_size()); ++q) {
    if (mask[q] == 1) water.push_back(q);
  }
  *candidates = water.size();
  std::vector<kelvo::Observation> with = ds.obs;
  with.emplace_back();
  const std::size_t subset = 8, stride = std::max<std::size_t>(1, water.size() / subset);
  const Clock::time_point t0 = Clock::now();
  std::size_t done = 0;
  for (std::size_t c = 0; c < water.size() && done < subset; c += stride, ++done) {
    const std::size_t q = water[c];
    with.back() = kelvo::cli::planned_record(grid.lat[q / grid.nlon()], grid.lon[q % grid.nlon()], "0001012004", 4,
                                             ds.jdayaxis(1)).obs;
    for (std::int32_t k = 1; k <= last; ++k) kelvo::count_covered(grid, kelvo::layer_fields(ds, k), with, ds.jdayaxis(1));
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
  const std::string scale = f.scale_dir().string(), results = f.results_dir().string(), list = f.metadata().string();
  const double brino = best_of(repeats, [&] {
    textio::Console console;
    const std::vector<std::string> args{"kelvo_brino", shape.domain, shape.param, "1", std::to_string(last), list, "b"};
    return kelvo::run_kelvo_brino(args, f.dirs(), console);
  });
  const double plan = best_of(repeats, [&] {
    return run_kelvo({"plan", shape.domain, shape.param, "1", std::to_string(last), list, "b", "--add", "20", "--kind",
                      "4", "--scale-dir", scale, "--results-dir", results});
  });
  std::size_t candidates = 0;
  const double brute = brute_force_per_candidate(f, last, &candidates);
  std::printf("domain %s: %d x %d, layers 1-%d, %d observations, %zu candidates, %d threads\n", shape.label.c_str(),
              shape.nlon, shape.nlat, last, shape.nobs, candidates, kelvo::thread_count_from_environment());
  std::printf("kelvo_brino, one run                  %9.3f s\n", brino);
  std::printf("kelvo plan, K = 20                    %9.3f s\n", plan);
  std::printf("plan / one kelvo_brino run            %9.2f (goal: at most 10)\n", plan / brino);
  std::printf("brute force, per candidate and step   %9.4f s\n", brute);
  std::printf("brute force, 20 steps (estimated)     %9.1f s (%.0f times the plan)\n",
              brute * static_cast<double>(candidates) * 20.0, brute * static_cast<double>(candidates) * 20.0 / plan);
  return 0;
}
