// kelvo_bench_compare: the tool's runs on the same generated domain, side by
// side: the fast evaluation on one thread and on every core, the map tool,
// the exhaustive evaluation, and the floor of a run without observations.
//
//   kelvo_bench_compare [--quick] [--layers N] [--exhaustive-layers M] [directory]
//
// 1. Generates the domain (or reuses it when `directory` already holds it),
//    with a list of 20,000 observations, one of 99,999 over the same sea and
//    an empty one.
// 2. Times merely reading the input files of a run of layers 1..N.
// 3. For each list, runs the whole tool in-process for layers 1..N, each run
//    in a child process of its own (so that wall time and peak memory are
//    those of that run alone), five times each: the empty list (the floor:
//    starting, grid, scale and exponent files, water points, summary), the
//    fast evaluation on one thread and on every core, and kelvo_map when it
//    is built. Runs on one thread and on every core must give byte-identical
//    consoles and summaries. The same runs again as processes started from
//    kelvo_bench_brino (kelvo_map: kelvo_bench_run), as the installed tools
//    run (their floor then also holds the start of a process and the
//    loading of its libraries).
// 4. The exhaustive evaluation of layers 1..M (minutes for the whole range of
//    the large domain, hence fewer layers) against the fast one, which must
//    give the same bytes.
// 5. The stages of a fast run, and peak memory over a few and all layers.
//
// The exit status is 0 when every run completed and all compared outputs
// were identical, 1 otherwise.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/parallel.hpp"
#include "domain_generator.hpp"
#include "io/domain_tree.hpp"
#include "legacy/command_line.hpp"
#include "legacy/driver.hpp"
#include "legacy/summary.hpp"
#include "textio/lines.hpp"
#ifdef KELVO_BENCH_MAP
#include "legacy/map_run.hpp"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kelvo_bench::DomainFiles;
using kelvo_bench::DomainSpec;

const char* const run_tag = "bench";

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double mb(double bytes) { return bytes / 1e6; }

// ---------------------------------------------------------------- child processes

struct ChildResult {
  int exit_code = -1;  // exit status, -1 when the child did not exit normally
  int signal = 0;      // the signal that ended it, if any
  double wall_s = 0.0;
  double cpu_s = 0.0;
  double peak_mb = 0.0;  // largest resident set of the child (ru_maxrss)
  std::string report;    // what the child wrote on its report pipe

  bool ok() const { return exit_code == 0; }
};

// Runs body(report) in a forked child and waits for it. The child's text in
// `report` comes back in ChildResult::report. The parent holds nothing big,
// so a child's peak resident set is that of its own work.
ChildResult in_child(const std::function<int(std::string& report)>& body) {
  std::fflush(stdout);
  std::fflush(stderr);
  int fds[2];
  if (pipe(fds) != 0) {
    std::perror("pipe");
    std::exit(2);
  }
  const Clock::time_point t0 = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    std::exit(2);
  }
  if (pid == 0) {
    close(fds[0]);
    int rc = 3;
    std::string report;
    try {
      rc = body(report);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kelvo_bench_compare: %s\n", e.what());
      rc = 3;
    }
    std::size_t done = 0;
    while (done < report.size()) {
      const ssize_t n = write(fds[1], report.data() + done, report.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fds[1]);
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(rc);
  }
  close(fds[1]);
  ChildResult r;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    r.report.append(buf, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  struct rusage ru {};
  if (wait4(pid, &status, 0, &ru) < 0) {
    std::perror("wait4");
    std::exit(2);
  }
  r.wall_s = seconds_since(t0);
  r.cpu_s = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  r.peak_mb = static_cast<double>(ru.ru_maxrss) * 1024.0 / 1e6;  // ru_maxrss is in KiB
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

std::string read_all(const fs::path& p) {
  std::string text;
  std::string reason;
  if (!textio::read_whole_file(p.string(), text, reason)) return {};
  return text;
}

// ---------------------------------------------------------------- the runs

struct RunPlan {
  std::string name;        // "fast_t1", "exhaustive", ...
  std::int32_t first = 1;
  std::int32_t last = 1;
  kelvo::Evaluation how = kelvo::Evaluation::fast;
  int threads = 1;
  bool map = false;        // kelvo_map instead of kelvo_brino
  fs::path list;           // the metadata list
  fs::path results;        // results directory of the run
  fs::path console_out;    // the run's standard output
  fs::path console_err;    // the run's standard error
  bool started = false;    // a process started from the program (kelvo_bench_run), as the installed tool runs
};

std::vector<std::string> tool_args(const DomainFiles& f, std::int32_t first, std::int32_t last,
                                   const fs::path& list, bool map = false) {
  return {map ? "kelvo_map" : "kelvo_brino", f.domain, f.param, std::to_string(first), std::to_string(last),
          list.string(), run_tag};
}

fs::path summary_path(const DomainFiles& f, const fs::path& results) {
  return results / (f.domain + "_" + f.param + "_cover_summary_" + run_tag + ".asc");
}

fs::path map_path(const DomainFiles& f, const fs::path& results) {
  return results / (f.domain + "_" + f.param + "_cover_map_" + run_tag + ".nc");
}

fs::path output_path(const DomainFiles& f, const RunPlan& plan) {
  return plan.map ? map_path(f, plan.results) : summary_path(f, plan.results);
}

#ifdef KELVO_BENCH_MAP
constexpr bool map_built = true;
#else
constexpr bool map_built = false;
#endif

// Replaces the (child) process by kelvo_bench_brino (kelvo_map:
// kelvo_bench_run) on the plan, its console going to the two files; returns
// only when that cannot be done.
int start_tool(const DomainFiles& f, const RunPlan& plan, std::FILE* out, std::FILE* err) {
  std::vector<std::string> args{plan.map ? KELVO_BENCH_RUN_PATH : KELVO_BENCH_BRINO_PATH};
  if (plan.map) args.push_back("--map");
  for (const std::string& a : {std::string("--results"), plan.results.string(), f.root.string()}) args.push_back(a);
  const std::vector<std::string> tool = tool_args(f, plan.first, plan.last, plan.list, plan.map);
  args.insert(args.end(), tool.begin() + 1, tool.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  setenv("KELVO_THREADS", std::to_string(plan.threads).c_str(), 1);
  if (dup2(fileno(out), 1) < 0 || dup2(fileno(err), 2) < 0) return 4;
  execv(argv[0], argv.data());
  return 4;
}

// One whole run of the tool, its console going to two files.
int tool_run(const DomainFiles& f, const RunPlan& plan) {
  std::FILE* out = std::fopen(plan.console_out.c_str(), "wb");
  std::FILE* err = std::fopen(plan.console_err.c_str(), "wb");
  if (out == nullptr || err == nullptr) return 4;
  if (plan.started) return start_tool(f, plan, out, err);
  textio::Console console;
  console.out_sink = out;
  console.err_sink = err;
  const std::vector<std::string> args = tool_args(f, plan.first, plan.last, plan.list, plan.map);
  int status = 4;
  if (!plan.map) {
    status = kelvo::legacy::run_kelvo_brino(args, f.dirs(plan.results), console, plan.how, plan.threads);
  } else {
#ifdef KELVO_BENCH_MAP
    status = kelvo::legacy::run_kelvo_map(args, f.dirs(plan.results), console, plan.threads);
#endif
  }
  std::fclose(out);
  std::fclose(err);
  return status;
}

ChildResult run_in_child(const DomainFiles& f, const RunPlan& plan) {
  std::error_code ec;
  fs::remove_all(plan.results, ec);
  fs::create_directories(plan.results);
  return in_child([&](std::string&) { return tool_run(f, plan); });
}

// A run is complete when it exits with 0, did not stop early and wrote its summary.
bool run_complete(const DomainFiles& f, const RunPlan& plan, const ChildResult& r, std::string& why) {
  if (r.signal != 0) {
    why = "ended by signal " + std::to_string(r.signal);
    return false;
  }
  if (!r.ok()) {
    why = "exit status " + std::to_string(r.exit_code);
    return false;
  }
  const std::string out = read_all(plan.console_out);
  const std::size_t stop = out.find("STOP (");
  if (stop != std::string::npos) {
    why = "stopped: " + out.substr(stop, out.find('\n', stop) - stop);
    return false;
  }
  if (!fs::exists(output_path(f, plan))) {
    why = plan.map ? "no map file" : "no summary file";
    return false;
  }
  return true;
}

// The first line where two texts differ, for the report.
std::string first_difference(const std::string& a, const std::string& b) {
  std::size_t line = 1;
  std::size_t start = 0;
  for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
    if (a[k] != b[k]) {
      const auto line_of = [&](const std::string& s) {
        return s.substr(start, s.find('\n', start) - start);
      };
      return "line " + std::to_string(line) + ": \"" + line_of(a) + "\" vs \"" + line_of(b) + "\"";
    }
    if (a[k] == '\n') {
      ++line;
      start = k + 1;
    }
  }
  return "one is a prefix of the other (" + std::to_string(a.size()) + " vs " + std::to_string(b.size()) + " bytes)";
}

std::vector<std::string> lines_starting(const std::string& text, const std::string& head) {
  std::vector<std::string> v;
  textio::LineSplitter lines{text};
  std::string_view line;
  while (lines.next(line)) {
    if (line.substr(0, head.size()) == head) v.emplace_back(line);
  }
  return v;
}

std::size_t count_lines_starting(const std::string& text, const std::string& head) {
  return lines_starting(text, head).size();
}

// ---------------------------------------------------------------- reading only

// Reads every input file of a run of layers first..last into memory (best
// of three passes), then parses the scale files already in memory with the
// tool's own row parser (best of three). Reports
// "files bytes read_s scale_bytes parse_s".
int read_only(const DomainSpec& shape, const DomainFiles& f, std::int32_t first, std::int32_t last,
              std::string& report) {
  const std::vector<fs::path> files = kelvo_bench::run_input_files(shape, f, first, last);
  std::vector<std::string> texts(files.size());
  double best_read = 1e30;
  double bytes = 0.0;
  for (int pass = 0; pass < 3; ++pass) {
    for (std::string& t : texts) std::string().swap(t);
    const Clock::time_point t0 = Clock::now();
    bytes = 0.0;
    for (std::size_t n = 0; n < files.size(); ++n) {
      std::string reason;
      if (!textio::read_whole_file(files[n].string(), texts[n], reason)) {
        std::fprintf(stderr, "cannot read %s: %s\n", files[n].c_str(), reason.c_str());
        return 5;
      }
      bytes += static_cast<double>(texts[n].size());
    }
    best_read = std::min(best_read, seconds_since(t0));
  }
  // The scale files are texts 1 .. 3 * (last - first + 1).
  const std::size_t nscale = static_cast<std::size_t>(3 * (last - first + 1));
  std::vector<float> row(static_cast<std::size_t>(shape.nlon));
  double scale_bytes = 0.0;
  double best_parse = 1e30;
  float sum = 0.0f;
  for (int pass = 0; pass < 3; ++pass) {
    scale_bytes = 0.0;
    const Clock::time_point t0 = Clock::now();
    for (std::size_t n = 1; n <= nscale; ++n) {
      textio::LineSplitter lines{texts[n]};
      std::string_view line;
      while (lines.next(line)) {
        if (!kelvo::io::parse_scale_row(line, row)) return 6;
        sum += row[0];
      }
      scale_bytes += static_cast<double>(texts[n].size());
    }
    best_parse = std::min(best_parse, seconds_since(t0));
  }
  char buf[256];
  std::snprintf(buf, sizeof buf, "%zu %.0f %.6f %.0f %.6f %g", files.size(), bytes, best_read, scale_bytes,
                best_parse, static_cast<double>(sum));
  report = buf;
  return 0;
}

// ---------------------------------------------------------------- stage times

// The stages of a fast run of layers first..last on `threads` threads,
// timed one by one. Reports "name seconds" lines.
int staged_run(const DomainFiles& f, std::int32_t first, std::int32_t last, const fs::path& list, int threads,
               const fs::path& results, std::string& report) {
  textio::Console console;  // kept in memory
  const std::vector<std::string> args = tool_args(f, first, last, list);
  Clock::time_point t0 = Clock::now();
  const auto lap = [&](const char* name) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s %.6f\n", name, seconds_since(t0));
    report += buf;
    t0 = Clock::now();
  };
  namespace legacy = kelvo::legacy;
  return legacy::run_guarded(f.dirs(results), console, [&](legacy::Printer& out, legacy::RunState& s) {
    legacy::get_args(out, s.settings, args);
    legacy::read_layer_bounds(out, s.settings);
    legacy::read_grid_cfg(out, s);
    kelvo::check_layer_range(s.grid, s.settings.level_start, s.settings.level_end);
    legacy::alloc_domain(out, s);
    lap("setup (arguments, grid configuration, allocation)");
    legacy::get_grid(out, s, threads);
    lap("scale and exponent files (get_grid)");
    legacy::read_metadata(out, s);
    lap("metadata list (read_metadata)");
    legacy::count_water_points(out, s);
    lap("water points (count_water_points)");
    legacy::assess_coverage(out, s, legacy::AssessmentOptions{kelvo::Evaluation::fast, false, false, threads});
    lap("coverage, fast (assess_coverage)");
    legacy::write_summary(s);
    lap("summary (write_summary)");
    console.flush();
    lap("console (kept in memory)");
  });
}

// ---------------------------------------------------------------- main

struct Options {
  bool quick = false;
  std::int32_t layers = 0;             // 0: the default
  std::int32_t exhaustive_layers = 1;  // 0: no exhaustive run
  std::string dir;
};

[[noreturn]] void usage_and_exit(int status) {
  std::printf(
      "usage: kelvo_bench_compare [--quick] [--layers N] [--exhaustive-layers M] [directory]\n"
      "  --quick                a small domain (80 x 60 points, 3 layers, 2000 and 5000 observations)\n"
      "  --layers N             whole runs of layers 1..N (default 10, --quick: all 3)\n"
      "  --exhaustive-layers M  the exhaustive evaluation on layers 1..M (default 1; 0: none)\n"
      "  directory              where the domain is generated, or reused when already there\n"
      "                         (default: a fresh temporary directory, removed at the end)\n"
      "KELVO_THREADS sets 'all threads' (default: the machine's cores).\n");
  std::exit(status);
}

Options parse_options(int argc, char** argv) {
  Options o;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--quick") {
      o.quick = true;
    } else if (arg == "--layers" && a + 1 < argc) {
      o.layers = static_cast<std::int32_t>(std::atoi(argv[++a]));
      if (o.layers < 1) usage_and_exit(2);
    } else if (arg == "--exhaustive-layers" && a + 1 < argc) {
      o.exhaustive_layers = static_cast<std::int32_t>(std::atoi(argv[++a]));
      if (o.exhaustive_layers < 0) usage_and_exit(2);
    } else if (arg == "--help" || arg == "-h") {
      usage_and_exit(0);
    } else if (!arg.empty() && arg[0] != '-' && o.dir.empty()) {
      o.dir = arg;
    } else {
      usage_and_exit(2);
    }
  }
  return o;
}

std::string load_average() {
  std::string text = read_all("/proc/loadavg");
  const std::size_t cut = text.find(' ', text.find(' ', text.find(' ') + 1) + 1);
  return cut == std::string::npos ? text : text.substr(0, cut);
}

void print_run(const char* label, const ChildResult& r) {
  std::printf("  %-28s wall %9.3f s   cpu %9.3f s   peak memory %8.1f MB\n", label, r.wall_s, r.cpu_s, r.peak_mb);
}

// Runs of one plan (five: a machine shared with other work gives the odd
// slow run): best, median and worst wall time, and the CPU time of the best.
constexpr int repeats = 5;

struct Repeated {
  std::vector<ChildResult> runs;
  double best() const { return runs.front().wall_s; }
  double median() const { return runs[runs.size() / 2].wall_s; }
  double worst() const { return runs.back().wall_s; }
};

Repeated run_repeated(const DomainFiles& f, const RunPlan& plan) {
  Repeated r;
  for (int n = 0; n < repeats; ++n) r.runs.push_back(run_in_child(f, plan));
  std::sort(r.runs.begin(), r.runs.end(), [](const ChildResult& a, const ChildResult& b) { return a.wall_s < b.wall_s; });
  return r;
}

void print_repeated(const std::string& label, const Repeated& r) {
  std::printf("  %-30s wall %7.3f %7.3f %7.3f s   cpu %7.3f s   peak %6.1f MB\n", label.c_str(), r.best(), r.median(),
              r.worst(), r.runs.front().cpu_s, r.runs.front().peak_mb);
}

// Whether two runs printed and wrote the same bytes; the first difference otherwise.
bool same_outputs(const DomainFiles& f, const RunPlan& a, const RunPlan& b, const char* what) {
  const std::string out_a = read_all(a.console_out) + read_all(a.console_err);
  const std::string out_b = read_all(b.console_out) + read_all(b.console_err);
  const std::string sum_a = read_all(output_path(f, a)), sum_b = read_all(output_path(f, b));
  const bool same_out = out_a == out_b;
  const bool same_sum = sum_a == sum_b && !sum_a.empty();
  std::printf("  %s: standard output %s (%zu bytes)%s, summary %s (%zu bytes)%s\n", what,
              same_out ? "IDENTICAL" : "DIFFERENT", out_a.size(),
              same_out ? "" : (" - " + first_difference(out_a, out_b)).c_str(), same_sum ? "IDENTICAL" : "DIFFERENT",
              sum_a.size(), same_sum ? "" : (" - " + first_difference(sum_a, sum_b)).c_str());
  return same_out && same_sum;
}

std::string threads_label(int threads) { return std::to_string(threads) + (threads == 1 ? " thread" : " threads"); }

}  // namespace

int main(int argc, char** argv) {
  const Options opt = parse_options(argc, argv);
  const DomainSpec shape = opt.quick ? kelvo_bench::quick_domain() : kelvo_bench::large_domain();
  const std::int32_t layers = std::min(shape.nz, opt.layers > 0 ? opt.layers : (opt.quick ? shape.nz : 10));
  const std::int32_t exhaustive_layers = std::min(layers, opt.exhaustive_layers);
  const int all_threads = kelvo::threads_from_environment();

  // Where the domain lives.
  bool remove_root = false;
  fs::path root;
  if (opt.dir.empty()) {
    std::string pattern = (fs::temp_directory_path() / "kelvo_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return 2;
    }
    root = pattern;
    remove_root = true;
  } else {
    root = fs::absolute(opt.dir).lexically_normal();
    fs::create_directories(root);
  }
  const DomainFiles files = kelvo_bench::domain_files(shape, root);

  const DomainSpec many = kelvo_bench::operational(shape, opt.quick ? 5000 : 99999);
  const fs::path many_list = root / (shape.domain + "_obs_" + std::to_string(many.nobs) + ".lst");
  const fs::path empty_list = root / (shape.domain + "_empty.lst");
  if (many_list.string().size() > kelvo::legacy::setting_length) {
    std::fprintf(stderr, "kelvo_bench_compare: the metadata path %s is longer than %zu characters\n",
                 many_list.c_str(), kelvo::legacy::setting_length);
    return 2;
  }

  std::printf("kelvo_bench_compare: %s domain %s, %d x %d points, %d layers, %d and %d observations\n",
              shape.label.c_str(), shape.domain.c_str(), shape.nlon, shape.nlat, shape.nz, shape.nobs, many.nobs);
  std::printf("  directory %s\n", root.c_str());
  std::printf("  %d cores, all threads: %d; load average (1, 5, 15 min) %s\n", kelvo::machine_cores(), all_threads,
              load_average().c_str());

  const ChildResult gen = in_child([&](std::string& report) {
    report = kelvo_bench::ensure_domain(shape, root) ? "generated" : "reused";
    report += kelvo_bench::ensure_metadata_list(many, many_list) ? ", longer list generated" : "";
    std::FILE* e = std::fopen(empty_list.c_str(), "wb");
    if (e == nullptr) return 2;
    std::fclose(e);
    return 0;
  });
  if (!gen.ok()) {
    std::fprintf(stderr, "kelvo_bench_compare: generating the domain failed\n");
    return 2;
  }
  std::printf("  domain %s in %.2f s\n\n", gen.report.c_str(), gen.wall_s);

  const fs::path work = root / "bench_runs";
  fs::create_directories(work);
  const auto plan = [&](const std::string& name, std::int32_t last, kelvo::Evaluation how, int threads,
                        const fs::path& list, bool map = false) {
    return RunPlan{name, 1, last, how, threads, map, list, work / ("results_" + name), work / (name + ".out"),
                   work / (name + ".err")};
  };
  bool all_ok = true;
  const auto check = [&](const RunPlan& p, const ChildResult& r) {
    std::string why;
    if (!run_complete(files, p, r, why)) {
      std::printf("  run %s did not complete: %s (console in %s)\n", p.name.c_str(), why.c_str(),
                  p.console_out.c_str());
      all_ok = false;
    }
  };

  // Reading only.
  const ChildResult idle = in_child([](std::string&) { return 0; });
  const ChildResult reading = in_child([&](std::string& report) { return read_only(shape, files, 1, layers, report); });
  std::size_t nfiles = 0;
  double bytes = 0.0, read_s = 0.0, scale_bytes = 0.0, parse_s = 0.0, checksum = 0.0;
  if (!reading.ok() || std::sscanf(reading.report.c_str(), "%zu %lf %lf %lf %lf %lf", &nfiles, &bytes, &read_s,
                                   &scale_bytes, &parse_s, &checksum) != 6) {
    std::printf("reading the input files failed\n");
    return 1;
  }
  std::printf("Input files of a run of layers 1-%d: %zu files, %.1f MB\n", layers, nfiles, mb(bytes));
  std::printf("  read into memory (best of 3):        %9.4f s  (%7.0f MB/s)\n", read_s, mb(bytes) / read_s);
  std::printf("  parse the scale files in memory:     %9.4f s  (%7.0f MB/s of scale files, %.1f MB)\n\n", parse_s,
              mb(scale_bytes) / parse_s, mb(scale_bytes));

  // The floor, the fast runs on one thread and on all, kelvo_map, for each list.
  const std::string all_label = threads_label(all_threads);
  for (const auto& [nobs, list] : {std::pair{shape.nobs, files.metadata()}, std::pair{many.nobs, many_list}}) {
    const std::string tag = std::to_string(nobs);
    std::printf("Whole runs of layers 1-%d, %d observations (wall best, median, worst of %d; each run in its own "
                "process; load %s):\n", layers, nobs, repeats, load_average().c_str());
    const RunPlan floor1 = plan("floor_t1", layers, kelvo::Evaluation::fast, 1, empty_list);
    const RunPlan floor_all = plan("floor_all", layers, kelvo::Evaluation::fast, all_threads, empty_list);
    const RunPlan fast1 = plan("fast_t1_" + tag, layers, kelvo::Evaluation::fast, 1, list);
    const RunPlan fast_all = plan("fast_all_" + tag, layers, kelvo::Evaluation::fast, all_threads, list);
    const RunPlan map_all = plan("map_all_" + tag, layers, kelvo::Evaluation::fast, all_threads, list, true);
    const Repeated f1 = run_repeated(files, floor1);
    check(floor1, f1.runs.front());
    print_repeated("empty list (floor), 1 thread", f1);
    const Repeated fa = run_repeated(files, floor_all);
    check(floor_all, fa.runs.front());
    print_repeated("empty list (floor), " + all_label, fa);
    const Repeated r1 = run_repeated(files, fast1);
    check(fast1, r1.runs.front());
    print_repeated("fast, 1 thread", r1);
    const Repeated ra = run_repeated(files, fast_all);
    check(fast_all, ra.runs.front());
    print_repeated("fast, " + all_label, ra);
    std::printf("  fast / floor (medians): %.2f x on 1 thread, %.2f x on %s; 1 thread / %s: %.2f x\n",
                r1.median() / f1.median(), ra.median() / fa.median(), all_label.c_str(), all_label.c_str(),
                r1.median() / ra.median());
    if (map_built) {
      const Repeated ma = run_repeated(files, map_all);
      check(map_all, ma.runs.front());
      print_repeated("kelvo_map, " + all_label, ma);
      std::printf("  kelvo_map / kelvo_brino (medians, %s): %.2f x\n", all_label.c_str(), ma.median() / ra.median());
    }
    if (!same_outputs(files, fast1, fast_all, ("1 thread against " + all_label).c_str())) all_ok = false;
    // The same runs as processes started from the program, as the installed
    // tool runs: the floor then holds the start of a process too.
    std::printf("  started as processes of their own (kelvo_bench_brino, kelvo_bench_run --map):\n");
    std::vector<Repeated> started;
    for (RunPlan p : {floor1, floor_all, fast1, fast_all, map_all}) {
      if (p.map && !map_built) continue;
      p.started = true;
      p.name += "_started";
      p.results += "_started";
      p.console_out += "_started";
      p.console_err += "_started";
      started.push_back(run_repeated(files, p));
      check(p, started.back().runs.front());
    }
    print_repeated("empty list (floor), 1 thread", started[0]);
    print_repeated("empty list (floor), " + all_label, started[1]);
    print_repeated("fast, 1 thread", started[2]);
    print_repeated("fast, " + all_label, started[3]);
    std::printf("  fast / floor (medians): %.2f x on 1 thread, %.2f x on %s\n", started[2].median() / started[0].median(),
                started[3].median() / started[1].median(), all_label.c_str());
    if (map_built) {
      print_repeated("kelvo_map, " + all_label, started[4]);
      std::printf("  kelvo_map / kelvo_brino (medians, %s): %.2f x\n", all_label.c_str(),
                  started[4].median() / started[3].median());
    }
    std::printf("  load after: %s\n\n", load_average().c_str());
  }

  // The exhaustive evaluation on fewer layers, against the fast one.
  if (exhaustive_layers > 0) {
    std::printf("Exhaustive against fast, layers 1-%d, %s (one run each):\n", exhaustive_layers, all_label.c_str());
    for (const auto& [nobs, list] : {std::pair{shape.nobs, files.metadata()}, std::pair{many.nobs, many_list}}) {
      const std::string tag = std::to_string(nobs);
      const RunPlan fast = plan("fast_few_" + tag, exhaustive_layers, kelvo::Evaluation::fast, all_threads, list);
      const RunPlan exhaustive =
          plan("exhaustive_" + tag, exhaustive_layers, kelvo::Evaluation::exhaustive, all_threads, list);
      const ChildResult rf = run_in_child(files, fast);
      check(fast, rf);
      const ChildResult re = run_in_child(files, exhaustive);
      check(exhaustive, re);
      print_run(("fast, " + tag + " obs").c_str(), rf);
      print_run(("exhaustive, " + tag + " obs").c_str(), re);
      std::printf("  exhaustive / fast: %.1f x (wall), %.1f x (cpu); load %s\n", re.wall_s / rf.wall_s,
                  re.cpu_s / rf.cpu_s, load_average().c_str());
      if (!same_outputs(files, fast, exhaustive, "fast against exhaustive")) all_ok = false;
    }
    std::printf("\n");
  }

  // What the run saw.
  const std::string out_f = read_all(work / ("fast_all_" + std::to_string(shape.nobs) + ".out"));
  std::printf("What a fast run of layers 1-%d with %d observations saw:\n", layers, shape.nobs);
  for (const std::string& l : lines_starting(out_f, " Nobs in metadata")) std::printf("  %s\n", l.c_str());
  std::printf("  one-time observations dated: %zu, dropped for the parameter: %zu, not on the assessment day: %zu\n",
              count_lines_starting(out_f, "hr="), count_lines_starting(out_f, " No par match"),
              count_lines_starting(out_f, " Error in times"));
  for (const std::string& l : lines_starting(out_f, " Ilayer, Nwater, Ksum, Kpct")) std::printf("  %s\n", l.c_str());
  std::printf("\n");

  // Where the time of a fast run goes.
  for (const auto& [nobs, list] : {std::pair{shape.nobs, files.metadata()}, std::pair{many.nobs, many_list}}) {
    fs::create_directories(work / "results_stages");
    const ChildResult stages = in_child([&](std::string& report) {
      return staged_run(files, 1, layers, list, all_threads, work / "results_stages", report);
    });
    std::printf("Stages of a fast run of layers 1-%d, %d observations, %s:%s\n", layers, nobs, all_label.c_str(),
                stages.ok() ? "" : " (the run did not complete)");
    if (!stages.ok()) all_ok = false;
    textio::LineSplitter lines{stages.report};
    std::string_view line;
    while (lines.next(line)) {
      const std::size_t sp = line.rfind(' ');
      std::printf("  %-52s %9.4f s\n", std::string(line.substr(0, sp)).c_str(),
                  std::atof(std::string(line.substr(sp + 1)).c_str()));
    }
  }
  std::printf("\n");

  // Memory against the layer range.
  const std::int32_t few = std::max<std::int32_t>(1, shape.nz / 10);
  const RunPlan small = plan("layers_few", few, kelvo::Evaluation::fast, all_threads, files.metadata());
  const RunPlan all = plan("layers_all", shape.nz, kelvo::Evaluation::fast, all_threads, files.metadata());
  const ChildResult rs = run_in_child(files, small);
  check(small, rs);
  const ChildResult ra = run_in_child(files, all);
  check(all, ra);
  const double per_layer = static_cast<double>(shape.nlon) * shape.nlat * (3 * 4 + 4);  // scale + water_mask
  std::printf("Peak memory of fast runs, %s (a child that does nothing: %.1f MB):\n", all_label.c_str(),
              idle.peak_mb);
  char label[32];
  std::snprintf(label, sizeof label, "layers 1-%d", few);
  print_run(label, rs);
  std::snprintf(label, sizeof label, "layers 1-%d", shape.nz);
  print_run(label, ra);
  std::printf("  ratio %.2f for %d times the layers; layer arrays (scale, water_mask) %.1f MB against %.1f MB;\n",
              ra.peak_mb / rs.peak_mb, shape.nz / few, mb(per_layer * few), mb(per_layer * shape.nz));
  std::printf("  above the idle child: %.1f MB against %.1f MB (%.2f x)\n", rs.peak_mb - idle.peak_mb,
              ra.peak_mb - idle.peak_mb, (ra.peak_mb - idle.peak_mb) / (rs.peak_mb - idle.peak_mb));

  std::printf("\n%s (load %s)\n", all_ok ? "OK: identical outputs" : "FAILED", load_average().c_str());
  if (remove_root) {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  return all_ok ? 0 : 1;
}
