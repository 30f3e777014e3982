// The whole ocean, a whole year, the whole network, side by side in one run:
// the generated global sea of 1/4 degree (1440 x 720 points, 50 layers,
// periodic) and its year of about 820,000 records (global_generator.hpp),
// assessed by the kelvo executable, each run a process of its own with its
// wall time and peak resident memory:
//   - kelvo map, all layers, one day, against the same map with no
//     observation (the floor: reading the domain, water points, the file);
//   - kelvo series over the year's days (or the first N, extrapolated),
//     alternating with the map as the map does with its floor;
//   - kelvo plan --add 20 on layers 1-10 against the map of layers 1-10;
//   - the map of the 1/12-degree sea (4320 x 2160, 10 layers) and a series
//     of ten days on it, and their memory;
//   - the peak memory against two layers' arrays + 64 bytes a record + 25 %;
//   - the exhaustive evaluation of sampled rows of three layers (the seam's
//     columns and the polar rows among them): the same decisions as the fast
//     search, and its time extrapolated to every row and layer;
//   - the map on 1 thread and on all threads: the same variables.
//
//     kelvo_bench_global [--quick] [--repeats N] [--root DIR] [--series-days N] [--no-twelfth] [--no-plan]
#include <netcdf.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/calendar.hpp"
#include "core/coverage_engine.hpp"
#include "core/parallel.hpp"
#include "global_generator.hpp"
#include "io/domain_file.hpp"
#include "io/inputs.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Run {
  double seconds = 0.0;
  double peak_mib = 0.0;
};

// The kelvo executable with `args` (and KELVO_THREADS=threads when given),
// its output to /dev/null.
Run run_kelvo(const std::vector<std::string>& args, int threads = 0) {
  std::fflush(nullptr);
  const Clock::time_point t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (threads > 0) setenv("KELVO_THREADS", std::to_string(threads).c_str(), 1);
    std::freopen("/dev/null", "w", stdout);
    std::vector<char*> argv{const_cast<char*>(KELVO_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KELVO_EXE, argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "kelvo_bench_global: kelvo failed:");
    for (const std::string& a : args) std::fprintf(stderr, " %s", a.c_str());
    std::fprintf(stderr, "\n");
    std::exit(2);
  }
  return {std::chrono::duration<double>(Clock::now() - t0).count(), static_cast<double>(usage.ru_maxrss) / 1024.0};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Paired {
  Run a, b;  // medians
};

// `a` and `b` run alternately `repeats` times; the medians of each.
Paired side_by_side(const std::vector<std::string>& a, const std::vector<std::string>& b, int repeats) {
  std::vector<double> as, am, bs, bm;
  for (int r = 0; r < repeats; ++r) {
    const Run x = run_kelvo(a), y = run_kelvo(b);
    as.push_back(x.seconds);
    am.push_back(x.peak_mib);
    bs.push_back(y.seconds);
    bm.push_back(y.peak_mib);
  }
  return {{median(as), median(am)}, {median(bs), median(bm)}};
}

double load_average() {
  double load[1] = {0.0};
  return getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

// Two layers' arrays (three float scale planes, the water plane, the
// decisions and the written classes: 18 bytes a point), 64 bytes a record,
// and a quarter more, in MiB.
double memory_bound_mib(std::int64_t nlon, std::int64_t nlat, std::int64_t records) {
  return 1.25 * (2.0 * 18.0 * static_cast<double>(nlon * nlat) + 64.0 * static_cast<double>(records)) / 1048576.0;
}

// Whether every variable of two NetCDF files holds the same bytes.
bool same_variables(const fs::path& x, const fs::path& y) {
  int a = -1, b = -1, n = 0;
  if (nc_open(x.c_str(), NC_NOWRITE, &a) != NC_NOERR || nc_open(y.c_str(), NC_NOWRITE, &b) != NC_NOERR) return false;
  bool same = nc_inq_nvars(a, &n) == NC_NOERR;
  for (int v = 0; v < n && same; ++v) {
    char name[NC_MAX_NAME + 1] = {};
    int w = -1, ndims = 0, dims[NC_MAX_VAR_DIMS];
    nc_type type = NC_NAT;
    nc_inq_var(a, v, name, &type, &ndims, dims, nullptr);
    std::size_t count = 1, size = 0;
    for (int d = 0; d < ndims; ++d) {
      std::size_t len = 0;
      nc_inq_dimlen(a, dims[d], &len);
      count *= len;
    }
    nc_inq_type(a, type, nullptr, &size);
    std::vector<char> p(count * size), q(count * size);
    same = nc_inq_varid(b, name, &w) == NC_NOERR && nc_get_var(a, v, p.data()) == NC_NOERR &&
           nc_get_var(b, w, q.data()) == NC_NOERR && p == q;
  }
  nc_close(a);
  nc_close(b);
  return same;
}

// The exhaustive and the fast decisions on sampled rows (the two rows at
// each pole and every `stride`-th) of layer k: whether they agree, and the
// seconds each took.
struct Sampled {
  bool same = true;
  double exhaustive_s = 0.0, fast_s = 0.0;
  std::int64_t rows = 0;
};

Sampled sampled_rows(const kelvo::io::DomainFileHeader& h, std::int32_t k, const kelvo::ObservationSet& obs, float slot,
                     std::int64_t stride, int threads) {
  const kelvo::Domain d = kelvo::io::read_domain_file(h, "temp", k, k, threads);
  const kelvo::GridAxes axes = d.axes();
  const std::int64_t nlon = axes.nlon(), nlat = axes.nlat();
  std::vector<std::uint8_t> among(static_cast<std::size_t>(nlon * nlat), 0);
  Sampled s;
  for (std::int64_t j = 0; j < nlat; ++j) {
    if (j < 2 || j >= nlat - 2 || j % stride == 0) {
      std::fill_n(among.begin() + j * nlon, nlon, std::uint8_t{1});
      ++s.rows;
    }
  }
  const std::vector<kelvo::Observation> placed = kelvo::place_at(obs.records, slot);
  std::vector<std::uint8_t> fast(among.size(), 0), exhaustive(among.size(), 0);
  kelvo::CountRequest r;
  r.among = among;
  r.threads = threads;
  r.decisions = fast;
  Clock::time_point t0 = Clock::now();
  kelvo::count_covered(axes, d.fields(k), placed, slot, r);
  s.fast_s = std::chrono::duration<double>(Clock::now() - t0).count();
  r.how = kelvo::Evaluation::exhaustive;
  r.decisions = exhaustive;
  t0 = Clock::now();
  kelvo::count_covered(axes, d.fields(k), placed, slot, r);
  s.exhaustive_s = std::chrono::duration<double>(Clock::now() - t0).count();
  s.same = fast == exhaustive;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false, twelfth = true, with_plan = true;
  int repeats = 3, series_days = 365;
  fs::path root = fs::temp_directory_path() / "kelvo_bench_global";
  for (int a = 1; a < argc; ++a) {
    if (std::strcmp(argv[a], "--quick") == 0) quick = true;
    else if (std::strcmp(argv[a], "--no-twelfth") == 0) twelfth = false;
    else if (std::strcmp(argv[a], "--no-plan") == 0) with_plan = false;
    else if (std::strcmp(argv[a], "--repeats") == 0 && a + 1 < argc) repeats = std::max(1, std::atoi(argv[++a]));
    else if (std::strcmp(argv[a], "--series-days") == 0 && a + 1 < argc) series_days = std::clamp(std::atoi(argv[++a]), 1, 365);
    else if (std::strcmp(argv[a], "--root") == 0 && a + 1 < argc) root = argv[++a];
  }
  const kelvo_bench::GlobalShape shape = quick ? kelvo_bench::quick_globe() : kelvo_bench::quarter_degree();
  const Clock::time_point made = Clock::now();
  const kelvo_bench::GlobalFiles f = kelvo_bench::ensure_global(shape, root);
  const int threads = kelvo::threads_from_environment();
  std::printf("kelvo_bench_global: %d x %d points, %d layers, periodic; %lld records (%s); load %.2f at the start; "
              "%d threads; inputs ready in %.1f s\n",
              shape.nlon, shape.nlat, shape.nz, static_cast<long long>(f.records), f.network.c_str(), load_average(),
              threads, std::chrono::duration<double>(Clock::now() - made).count());
  const fs::path empty = root / "empty.csv";
  std::FILE* e = std::fopen(empty.c_str(), "w");
  std::fprintf(e, "platform,kind,latitude,longitude,time_start,time_end,parameters\n");
  std::fclose(e);
  const std::string day = "2025-06-15", out = (root / "out.nc").string();
  const auto map_args = [&](const fs::path& obs, const std::string& layers, const std::string& o) {
    return std::vector<std::string>{"map", "--domain", f.domain.string(), "--param", "temp", "--layers", layers, "--obs",
                                    obs.string(), "--day", day, "-o", o, "-q"};
  };
  const std::string all = "1-" + std::to_string(shape.nz);
  const Paired map = side_by_side(map_args(f.network, all, out), map_args(empty, all, out), repeats);
  const double bound = memory_bound_mib(shape.nlon, shape.nlat, f.records);
  std::printf("  map, layers %s: %.2f s, peak %.0f MiB; with no observation (the floor): %.2f s, peak %.0f MiB\n",
              all.c_str(), map.a.seconds, map.a.peak_mib, map.b.seconds, map.b.peak_mib);
  std::printf("    map / floor: %.2f (goal: at most 2); peak against two layers + 64 B a record + 25 %%: %.0f of %.0f MiB\n",
              map.a.seconds / map.b.seconds, map.a.peak_mib, bound);

  const std::int32_t plan_last = std::min(10, shape.nz);
  const std::string range = "1-" + std::to_string(plan_last);
  std::vector<std::string> plan{"plan", "--domain", f.domain.string(), "--param", "temp", "--layers", range, "--obs",
                                f.list.string(), "--day", day, "--add", "20", "--kind", "mooring", "--site-step", "8",
                                "-o", (root / "plan").string(), "-q"};
  if (with_plan) {
  const Paired p = side_by_side(plan, map_args(f.list, range, out), repeats);
  std::printf("  plan --add 20 --site-step 8, layers %s: %.2f s, peak %.0f MiB; map of the same layers %.2f s: plan / map %.2f (goal: at most 20)\n",
              range.c_str(), p.a.seconds, p.a.peak_mib, p.b.seconds, p.a.seconds / p.b.seconds);
  }

  const kelvo::CalendarDay first{2025, 1, 1};
  const std::int64_t d0 = kelvo::days_from_civil(2025, 1, 1) + series_days - 1;
  const kelvo::CalendarDay to = kelvo::civil_from_days(d0, 0, 0);
  char to_text[16];
  std::snprintf(to_text, sizeof to_text, "%04d-%02d-%02d", to.year, to.month, to.day);
  // The series and the map alternate, so that both see the machine as it is.
  const Paired paired = side_by_side({"series", "--domain", f.domain.string(), "--param", "temp", "--layers", all, "--obs",
                                      f.network.string(), "--from", "2025-01-01", "--to", to_text, "-o",
                                      (root / "series.nc").string(), "-q"},
                                     map_args(f.network, all, out), repeats);
  const Run& series = paired.a;
  const double year = series.seconds * 365.0 / series_days;
  std::printf("  series, %d days from 2025-01-01, layers %s: %.1f s, peak %.0f MiB%s; map beside it %.2f s; series / map: %.1f (goal for 365 days: at most 10)\n",
              series_days, all.c_str(), series.seconds, series.peak_mib,
              series_days < 365 ? (" (365 days: " + std::to_string(static_cast<int>(year)) + " s by proportion)").c_str() : "",
              paired.b.seconds, year / paired.b.seconds);
  (void)first;

  const fs::path one = root / "one_thread.nc", many = root / "all_threads.nc";
  run_kelvo(map_args(f.network, all, one.string()), 1);
  run_kelvo(map_args(f.network, all, many.string()), threads);
  std::printf("  map on 1 thread and on %d: %s variables\n", threads, same_variables(one, many) ? "the same" : "DIFFERENT");

  const kelvo::io::DomainFileHeader h = kelvo::io::read_domain_header(f.domain.string());
  std::vector<kelvo::io::ListReport> reports;
  const std::vector<std::string> lists{f.network.string()};
  const kelvo::ObservationSet obs = kelvo::io::read_observations(lists, kelvo::parameter_named("temp"), reports, threads);
  const float slot = kelvo::assessment_slot(kelvo::CalendarDay{2025, 6, 15});
  double exhaustive_total = 0.0, fast_total = 0.0;
  bool exact = true;
  for (const std::int32_t k : {1, shape.nz / 2 + 1, shape.nz}) {
    // The poles' rows and three more (the exhaustive evaluation examines
    // every record at every point: minutes a row at 1/4 degree).
    const Sampled s = sampled_rows(h, k, obs, slot, shape.nlat / 3, threads);
    exact = exact && s.same;
    std::printf("  layer %d, %lld sampled rows (poles, seam columns): fast %s exhaustive; fast %.3f s, exhaustive %.1f s\n", k,
                static_cast<long long>(s.rows), s.same ? "==" : "!=", s.fast_s, s.exhaustive_s);
    exhaustive_total += s.exhaustive_s / static_cast<double>(s.rows) * shape.nlat;
    fast_total += s.fast_s / static_cast<double>(s.rows) * shape.nlat;
  }
  std::printf("    whole layers by proportion: exhaustive %.0f s a layer (%.0f s for %d layers), fast %.2f s a layer: "
              "exhaustive / fast %.0f\n",
              exhaustive_total / 3.0, exhaustive_total / 3.0 * shape.nz, shape.nz, fast_total / 3.0, exhaustive_total / fast_total);

  if (twelfth && !quick) {
    const kelvo_bench::GlobalShape t = kelvo_bench::twelfth_degree();
    const kelvo_bench::GlobalFiles tf = kelvo_bench::ensure_global(t, root);
    const Run tm = run_kelvo({"map", "--domain", tf.domain.string(), "--param", "temp", "--obs", tf.network.string(),
                              "--day", day, "-o", out, "-q"});
    std::printf("  1/12 degree (%d x %d, %d layers): map %.2f s, peak %.0f MiB against two layers + 64 B a record + 25 %%: %.0f MiB\n",
                t.nlon, t.nlat, t.nz, tm.seconds, tm.peak_mib, memory_bound_mib(t.nlon, t.nlat, tf.records));
    // The series' memory does not grow with its days: ten of them show it.
    const Run ts = run_kelvo({"series", "--domain", tf.domain.string(), "--param", "temp", "--obs", tf.network.string(),
                              "--from", "2025-06-01", "--to", "2025-06-10", "-o", (root / "series.nc").string(), "-q"});
    std::printf("    series of 10 days: %.2f s, peak %.0f MiB against the same bound\n", ts.seconds, ts.peak_mib);
  }
  std::printf("  load %.2f at the end\n", load_average());
  return exact ? 0 : 2;
}
