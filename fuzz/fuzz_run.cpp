// Fuzz target: a whole run of the tool, in-process, on input files made from
// the fuzz input in a temporary directory.
//
// Input: chunks separated by the line "==>" (the bytes "\n==>\n"):
//   0  control bytes: flags, parameter, the two layer-bound arguments (two
//      bytes each) and the run tag (up to six bytes);
//   1  the grid configuration file of domain "Fz";
//   2  the metadata list;
//   3-5  the exponent files x, y, t;
//   6..  scale files, given in turn to the x, y and t files of each layer of
//        the range (cycling when there are fewer chunks than files).
// A missing chunk leaves its file missing. The first line of the grid file
// is rewritten when its sizes would make a large grid (at most 64 x 64
// points and 2048 points times layers of the range, at most 300 layers), so
// that a run stays in the milliseconds; sizes below 1 or above 9999 layers
// are kept, as they end the run before anything is allocated.
//
// Control flags (byte 0): bits 0-1 the arguments (0: all six; 1: no run tag;
// 2: no metadata list and no run tag; 3: the metadata path is a directory),
// bit 2 no results directory, bit 3 an older summary of the same name in it,
// bit 4 a results directory path under a regular file, bit 5 an unrelated
// file in the results directory, bit 6 no metadata list file.
//
// Checked for every run:
// - the exit status is 0 or 2 (1 is for fewer than four arguments, which
//   never happens here);
// - status 2 comes with exactly one stop line on standard output (a line
//   starting " STOP (" or " Error !! Too many files in list"), status 0
//   with none;
// - status 0: the summary file exists under its name and is complete: the
//   nine header lines with the grid sizes, domain, parameter and layer range
//   of the run, then one row per layer of the range whose water points agree
//   with the water-point lines of standard output and whose percentage is
//   100 times Ksum / Nwater of the assessment lines, and nothing after; the
//   results directory holds what it held before plus that file;
// - status 2: the results directory is exactly as before (no new summary, no
//   temporary file, an older summary unchanged);
// - the fast evaluation and the exhaustive one give the same status, the
//   same standard output and error and the same summary, byte for byte.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "field_oracle.hpp"
#include "fuzz_check.hpp"
#include "legacy/driver.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSeparator = "\n==>\n";
constexpr int kMaxSide = 64;
constexpr long kMaxPointsTimesLayers = 2048;
constexpr int kMaxLayers = 300;

// ------------------------------------------------------------ files

using fuzz::write_file;

using fuzz::read_file;

// Name -> contents ("<dir>" for a directory) of the entries of a directory.
using Listing = std::map<std::string, std::string>;

Listing listing(const fs::path& dir) {
  Listing l;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return l;
  for (const auto& e : fs::directory_iterator(dir)) {
    l[e.path().filename().string()] = e.is_directory() ? std::string("<dir>") : read_file(e.path());
  }
  return l;
}

void restore(const fs::path& dir, const Listing& before) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (before.count(e.path().filename().string()) == 0) fs::remove_all(e.path());
  }
  for (const auto& [name, content] : before) {
    if (content != "<dir>") write_file(dir / name, content);
  }
}

// The temporary directory of this process, on a memory file system where
// there is one.
const fs::path& base_dir() {
  static const fs::path base = [] {
    std::string pattern = (fs::is_directory("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
                          "/kelvo_fuzz_run_XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, "harness cannot create a temporary directory");
    std::atexit([] { std::error_code ec; fs::remove_all(base_dir(), ec); });
    return fs::path(pattern);
  }();
  return base;
}

// ------------------------------------------------------------ input

std::vector<std::string_view> chunks_of(std::string_view all) {
  std::vector<std::string_view> chunks;
  for (;;) {
    const std::size_t p = all.find(kSeparator);
    if (p == std::string_view::npos) {
      chunks.push_back(all);
      return chunks;
    }
    chunks.push_back(all.substr(0, p));
    all.remove_prefix(p + kSeparator.size());
  }
}

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (end < text.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

std::string_view columns(std::string_view line, std::size_t col, std::size_t w) {
  return col < line.size() ? line.substr(col, w) : std::string_view();
}

std::string argument_bytes(std::string_view raw) {
  std::string s(raw);
  // A command-line argument cannot hold a NUL byte.
  for (char& c : s)
    if (c == '\0') c = ' ';
  return s;
}

std::string_view trim_right(std::string_view s) {
  const std::size_t last = s.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

std::string int_field(long v, int w) { return oracle::put_int(v, w, 1); }

struct Case {
  std::uint8_t flags = 0;
  std::string param;
  std::string ls_text, le_text, tag;
  std::int32_t ls = 0, le = 0;
  bool bounds_ok = false;
  std::string grid;
  // Grid sizes as the (rewritten) file gives them, when line 1 reads.
  bool sizes_ok = false;
  std::int32_t nlon = 0, nlat = 0, nz = 0;
};

// Rewrites line 1 of the grid so that the run stays small.
void cap_grid(Case& c) {
  std::vector<std::string_view> lines = lines_of(c.grid);
  if (lines.empty()) return;
  const std::string_view l1 = lines[0];
  std::int32_t nlon = 0, nlat = 0, nz = 0;
  if (!oracle::read_int(columns(l1, 16, 5), nlon) || !oracle::read_int(columns(l1, 21, 5), nlat) ||
      !oracle::read_int(columns(l1, 26, 5), nz))
    return;
  c.sizes_ok = true;
  c.nlon = nlon;
  c.nlat = nlat;
  c.nz = nz;
  if (nlon < 1 || nlat < 1 || nz < 1 || nz > 9999) return;  // the run ends before any allocation
  nlon = 1 + (nlon - 1) % kMaxSide;
  nlat = 1 + (nlat - 1) % kMaxSide;
  if (nz > kMaxLayers) nz = 1 + (nz - 1) % kMaxLayers;
  long layers = 1;
  if (c.bounds_ok && c.le >= c.ls && c.ls >= 1 && c.le <= nz) layers = c.le - c.ls + 1;
  while (static_cast<long>(nlon) * nlat * layers > kMaxPointsTimesLayers) {
    if (nlon >= nlat) nlon = (nlon + 1) / 2; else nlat = (nlat + 1) / 2;
    if (nlon == 1 && nlat == 1) break;
  }
  if (nlon == c.nlon && nlat == c.nlat && nz == c.nz) return;
  c.nlon = nlon;
  c.nlat = nlat;
  c.nz = nz;
  std::string head(l1.substr(0, 16));
  head.resize(16, ' ');
  const std::string tail(l1.size() > 31 ? l1.substr(31) : std::string_view());
  const std::size_t rest = c.grid.find('\n') == std::string::npos ? c.grid.size() : c.grid.find('\n');
  // Keep a CR of a CR-LF line end.
  std::string new_l1 = head + int_field(nlon, 5) + int_field(nlat, 5) + int_field(nz, 5) + tail;
  if (rest > 0 && rest < c.grid.size() && c.grid[rest - 1] == '\r') new_l1 += '\r';
  c.grid = new_l1 + c.grid.substr(rest);
}

// Level numbers of the layers, from line 2 of the grid (0 where missing).
std::vector<std::int32_t> level_numbers(const Case& c) {
  std::vector<std::int32_t> lev;
  const std::vector<std::string_view> lines = lines_of(c.grid);
  if (lines.size() < 2 || !c.sizes_ok || c.nz < 1 || c.nz > 9999) return lev;
  for (std::int32_t k = 0; k < c.nz; ++k) {
    std::int32_t v = 0;
    if (!oracle::read_int(columns(lines[1], 16 + 4 * static_cast<std::size_t>(k), 4), v)) return {};
    lev.push_back(v);
  }
  return lev;
}

// ------------------------------------------------------------ checks

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

bool starts_with(const std::string& s, std::string_view head) { return s.compare(0, head.size(), head) == 0; }

int stop_lines(const std::string& out) {
  int n = 0;
  for (const std::string& l : split_lines(out)) {
    if (starts_with(l, " STOP (") || starts_with(l, " Error !! Too many files in list")) ++n;
  }
  return n;
}

// The integers of a free-format line after its text head.
std::vector<long> free_integers(const std::string& line, std::size_t from) {
  std::vector<long> v;
  std::istringstream s(line.substr(from));
  long x;
  while (s >> x) v.push_back(x);
  return v;
}

struct LayerNumbers {
  long nwater = -1;
  long ksum = -1;
  std::string kpct;  // fixed(8.3) of the fraction
};

void check_summary(const Case& c, const std::string& out, const std::string& summary) {
  // Per layer: water points, and the covered points of the assessed layers.
  std::map<long, LayerNumbers> layers;
  for (const std::string& l : split_lines(out)) {
    static const std::string water = " ilayer, Npoints: ";
    static const std::string assessed = " Ilayer, Nwater, Ksum, Kpct : ";
    if (starts_with(l, water)) {
      const std::vector<long> v = free_integers(l, water.size());
      FUZZ_CHECK(v.size() == 2, "water-point line " + fuzz::shown(l));
      layers[v[0]].nwater = v[1];
    } else if (starts_with(l, assessed) && l.size() == assessed.size() + 32) {
      const long k = std::atol(l.substr(assessed.size(), 4).c_str());
      const long nwater = std::atol(l.substr(assessed.size() + 4, 10).c_str());
      FUZZ_CHECK(layers[k].nwater == nwater, "assessment line disagrees with the water points: " + fuzz::shown(l));
      layers[k].ksum = std::atol(l.substr(assessed.size() + 14, 10).c_str());
      layers[k].kpct = l.substr(assessed.size() + 24, 8);
    }
  }

  const std::vector<std::string> lines = split_lines(summary);
  const long rows = c.le >= c.ls ? c.le - c.ls + 1 : 0;
  FUZZ_CHECK(!summary.empty() && summary.back() == '\n', "summary does not end with a line feed");
  FUZZ_CHECK(static_cast<long>(lines.size()) == 9 + rows,
             "summary has " + std::to_string(lines.size()) + " lines for " + std::to_string(rows) + " layers");
  FUZZ_CHECK(lines[0] == " *** Summary from Observational Network assessment ***", "summary line 1");
  FUZZ_CHECK(lines[1] == " Grid Setup : west,east,south,north,dlon,dlat:", "summary line 2");
  FUZZ_CHECK(lines[2].size() == 60 && lines[2].compare(0, 12, std::string(12, ' ')) == 0, "summary line 3 " + fuzz::shown(lines[2]));
  FUZZ_CHECK(lines[3] == " Grid Setup : nlat,nlon,ilayer,ntimes", "summary line 4");
  FUZZ_CHECK(lines[4] == std::string(14, ' ') + int_field(c.nlat, 6) + int_field(c.nlon, 6) + int_field(0, 6) + int_field(1, 6),
             "summary line 5 " + fuzz::shown(lines[4]));
  FUZZ_CHECK(lines[5] == " Validating model domain : Fz and parameter " + std::string(trim_right(c.param)),
             "summary line 6 " + fuzz::shown(lines[5]));
  FUZZ_CHECK(lines[6] == " From layer  " + int_field(c.ls, 12) + "  to layer  " + int_field(c.le, 12),
             "summary line 7 " + fuzz::shown(lines[6]));
  FUZZ_CHECK(lines[7] == " " + std::string(45, '-'), "summary line 8");
  FUZZ_CHECK(lines[8] == " Ilayer, total number of water points, effective coverage", "summary line 9");
  for (long r = 0; r < rows; ++r) {
    const long k = c.ls + r;
    const LayerNumbers& n = layers[k];
    FUZZ_CHECK(n.nwater >= 0 && n.ksum >= 0, "layer " + std::to_string(k) + " has no water-point or assessment line");
    const float kpct = static_cast<float>(n.ksum) / static_cast<float>(n.nwater);
    FUZZ_CHECK(n.kpct == oracle::put_fixed(kpct, 8, 3), "Kpct of layer " + std::to_string(k) + " shown as " + fuzz::shown(n.kpct));
    const std::string want = " Ilayer, Nwater, Eff coverage (%) : " + int_field(k, 4) + int_field(n.nwater, 10) +
                             oracle::put_fixed(kpct * 100.0f, 8, 3);
    const std::string& got = lines[static_cast<std::size_t>(9 + r)];
    FUZZ_CHECK(got == want, "summary row " + fuzz::shown(got) + " expected " + fuzz::shown(want));
  }
}

struct Outcome {
  int status = -1;
  std::string out, err;
  Listing results;
};

Outcome run_once(const std::vector<std::string>& args, const kelvo::legacy::BaseDirs& dirs, const fs::path& results,
                 kelvo::Evaluation how) {
  textio::Console console;
  Outcome o;
  o.status = kelvo::legacy::run_kelvo_brino(args, dirs, console, how);
  o.out = console.out;
  o.err = console.err;
  o.results = listing(results);
  return o;
}

void check_outcome(const Case& c, const Outcome& o, const Listing& before, const std::string& summary_name) {
  FUZZ_CHECK(o.status == 0 || o.status == 2, "exit status " + std::to_string(o.status));
  const int stops = stop_lines(o.out);
  FUZZ_CHECK(stops == (o.status == 2 ? 1 : 0), "status " + std::to_string(o.status) + " with " + std::to_string(stops) +
                                                   " stop lines; output:\n" + o.out);
  if (o.status == 0) {
    Listing expected = before;
    const auto it = o.results.find(summary_name);
    FUZZ_CHECK(it != o.results.end(), "status 0 without the summary " + summary_name + "; output:\n" + o.out);
    expected[summary_name] = it->second;
    FUZZ_CHECK(o.results == expected, "status 0 left other changes in the results directory");
    check_summary(c, o.out, it->second);
  } else {
    FUZZ_CHECK(o.results == before, "a failed run changed the results directory; output:\n" + o.out);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> chunks =
      chunks_of(std::string_view(reinterpret_cast<const char*>(data), size));
  const auto chunk = [&](std::size_t n) -> const std::string_view* { return n < chunks.size() ? &chunks[n] : nullptr; };

  Case c;
  fuzz::ByteReader ctl{reinterpret_cast<const std::uint8_t*>(chunks[0].data()), chunks[0].size()};
  c.flags = ctl.byte();
  static const char* const params[] = {"salt", "temp", "Salt", ""};
  c.param = params[ctl.byte() % 4];
  c.ls_text = argument_bytes(ctl.take(2));
  c.le_text = argument_bytes(ctl.take(2));
  c.tag = argument_bytes(ctl.take(6));
  c.bounds_ok = oracle::read_int(c.ls_text, c.ls) && oracle::read_int(c.le_text, c.le);
  if (chunk(1) != nullptr) {
    c.grid = std::string(*chunk(1));
    cap_grid(c);
  }

  const fs::path root = base_dir() / "r";
  std::error_code ec;
  fs::remove_all(root, ec);
  const fs::path asc = root / "S" / "Fz_ASC";
  fs::create_directories(asc);
  fs::path results = root / "R";
  if (c.flags & 0x10) {
    write_file(root / "F", "a regular file\n");
    results = root / "F" / "R";
  } else if (!(c.flags & 0x04)) {
    fs::create_directories(results);
  }
  const std::string stem = "Fz_" + c.param;
  // Without the sixth argument the run tag is blank.
  const std::string tag = (c.flags & 0x03) == 1 || (c.flags & 0x03) == 2 ? std::string() : c.tag;
  const std::string summary_name = stem + "_cover_summary_" +
                                   std::string(trim_right(std::string_view(tag).substr(0, 5))) + ".asc";
  if (fs::is_directory(results)) {
    // A run tag with a "/" names a file in a directory that does not exist;
    // no older summary can be there.
    if ((c.flags & 0x08) && summary_name.find('/') == std::string::npos)
      write_file(results / summary_name, "an older summary\n");
    if (c.flags & 0x20) write_file(results / "notes.txt", "not the tool's\n");
  }

  if (chunk(1) != nullptr) write_file(asc / "Fz_grid_cfg", c.grid);
  fs::path meta = root / "meta.lst";
  if ((c.flags & 0x03) == 3) {
    meta = root / "metadir";
    fs::create_directory(meta);
  } else if (chunk(2) != nullptr && !(c.flags & 0x40)) {
    write_file(meta, *chunk(2));
  }
  const char comp[3] = {'x', 'y', 't'};
  for (int m = 0; m < 3; ++m) {
    if (chunk(3 + m) != nullptr) write_file(asc / (stem + "_power_" + comp[m] + ".dat"), *chunk(3 + m));
  }
  const std::size_t nscale = chunks.size() > 6 ? chunks.size() - 6 : 0;
  const std::vector<std::int32_t> lev = level_numbers(c);
  if (nscale > 0 && c.bounds_ok && !lev.empty() && c.ls >= 1 && c.le <= c.nz) {
    for (std::int32_t k = c.ls; k <= c.le; ++k) {
      for (int m = 0; m < 3; ++m) {
        const std::size_t n = 6 + (static_cast<std::size_t>(k - c.ls) * 3 + static_cast<std::size_t>(m)) % nscale;
        const std::string level = oracle::put_int(lev[static_cast<std::size_t>(k - 1)], 2, 2);
        write_file(asc / (stem + "_scale_lev" + level + "_" + comp[m] + ".dat"), chunks[n]);
      }
    }
  }

  std::vector<std::string> args{"kelvo_brino", "Fz", c.param, c.ls_text, c.le_text, meta.string(), c.tag};
  if ((c.flags & 0x03) == 1) args.resize(6);
  if ((c.flags & 0x03) == 2) args.resize(5);
  const kelvo::legacy::BaseDirs dirs{(root / "S").string() + "/", results.string() + "/"};

  const Listing before = listing(results);
  const Outcome fast = run_once(args, dirs, results, kelvo::Evaluation::fast);
  // KELVO_FUZZ_SHOW=1 prints each run (for looking at a corpus input).
  static const bool show = std::getenv("KELVO_FUZZ_SHOW") != nullptr;
  if (show) {
    std::fprintf(stderr, "---- status %d\n%s%s", fast.status, fast.out.c_str(), fast.err.c_str());
    const auto it = fast.results.find(summary_name);
    if (fast.status == 0 && it != fast.results.end()) std::fprintf(stderr, "---- %s\n%s", summary_name.c_str(), it->second.c_str());
  }
  check_outcome(c, fast, before, summary_name);
  restore(results, before);
  const Outcome exhaustive = run_once(args, dirs, results, kelvo::Evaluation::exhaustive);
  FUZZ_CHECK(fast.status == exhaustive.status && fast.out == exhaustive.out && fast.err == exhaustive.err &&
                 fast.results == exhaustive.results,
             "fast and exhaustive evaluations differ; fast output:\n" + fast.out + "\nexhaustive output:\n" + exhaustive.out);
  return 0;
}
