// Reading a whole Argo profile index, side by side in one run: a generated
// index of the real header and columns (3.25 million profiles of about
// 17,000 floats from 1999 to 2026, some without a position), plain and
// gzip-compressed, read into records by kelvo (io::read_index_observations),
// against a plain read of its bytes (cat, zcat) and pandas.read_csv of
// Debian's /usr/bin/python3; then a 365-day series of the generated regional
// domain with the whole index against the same series with that year's rows
// only, each a process of its own, with its peak memory. Every figure is
// the median of the repeats, with the machine's load.
//
//     kelvo_bench_index [--quick] [--repeats N] [--root DIR]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "analyses.hpp"
#include "core/parallel.hpp"
#include "io/index_observations.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

// Wall seconds and peak resident memory (MiB) of `work` run in a child process.
struct ChildRun {
  double seconds = 0.0;
  double peak_mib = 0.0;
};

ChildRun in_child(const std::function<int()>& work) {
  std::fflush(nullptr);
  const Clock::time_point t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(work());
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "kelvo_bench_index: a measured run failed\n");
    std::exit(2);
  }
  return {std::chrono::duration<double>(Clock::now() - t0).count(), static_cast<double>(usage.ru_maxrss) / 1024.0};
}

int shell(const std::string& command) { return std::system(command.c_str()) == 0 ? 0 : 1; }

// ------------------------------------------------------------ the index

struct IndexShape {
  std::int64_t rows = 3'250'000;
  int floats = 17'000;
  int year = 2020;  // the year of the series
};

const char* const dacs[] = {"aoml", "coriolis", "csio", "incois", "jma", "kordi", "meds", "bodc"};

// One line per profile, float after float, each float drifting from a
// random start with a profile every ten days; 0.3 % of the profiles have no
// position (empty, or the fill value 99999), as in the real index.
void write_index(const IndexShape& index_shape, const fs::path& plain, const fs::path& gz) {
  std::mt19937 rng(20261210u);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  FILE* out = std::fopen(plain.c_str(), "wb");
  gzFile zout = gzopen(gz.c_str(), "wb6");
  if (out == nullptr || zout == nullptr) {
    std::fprintf(stderr, "kelvo_bench_index: cannot write %s\n", plain.c_str());
    std::exit(2);
  }
  std::string text =
      "# Title : Profile directory file of the Argo Global Data Assembly Center\n"
      "# Description : The directory file describes all individual profile files of the argo GDAC ftp site.\n"
      "# Project : ARGO\n# Format version : 2.0\n# Date of update : 20261201000000\n"
      "# FTP root number 1 : ftp://ftp.ifremer.fr/ifremer/argo/dac\n"
      "# FTP root number 2 : ftp://usgodae.org/pub/outgoing/argo/dac\n# GDAC node : CORIOLIS\n"
      "file,date,latitude,longitude,ocean,profiler_type,institution,date_update\n";
  const std::int64_t per_float = index_shape.rows / index_shape.floats;
  std::int64_t written = 0;
  char line[256];
  for (int f = 0; f < index_shape.floats; ++f) {
    const int wmo = 1900000 + f * 37 % 5000000;
    const char* dac = dacs[f % 8];
    const std::int64_t profiles = f + 1 == index_shape.floats ? index_shape.rows - written : per_float;
    // Starts from 1999 to 2025, more of them recent.
    const double start_day = 10227.0 + 9800.0 * std::sqrt(unit(rng));
    double lat = -60.0 + 120.0 * unit(rng), lon = -180.0 + 360.0 * unit(rng);
    for (std::int64_t c = 0; c < profiles; ++c) {
      const double day = start_day + 10.0 * static_cast<double>(c) + unit(rng);
      const std::int64_t d = static_cast<std::int64_t>(day);
      const kelvo::CalendarDay cd = kelvo::civil_from_days(d, static_cast<int>((day - d) * 24.0), static_cast<int>(unit(rng) * 60.0));
      lat = std::clamp(lat + (unit(rng) - 0.5) * 0.6, -75.0, 80.0);
      lon += (unit(rng) - 0.5) * 0.8;
      if (lon > 180.0) lon -= 360.0;
      if (lon < -180.0) lon += 360.0;
      const double gap = unit(rng);
      char position[64];
      if (gap < 0.002) std::snprintf(position, sizeof position, ",");
      else if (gap < 0.003) std::snprintf(position, sizeof position, "99999.000,99999.000");
      else std::snprintf(position, sizeof position, "%.3f,%.3f", lat, lon);
      std::snprintf(line, sizeof line, "%s/%d/profiles/%c%d_%03lld.nc,%04d%02d%02d%02d%02d%02d,%s,%c,%d,%s,20261201000000\n",
                    dac, wmo, c % 3 == 0 ? 'D' : 'R', wmo, static_cast<long long>(c + 1), cd.year, cd.month, cd.day,
                    cd.hour, cd.minute, static_cast<int>(unit(rng) * 60.0), position, lon < -70.0 ? 'P' : 'A',
                    c % 2 == 0 ? 846 : 869, f % 2 == 0 ? "AO" : "IF");
      text += line;
    }
    written += profiles;
    if (text.size() > (std::size_t{8} << 20) || f + 1 == index_shape.floats) {
      if (std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
          gzwrite(zout, text.data(), static_cast<unsigned>(text.size())) != static_cast<int>(text.size())) {
        std::fprintf(stderr, "kelvo_bench_index: cannot write the index\n");
        std::exit(2);
      }
      text.clear();
    }
  }
  std::fclose(out);
  gzclose(zout);
}

// The lines of `whole` dated in `year` (with its header), as one file.
void write_year(const fs::path& whole, int year, const fs::path& out) {
  std::ifstream in(whole);
  std::ofstream o(out, std::ios::binary);
  const std::string y = std::to_string(year);
  for (std::string line; std::getline(in, line);) {
    const std::size_t comma = line.find(',');
    if (line[0] == '#' || line.starts_with("file,") || line.compare(comma + 1, 4, y) == 0) o << line << '\n';
  }
}

// ------------------------------------------------------------ reading

double pandas_seconds(const fs::path& file) {
  const std::string out = (fs::temp_directory_path() / "kelvo_bench_pandas.txt").string();
  const std::string command =
      "/usr/bin/python3 -c \"import time, pandas; t = time.perf_counter(); "
      "pandas.read_csv('" + file.string() + "', comment='#'); print(time.perf_counter() - t)\" > " + out + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) return -1.0;
  double s = -1.0;
  if (FILE* f = std::fopen(out.c_str(), "r")) {
    if (std::fscanf(f, "%lf", &s) != 1) s = -1.0;
    std::fclose(f);
  }
  return s;
}

struct Reading {
  double bytes = 0.0, kelvo = 0.0, pandas = 0.0, peak_mib = 0.0;
  std::size_t records = 0, platforms = 0;
};

Reading measure_reading(const fs::path& file, bool gz, int repeats, int threads, double base_mib) {
  Reading r;
  std::vector<double> bytes, ours, pandas;
  for (int k = 0; k < repeats; ++k) {
    bytes.push_back(in_child([&] { return shell(std::string(gz ? "zcat " : "cat ") + file.string() + " > /dev/null"); }).seconds);
    const Clock::time_point t0 = Clock::now();
    const kelvo::ObservationSet set =
        kelvo::io::read_index_observations(kelvo::io::IndexFormat::argo, file.string(), kelvo::every_parameter, nullptr, threads);
    ours.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    r.records = set.size();
    r.platforms = set.platforms.size() - 1;
    pandas.push_back(pandas_seconds(file));
  }
  r.peak_mib = in_child([&] {
                 const kelvo::ObservationSet set = kelvo::io::read_index_observations(
                     kelvo::io::IndexFormat::argo, file.string(), kelvo::every_parameter, nullptr, threads);
                 return set.size() > 0 ? 0 : 1;
               }).peak_mib - base_mib;
  r.bytes = median(bytes);
  r.kelvo = median(ours);
  r.pandas = median(pandas);
  return r;
}

double load_average() {
  double load[1] = {0.0};
  return getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  const kelvo_bench::BenchSetup setup = kelvo_bench::bench_setup(argc, argv, "kelvo_bench_index");
  IndexShape index_shape;
  if (setup.quick) index_shape = {50'000, 400, 2020};
  const int threads = kelvo::threads_from_environment();
  const fs::path dir = setup.files.root.parent_path() / ("argo_index_" + std::to_string(index_shape.rows));
  fs::create_directories(dir);
  const fs::path plain = dir / "ar_index_global_prof.txt", gz = dir / "ar_index_global_prof.txt.gz";
  const fs::path year = dir / ("ar_index_" + std::to_string(index_shape.year) + ".txt");
  if (!fs::exists(year)) {
    write_index(index_shape, plain, gz);
    write_year(plain, index_shape.year, year);
  }
  const double base_mib = in_child([] { return 0; }).peak_mib;
  std::printf("Argo profile index: %lld rows, %.0f MB plain, %.0f MB gzip; %d threads; load %.2f\n",
              static_cast<long long>(index_shape.rows), static_cast<double>(fs::file_size(plain)) / 1e6,
              static_cast<double>(fs::file_size(gz)) / 1e6, threads, load_average());
  std::printf("%-10s %10s %10s %10s %12s %12s %14s\n", "file", "cat/zcat", "kelvo", "pandas", "pandas/kelvo",
              "kelvo/cat", "peak B/record");
  for (const bool compressed : {false, true}) {
    const Reading r = measure_reading(compressed ? gz : plain, compressed, setup.repeats, threads, base_mib);
    std::printf("%-10s %9.3fs %9.3fs %9.3fs %12.1f %12.2f %14.1f\n", compressed ? "gzip" : "plain", r.bytes, r.kelvo,
                r.pandas, r.pandas > 0 ? r.pandas / r.kelvo : 0.0, r.kelvo / r.bytes,
                r.peak_mib * 1048576.0 / static_cast<double>(r.records));
    if (!compressed) std::printf("records %zu, platforms %zu\n", r.records, r.platforms);
  }
  if (setup.quick) return 0;

  // A year's series of layers 1-10 of the generated domain with the whole
  // index, and with the year's rows only.
  kelvo_bench::AnalysisRun run{&setup.files, {}, std::min<std::int32_t>(10, setup.shape.nz), threads};
  const kelvo::CalendarDay from{index_shape.year, 1, 1, 0, 0}, to{index_shape.year, 12, 31, 0, 0};
  std::vector<double> whole_s, year_s, whole_mib, year_mib;
  for (int k = 0; k < setup.repeats; ++k) {
    for (const bool whole : {true, false}) {
      run.list = whole ? gz : year;
      const ChildRun c = in_child([&] { return kelvo_bench::run_series(run, from, to); });
      (whole ? whole_s : year_s).push_back(c.seconds);
      (whole ? whole_mib : year_mib).push_back(c.peak_mib);
    }
  }
  const auto count = [&](const fs::path& file) {
    return static_cast<double>(kelvo::io::read_index_observations(kelvo::io::IndexFormat::argo, file.string(),
                                                                  kelvo::salinity, nullptr, threads).size());
  };
  const double whole_records = count(gz), year_records = count(year);
  std::printf("series of %d, 365 days, layers 1-%d: whole index (gzip, %.0f records) %.3f s, %.0f MiB; the year's "
              "rows (%.0f records) %.3f s, %.0f MiB; whole / year %.2f (goal: at most 2); %.1f bytes per added record\n",
              index_shape.year, run.last, whole_records, median(whole_s), median(whole_mib), year_records, median(year_s),
              median(year_mib), median(whole_s) / median(year_s),
              (median(whole_mib) - median(year_mib)) * 1048576.0 / (whole_records - year_records));
  std::printf("load %.2f\n", load_average());
  return 0;
}
