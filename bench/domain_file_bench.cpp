// Reading a domain from its file against reading it from its tree, side by
// side in one run: layers 1-10 of the generated bench domain (400 x 300
// points, 30 layers) from the tree of fixed-column text files and from the
// domain file as `kelvo domain convert` writes it by default (one chunk a
// layer, shuffle and deflate level 1), alternately, each read in a child
// process of its own with its peak memory. Before timing, the two domains
// are checked equal (every plane, exponent and axis) and a map of each (the
// core's assessment of the bench list) gives the same decisions.
//
//     kelvo_bench_domain_file [--quick] [--repeats N] [--root DIR]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "analyses.hpp"
#include "core/assess.hpp"
#include "core/parallel.hpp"
#include "io/domain_file.hpp"
#include "io/domain_tree.hpp"
#include "io/inputs.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct ChildRun {
  double seconds = 0.0;
  double peak_mib = 0.0;
};

ChildRun in_child(const std::function<void()>& work) {
  std::fflush(nullptr);
  const Clock::time_point t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    try {
      work();
    } catch (...) {
      _exit(2);
    }
    _exit(0);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "kelvo_bench_domain_file: a measured run failed\n");
    std::exit(2);
  }
  return {std::chrono::duration<double>(Clock::now() - t0).count(), static_cast<double>(usage.ru_maxrss) / 1024.0};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::uintmax_t folder_bytes(const fs::path& folder) {
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::directory_iterator(folder)) bytes += e.is_regular_file() ? e.file_size() : 0;
  return bytes;
}

// The tree's domain written as a domain file, as kelvo domain convert writes it.
void convert(const kelvo_bench::DomainFiles& f, const fs::path& file, int deflate_level) {
  const std::string dir = f.scale_dir().string() + "/";
  kelvo::io::DomainFileContents c =
      kelvo::io::tree_contents(dir, f.domain, kelvo::io::read_grid_config(f.grid_cfg().string()), 1);
  c.deflate_level = deflate_level;
  kelvo::io::write_domain_file(file.string(), c);
}

bool same_domain(const kelvo::Domain& a, const kelvo::Domain& b) {
  if (a.grid().lon != b.grid().lon || a.grid().lat != b.grid().lat) return false;
  for (std::int32_t k = a.first_layer(); k <= a.last_layer(); ++k) {
    const kelvo::DomainLayer& x = a.layer(k);
    const kelvo::DomainLayer& y = b.layer(k);
    const auto same = [](std::span<const float> p, std::span<const float> q) {
      return std::equal(p.begin(), p.end(), q.begin(), q.end(), [](float u, float v) { return u == v || (u != u && v != v); });
    };
    const kelvo::Exponents& e = a.exponents(k);
    const kelvo::Exponents& g = b.exponents(k);
    if (!same(x.sx, y.sx) || !same(x.sy, y.sy) || !same(x.st, y.st) || e.px != g.px || e.py != g.py || e.pt != g.pt) {
      return false;
    }
  }
  return true;
}

// The decisions of a map of the bench list on the day of the bench.
std::vector<std::vector<std::uint8_t>> map_decisions(const kelvo::Domain& d, const kelvo::ObservationSet& obs, int threads) {
  kelvo::AssessRequest r;
  r.first_layer = d.first_layer();
  r.last_layer = d.last_layer();
  r.slot = kelvo::assessment_slot(kelvo::CalendarDay{2004, 1, 1});
  r.keep_decisions = true;
  r.threads = threads;
  const kelvo::Assessment a = kelvo::assess(d, obs, r);
  std::vector<std::vector<std::uint8_t>> planes;
  for (std::int32_t k = d.first_layer(); k <= d.last_layer(); ++k) {
    const std::span<const std::uint8_t> p = a.decisions(k);
    planes.emplace_back(p.begin(), p.end());
  }
  return planes;
}

double load_average() {
  double load[1] = {0.0};
  return getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  const kelvo_bench::BenchSetup b = kelvo_bench::bench_setup(argc, argv, "kelvo_bench_domain_file");
  const kelvo_bench::DomainFiles& f = b.files;
  const fs::path file = f.root / (f.domain + ".nc");
  const fs::path plain = f.root / (f.domain + "_deflate0.nc");
  if (!fs::exists(file)) convert(f, file, 1);
  if (!fs::exists(plain)) convert(f, plain, 0);
  const std::int32_t last = std::min<std::int32_t>(10, b.shape.nz);
  const std::string dir = f.scale_dir().string() + "/";
  const int threads = kelvo::threads_from_environment();
  std::printf("kelvo_bench_domain_file: %s domain %d x %d x %d, layers 1-%d; load %.2f at the start; %d threads\n",
              b.quick ? "quick" : "large", b.shape.nlon, b.shape.nlat, b.shape.nz, last, load_average(), threads);

  // Timed first, so that each child starts from a parent holding no domain.
  const auto read_file = [&](const fs::path& p) {
    return [&, p] { kelvo::io::read_domain_file(kelvo::io::read_domain_header(p.string()), f.param, 1, last, threads); };
  };
  std::vector<double> tree_s, tree1_s, file_s, plain_s, tree_mib, file_mib, empty_s;
  for (int r = 0; r < b.repeats; ++r) {
    empty_s.push_back(in_child([] {}).seconds);
    const ChildRun t = in_child([&] { kelvo::io::read_domain_tree(dir, f.domain, f.param, 1, last, threads); });
    const ChildRun t1 = in_child([&] { kelvo::io::read_domain_tree(dir, f.domain, f.param, 1, last, 1); });
    const ChildRun d = in_child(read_file(file));
    const ChildRun d0 = in_child(read_file(plain));
    tree_s.push_back(t.seconds);
    tree1_s.push_back(t1.seconds);
    file_s.push_back(d.seconds);
    plain_s.push_back(d0.seconds);
    tree_mib.push_back(t.peak_mib);
    file_mib.push_back(d.peak_mib);
  }
  const double tree_bytes = static_cast<double>(folder_bytes(f.asc_dir()));
  const double file_bytes = static_cast<double>(fs::file_size(file));
  const double plain_bytes = static_cast<double>(fs::file_size(plain));
  std::printf("  sizes: the tree %.1f MB (%d layers); the file as convert writes it (chunks of one layer's plane,\n"
              "  shuffle + deflate 1) %.1f MB, %.2f of the tree; uncompressed %.1f MB\n",
              tree_bytes / 1e6, b.shape.nz, file_bytes / 1e6, file_bytes / tree_bytes, plain_bytes / 1e6);
  std::printf("  reading layers 1-%d, median of %d (whole processes, peak resident memory):\n", last, b.repeats);
  std::printf("    a child doing nothing     %8.3f s\n", median(empty_s));
  std::printf("    tree, %d threads          %8.3f s   peak %7.1f MiB\n", threads, median(tree_s), median(tree_mib));
  std::printf("    tree, 1 thread            %8.3f s\n", median(tree1_s));
  std::printf("    file (deflate 1)          %8.3f s   peak %7.1f MiB\n", median(file_s), median(file_mib));
  std::printf("    file (uncompressed)       %8.3f s\n", median(plain_s));
  std::printf("  file / tree (%d threads): %.3f (goal: at most 0.5); uncompressed file / tree: %.3f\n", threads,
              median(file_s) / median(tree_s), median(plain_s) / median(tree_s));

  const kelvo::io::DomainFileHeader header = kelvo::io::read_domain_header(file.string());
  const kelvo::Domain tree = kelvo::io::read_domain_tree(dir, f.domain, f.param, 1, last, threads);
  const kelvo::Domain from_file = kelvo::io::read_domain_file(header, f.param, 1, last, threads);
  std::vector<kelvo::io::ListReport> reports;
  const std::vector<std::string> lists{f.metadata().string()};
  const kelvo::ObservationSet obs = kelvo::io::read_observations(lists, kelvo::parameter_named(f.param), reports);
  const bool same = same_domain(tree, from_file) && map_decisions(tree, obs, threads) == map_decisions(from_file, obs, threads);
  std::printf("  the file's and the tree's layers 1-%d, and their maps of %zu observations: %s\n", last, obs.size(),
              same ? "identical" : "DIFFERENT");
  std::printf("  load %.2f at the end\n", load_average());
  return same ? 0 : 2;
}
