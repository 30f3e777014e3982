// Bad input: one table of inputs that are missing, unreadable, empty, too
// short, not numbers, out of range, too large, too many, or odd in their
// bytes, each run through the whole tool in-process on a small domain, with
// the line it must print on standard output and its exit status.
//
// Every case starts from one valid domain, "Bad" (written character by
// character below), changes one thing and runs the tool. Then:
// - the exit status is the expected one;
// - a line of standard output starts with the expected words (for a failure
//   the stop line, which comes last: nothing but its own continuation lines
//   follows it); texts the case names (the file, the sizes, `ilat`) appear
//   in the output from that line on;
// - standard error is empty, or holds the expected words;
// - a failed run leaves every file of the case exactly as it was (no summary,
//   no temporary file, an older summary untouched); a complete run adds the
//   summary of its name and nothing else;
// - cases marked "as plain" give byte for byte the output and summary of the
//   valid domain (CR-LF line ends, no final line feed, bytes that are never
//   read).
//
// The valid domain: 3 x 2 points (longitudes 0, 1, 2; latitudes 50, 51), 2
// layers with level numbers 1 and 2, every scale 1.0 and every exponent 1.0,
// and one repeating salinity observation of kind 1 at 50 N 1 E. Only the
// point (2, 1) lies within reach: 1 degree of longitude at 50 N is
// 111.12 * cos(50 degrees) = 71.4 km, a weight of exp(-71.4); 1 degree of
// latitude is 111.12 km. So each layer has Nwater 6, Ksum 1 and Kpct 1/6,
// shown as 0.167.
//
// A command-line argument cannot hold a NUL byte (the arguments reach a
// program as C strings), so NUL bytes are tried in files only.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/hand_lines.hpp"
#include "support/run_support.hpp"
#include "textio/line_reader.hpp"

namespace {

namespace fs = std::filesystem;
using hand::int_w;

// ------------------------------------------------------------ the domain

const std::string kGridLine1 = "nlon,nlat,nz    " + int_w(3, 5) + int_w(2, 5) + int_w(2, 5);
const std::string kGridLine2 = "levels          " + int_w(1, 4) + int_w(2, 4);
const std::string kGridLine3 = "w,e,s,n         " + std::string("  0.00000  2.00000 50.00000 51.00000");
const std::string kGridLine4 = "dlon,dlat       " + std::string("  1.00000  1.00000");
const std::string kScaleRow = " 1.00000 1.00000 1.00000";
const std::string kPowerLine = " 1.00000 1.00000";
// Latitude, longitude, date hhddmmyyyy, frequency 365 a year, two unused
// fields, temperature and salinity flags, kind code: 52 columns.
const std::string kObs = std::string(" 50.0000") + "   1.0000" + "0001012004" + "  365" + "   0" +
                         "         0" + " 1" + " 1" + " 1";
const char kComps[3] = {'x', 'y', 't'};

// The edges of the grid line that read_grid_cfg prints (fixed(9.5) fields).
const std::string kGridLineShown = " 50.00000 51.00000";

std::string lines(const std::vector<std::string>& ls) { return hand::joined(ls); }
std::string int12(long long v) { return int_w(v, 12); }

// The assessment line of a layer of the valid domain.
std::string assessed_line(int layer) {
  return " Ilayer, Nwater, Ksum, Kpct : " + int_w(layer, 4) + int_w(6, 10) + int_w(1, 10) + "   0.167";
}

struct Bench {
  kelvo_test::TempDir root;
  std::string domain = "Bad";
  std::string param = "salt";
  std::string tag = "t1";  // as the summary's name shows it
  fs::path results = root.path / "BRINO_results";
  std::vector<std::string> args;  // after the program path
  std::string mounted;            // a file system mounted for the case

  Bench() {
    write_domain();
    fs::create_directories(results);
    kelvo_test::write_file(meta(), kObs + "\n");
    args = {domain, param, "1", "2", meta().string(), "t1"};
  }
  ~Bench() {
    if (!mounted.empty()) umount2(mounted.c_str(), MNT_DETACH);
  }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  fs::path scale_dir() const { return root.path / "BRINO_S"; }
  fs::path asc() const { return scale_dir() / (domain + "_ASC"); }
  fs::path grid() const { return asc() / (domain + "_grid_cfg"); }
  fs::path scale(int lev, char c) const {
    return asc() / (domain + "_" + param + "_scale_lev" + (lev < 10 ? "0" : "") + std::to_string(lev) + "_" + c + ".dat");
  }
  fs::path power(char c) const { return asc() / (domain + "_" + param + "_power_" + c + ".dat"); }
  fs::path meta() const { return root.path / "meta.lst"; }
  kelvo::legacy::BaseDirs dirs() const { return {scale_dir().string() + "/", results.string() + "/"}; }
  std::string summary_name() const { return domain + "_" + param + "_cover_summary_" + tag + ".asc"; }

  void write_domain() {
    kelvo_test::write_file(grid(), lines({kGridLine1, kGridLine2, kGridLine3, kGridLine4}));
    for (int lev : {1, 2})
      for (char c : kComps) kelvo_test::write_file(scale(lev, c), lines({kScaleRow, kScaleRow}));
    for (char c : kComps) kelvo_test::write_file(power(c), lines({kPowerLine}));
  }
  // Every input file of the run.
  std::vector<fs::path> input_files() const {
    std::vector<fs::path> files{grid(), meta()};
    for (int lev : {1, 2})
      for (char c : kComps) files.push_back(scale(lev, c));
    for (char c : kComps) files.push_back(power(c));
    return files;
  }
};

void put(const fs::path& p, const std::string& content) { kelvo_test::write_file(p, content); }

std::string contents(const fs::path& p) { return kelvo_test::read_file(p); }

// Replace every occurrence of `from` in a file.
void edit(const fs::path& p, const std::string& from, const std::string& to) {
  std::string s = contents(p);
  std::size_t at = s.find(from);
  ASSERT_NE(at, std::string::npos) << from << " not in " << p;
  for (; at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
  put(p, s);
}

// ------------------------------------------------------------ the table

struct BadInput {
  std::string name;
  // Changes the valid domain; returns a reason to skip the case, or "".
  std::function<std::string(Bench&)> prepare;
  std::string first_words;  // a line of standard output starts with these
  int status;
  // Texts the output holds from that line on (file names, sizes, ilat).
  std::function<std::vector<std::string>(const Bench&)> names = {};
  std::vector<std::string> absent = {};  // texts standard output must not hold
  std::string error_words = {};          // standard error holds these ("" : nothing)
  bool as_plain = false;                 // output and summary as the valid domain gives them
};

using Names = std::vector<std::string>;

std::string no_change(Bench&) { return ""; }

// Skips a case that relies on file permissions when they do not hold.
std::string needs_permissions() {
  return geteuid() == 0 ? "running as root, which reads and writes whatever the permission bits say" : "";
}

// The ways a file of the run can fail to be there or to be readable.
struct Unreadable {
  const char* how;
  std::function<std::string(const fs::path&)> make;
};
const std::vector<Unreadable>& unreadable_ways() {
  static const std::vector<Unreadable> ways = {
      {"Missing", [](const fs::path& p) { fs::remove(p); return std::string(); }},
      {"ADirectory", [](const fs::path& p) { fs::remove(p); fs::create_directory(p); return std::string(); }},
      {"ASymlinkLoop",
       [](const fs::path& p) { fs::remove(p); fs::create_symlink(p.filename(), p); return std::string(); }},
      {"WithoutReadPermission",
       [](const fs::path& p) {
         fs::permissions(p, fs::perms::none);
         return needs_permissions();
       }},
  };
  return ways;
}

// A text of exactly n characters: cut or blank-padded.
std::string textio_padded(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

// The files of the run, each with the stop line that its failure to open
// gives and the name that line shows.
struct FileKind {
  const char* name;
  std::function<fs::path(const Bench&)> path;
  const char* open_failure;
  std::function<std::string(const Bench&)> shown_name;
};
const std::vector<FileKind>& file_kinds() {
  static const std::vector<FileKind> kinds = {
      {"GridCfg", [](const Bench& b) { return b.grid(); }, " STOP (read_grid_cfg)",
       [](const Bench& b) { return b.scale_dir().string() + "//Bad_ASC/Bad_grid_cfg"; }},
      {"ScaleX", [](const Bench& b) { return b.scale(2, 'x'); }, " STOP (get_grid) Error in opening file***",
       [](const Bench& b) { return b.scale(2, 'x').string(); }},
      {"ScaleY", [](const Bench& b) { return b.scale(1, 'y'); }, " STOP (get_grid) Error in opening file***",
       [](const Bench& b) { return b.scale(1, 'y').string(); }},
      {"ScaleT", [](const Bench& b) { return b.scale(1, 't'); }, " STOP (get_grid) Error in opening file***",
       [](const Bench& b) { return b.scale(1, 't').string(); }},
      {"PowerX", [](const Bench& b) { return b.power('x'); }, " STOP (get_grid) Error in opening file***",
       [](const Bench& b) { return b.power('x').string(); }},
      {"PowerY", [](const Bench& b) { return b.power('y'); }, " STOP (get_grid) Error in opening file***",
       [](const Bench& b) { return b.power('y').string(); }},
      {"PowerT", [](const Bench& b) { return b.power('t'); }, " STOP (get_grid) Error in opening file***",
       [](const Bench& b) { return b.power('t').string(); }},
      // The list's line shows metadata_file with all its 100 characters.
      {"Metadata", [](const Bench& b) { return b.meta(); }, " STOP (read_metadata) Error in opening file***",
       [](const Bench& b) { return textio_padded(b.meta().string(), 100); }},
  };
  return kinds;
}

// A metadata list of n copies of the observation.
std::string list_of(std::size_t n) {
  std::string s;
  s.reserve(n * (kObs.size() + 1));
  for (std::size_t i = 0; i < n; ++i) s += kObs + "\n";
  return s;
}

std::uint64_t physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) : 0;
}

// A grid whose scale field (3 components, the 99 layers of the range 1 to
// 99) needs more bytes than the machine has: the run must stop before the
// allocation line, with the size in its message.
BadInput too_large(const char* name, long nlon, long nlat, long nz) {
  const std::uint64_t values = 3ull * static_cast<std::uint64_t>(nlon) * static_cast<std::uint64_t>(nlat) * 99ull;
  return {name,
          [=](Bench& b) {
            if (physical_memory() >= values * 4) return std::string("this machine has memory for the whole field");
            put(b.grid(), lines({"nlon,nlat,nz    " + int_w(nlon, 5) + int_w(nlat, 5) + int_w(nz, 5), kGridLine2,
                                 kGridLine3, kGridLine4}));
            b.args[2] = "1";
            b.args[3] = "99";
            return std::string();
          },
          " STOP (alloc_domain)", 2,
          [=](const Bench&) { return Names{std::to_string(values) + " values", std::to_string(values * 4) + " bytes"}; },
          {"allocating with"}};
}

// Grid sizes that end the run as soon as line 1 is read.
BadInput bad_sizes(const char* name, int nlon, int nlat, int nz) {
  return {name,
          [=](Bench& b) {
            put(b.grid(), lines({"nlon,nlat,nz    " + int_w(nlon, 5) + int_w(nlat, 5) + int_w(nz, 5), kGridLine2,
                                 kGridLine3, kGridLine4}));
            return std::string();
          },
          " STOP (read_grid_cfg)", 2,
          [=](const Bench& b) { return Names{b.grid().filename().string(), int12(nlon), int12(nlat), int12(nz)}; },
          {"allocating with", kGridLineShown}};
}

BadInput layer_range(const char* name, const char* first, const char* last, long shown_first, long shown_last) {
  return {name,
          [=](Bench& b) {
            b.args[2] = first;
            b.args[3] = last;
            return std::string();
          },
          " STOP (check_layer_range)", 2,
          [=](const Bench&) { return Names{int12(shown_first), int12(shown_last), int12(2)}; },
          {"allocating with"}};
}

BadInput grid_line(const char* name, int line, const std::string& text, const char* reason_words) {
  return {name,
          [=](Bench& b) {
            std::vector<std::string> ls{kGridLine1, kGridLine2, kGridLine3, kGridLine4};
            ls[static_cast<std::size_t>(line - 1)] = text;
            put(b.grid(), lines(ls));
            return std::string();
          },
          " STOP (read_grid_cfg)", 2,
          [=](const Bench& b) { return Names{b.grid().filename().string(), reason_words}; },
          {"allocating with", kGridLineShown}};
}

// A scale or exponent file with other contents, and the get_grid line that
// follows: "End of file reached, ilat: " ilat name, or "Error when reading
// file***" name ilat.
BadInput grid_file(const char* name, std::function<fs::path(const Bench&)> path, std::string content,
                   bool end_of_file, long ilat) {
  return {name,
          [=](Bench& b) {
            put(path(b), content);
            return std::string();
          },
          end_of_file ? " STOP (get_grid) End of file reached, ilat:" : " STOP (get_grid) Error when reading file***", 2,
          [=](const Bench& b) { return Names{path(b).string(), int12(ilat)}; }};
}

std::vector<BadInput> bad_inputs() {
  std::vector<BadInput> t;

  // The valid domain itself, so that every other case changes one thing.
  t.push_back({"ValidDomain", no_change, assessed_line(2), 0});

  // ---- files that cannot be opened, of every kind
  for (const FileKind& k : file_kinds()) {
    for (const Unreadable& u : unreadable_ways()) {
      t.push_back({std::string(k.name) + u.how,
                   [&k, &u](Bench& b) { return u.make(k.path(b)); },
                   k.open_failure, 2,
                   [&k](const Bench& b) { return Names{k.shown_name(b)}; }});
    }
  }
  // Four arguments: the list name is blank and cannot be opened.
  t.push_back({"MetadataArgumentMissing",
               [](Bench& b) {
                 b.args.resize(4);
                 return std::string();
               },
               " STOP (read_metadata) Error in opening file***", 2,
               [](const Bench&) { return Names{"\n" + std::string(101, ' ') + "\n"}; }});

  // ---- empty files
  t.push_back({"GridCfgEmpty", [](Bench& b) { put(b.grid(), ""); return std::string(); }, " STOP (read_grid_cfg)", 2,
               [](const Bench& b) { return Names{b.grid().filename().string(), "line 1"}; }});
  for (char c : kComps) {
    t.push_back(grid_file(c == 'x' ? "ScaleXEmpty" : c == 'y' ? "ScaleYEmpty" : "ScaleTEmpty",
                          [c](const Bench& b) { return b.scale(1, c); }, "", true, 1));
    // The exponent files come after both layers: ilat is nlat + 1.
    t.push_back(grid_file(c == 'x' ? "PowerXEmpty" : c == 'y' ? "PowerYEmpty" : "PowerTEmpty",
                          [c](const Bench& b) { return b.power(c); }, "", true, 3));
  }
  t.push_back({"MetadataEmpty", [](Bench& b) { put(b.meta(), ""); return std::string(); },
               " Nobs in metadata  " + int12(0), 0});

  // ---- lines too short, files too short
  t.push_back({"GridCfgThreeLines",
               [](Bench& b) { put(b.grid(), lines({kGridLine1, kGridLine2, kGridLine3})); return std::string(); },
               " STOP (read_grid_cfg)", 2, [](const Bench& b) { return Names{b.grid().filename().string(), "line 4"}; }});
  // nlat and nz run past the end of line 1: they read as 0.
  t.push_back(grid_line("GridCfgLine1Short", 1, "nlon,nlat,nz        3", "nlon,nlat,nz"));
  // Level numbers past the end of line 2 read as 0: the file of level 00.
  t.push_back({"GridCfgLine2Short",
               [](Bench& b) {
                 put(b.grid(), lines({kGridLine1, "levels             1", kGridLine3, kGridLine4}));
                 return std::string();
               },
               " STOP (get_grid) Error in opening file***", 2,
               [](const Bench& b) { return Names{b.scale(0, 'x').string()}; }});
  t.push_back(grid_file("ScaleYOneLineOfTwo", [](const Bench& b) { return b.scale(2, 'y'); }, kScaleRow + "\n", true, 2));
  t.push_back(grid_file("ScaleXOneLineOfTwo", [](const Bench& b) { return b.scale(1, 'x'); }, kScaleRow + "\n", true, 2));
  // A short scale line reads zeros for its missing fields: the first file's
  // values are 1, 1, 0 and 1, 1, 1, a mean of 5/6 over 6 values.
  t.push_back({"ScaleLineShort",
               [](Bench& b) { put(b.scale(1, 'x'), lines({" 1.00000 1.00000", kScaleRow})); return std::string(); },
               "   0.833" + std::string(2, ' ') + int_w(6, 8) + " ", 0, [](const Bench& b) { return Names{b.scale(1, 'x').string()}; }});
  // A short list line: the flags read as 0, so the record is dropped.
  t.push_back({"MetadataLineShort",
               [](Bench& b) { put(b.meta(), " 50.0000   1.0000\n"); return std::string(); },
               " No par match in metadata: i,salt,temp,param: " + int12(1), 0});

  // ---- fields that are not numbers, in every kind of file
  t.push_back(grid_line("GridCfgSizeNotANumber", 1, "nlon,nlat,nz        3    x    2", "line 1"));
  t.push_back(grid_line("GridCfgLevelNotANumber", 2, "levels             1  a2", "line 2"));
  t.push_back(grid_line("GridCfgEdgeNotANumber", 3, "w,e,s,n           0.00000  2.0.000 50.00000 51.00000", "line 3"));
  t.push_back(grid_line("GridCfgStepNotANumber", 4, "dlon,dlat         1.00000  one    ", "line 4"));
  for (char c : kComps) {
    t.push_back(grid_file(c == 'x' ? "ScaleXNotANumber" : c == 'y' ? "ScaleYNotANumber" : "ScaleTNotANumber",
                          [c](const Bench& b) { return b.scale(2, c); },
                          lines({kScaleRow, " 1.00000 1.0x000 1.00000"}), false, 2));
    t.push_back(grid_file(c == 'x' ? "PowerXNotANumber" : c == 'y' ? "PowerYNotANumber" : "PowerTNotANumber",
                          [c](const Bench& b) { return b.power(c); }, lines({" 1.00000     abc"}), false, 3));
  }
  // A list line that cannot be read ends the list; standard error says so.
  t.push_back({"MetadataFieldNotANumber",
               [](Bench& b) {
                 put(b.meta(), lines({kObs, " 5O.0000" + kObs.substr(8), kObs}));
                 return std::string();
               },
               " Nobs in metadata  " + int12(1), 0, {}, {}, "line 2"});
  // A date text that reads as a number but not as four integers (the year
  // "2.04") of a one-time observation.
  t.push_back({"MetadataDateNotFourIntegers",
               [](Bench& b) {
                 std::string obs = kObs;
                 obs.replace(17, 10, "0001012.04");
                 obs.replace(27, 5, "    0");
                 put(b.meta(), lines({obs}));
                 return std::string();
               },
               " STOP (read_metadata)", 2, [](const Bench& b) { return Names{b.meta().string(), "line 1"}; }});

  // ---- grid sizes
  t.push_back(bad_sizes("GridOfZeroColumns", 0, 2, 2));
  t.push_back(bad_sizes("GridOfNegativeRows", 3, -3, 2));
  t.push_back(bad_sizes("GridOfZeroLayers", 3, 2, 0));
  t.push_back(bad_sizes("GridOfTenThousandLayers", 3, 2, 10000));
  t.push_back(too_large("GridTooLargeToAllocate", 9999, 9999, 9999));
  t.push_back(too_large("GridFarTooLargeToAllocate", 99999, 99999, 9999));

  // ---- layer bounds
  t.push_back(layer_range("LayerStartZero", "0", "2", 0, 2));
  t.push_back(layer_range("LayerStartNegative", "-1", "2", -1, 2));
  t.push_back(layer_range("LayerEndAboveTheGrid", "1", "3", 1, 3));
  t.push_back(layer_range("LayerEndNinetyNine", "1", "99", 1, 99));
  t.push_back({"LayerBoundNotANumber", [](Bench& b) { b.args[2] = "ab"; return std::string(); }, " STOP (get_args)", 2,
               [](const Bench&) { return Names{"ab"}; }, {"Program Running"}});
  // "1.5" is cut to its first two characters, "1.".
  t.push_back({"LayerBoundWithAPoint", [](Bench& b) { b.args[3] = "1.5"; return std::string(); }, " STOP (get_args)", 2,
               [](const Bench&) { return Names{"1."}; }, {"Program Running"}});

  // ---- list length
  t.push_back({"Metadata99999Lines", [](Bench& b) { put(b.meta(), list_of(99999)); return std::string(); },
               " Nobs in metadata  " + int12(99999), 0});
  t.push_back({"Metadata100000Lines", [](Bench& b) { put(b.meta(), list_of(100000)); return std::string(); },
               " Error !! Too many files in list, tmp array limit reached: i,maxnf", 2,
               [](const Bench&) { return Names{int12(100001), int12(100000)}; }});

  // ---- the results directory and the summary
  t.push_back({"ResultsDirectoryMissing", [](Bench& b) { fs::remove(b.results); return std::string(); },
               " STOP (write_grid) Error in opening file***", 2,
               [](const Bench& b) { return Names{(b.results / b.summary_name()).string()}; }});
  t.push_back({"ResultsPathUnderARegularFile",
               [](Bench& b) {
                 put(b.root.path / "plain_file", "not a directory\n");
                 b.results = b.root.path / "plain_file" / "BRINO_results";
                 return std::string();
               },
               " STOP (write_grid) Error in opening file***", 2,
               [](const Bench& b) { return Names{(b.results / b.summary_name()).string()}; }});
  t.push_back({"ResultsDirectoryNotWritable",
               [](Bench& b) {
                 put(b.results / b.summary_name(), "an older summary\n");
                 fs::permissions(b.results, fs::perms::owner_read | fs::perms::owner_exec);
                 return needs_permissions();
               },
               " STOP (write_grid) Error in opening file***", 2,
               [](const Bench& b) { return Names{(b.results / b.summary_name()).string()}; }});
  // A results directory on a full file system: the temporary file is
  // created but its contents cannot be written.
  t.push_back({"SummaryOnAFullFileSystem",
               [](Bench& b) {
                 if (geteuid() != 0) return std::string("mounting a small file system needs root");
                 if (mount("tmpfs", b.results.c_str(), "tmpfs", 0, "size=16k") != 0)
                   return "cannot mount a tmpfs here: " + std::string(std::strerror(errno));
                 b.mounted = b.results.string();
                 put(b.results / b.summary_name(), "an older summary\n");
                 // Fill it to the last byte.
                 std::FILE* f = std::fopen((b.results / "filler").c_str(), "wb");
                 if (f == nullptr) return std::string("cannot create the filler file");
                 const std::string block(512, 'f');
                 while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
                 }
                 std::fclose(f);
                 return std::string();
               },
               " STOP (write_summary)", 2,
               [](const Bench& b) { return Names{(b.results / b.summary_name()).string()}; }});

  // ---- arguments of 100 characters and more
  t.push_back({"DomainOf150Characters",
               [](Bench& b) { b.args[0] = std::string(150, 'D'); return std::string(); },
               " STOP (read_grid_cfg)", 2,
               [](const Bench& b) {
                 const std::string d(100, 'D');
                 return Names{b.scale_dir().string() + "//" + d + "_ASC/" + d + "_grid_cfg"};
               }});
  t.push_back({"ParameterOf120Characters",
               [](Bench& b) { b.args[1] = "salt" + std::string(116, 'p'); return std::string(); },
               " STOP (get_grid) Error in opening file***", 2,
               [](const Bench& b) {
                 return Names{(b.asc() / ("Bad_salt" + std::string(96, 'p') + "_scale_lev01_x.dat")).string()};
               }});
  // The list's path is cut to its first 100 characters, which name nothing.
  t.push_back({"MetadataPathOf150Characters",
               [](Bench& b) {
                 const fs::path deep = b.root.path / std::string(150, 'm') / "meta.lst";
                 put(deep, kObs + "\n");
                 b.args[4] = deep.string();
                 return std::string();
               },
               " STOP (read_metadata) Error in opening file***", 2,
               [](const Bench& b) { return Names{b.args[4].substr(0, 100) + "\n"}; }});
  // A run tag keeps its first five characters; a bound its first two.
  t.push_back({"RunTagOf120Characters",
               [](Bench& b) {
                 b.args[5] = "t1" + std::string(118, 'r');
                 b.tag = "t1rrr";
                 return std::string();
               },
               assessed_line(2), 0, {}, {}, {}, false});
  t.push_back({"LayerBoundOf120Characters",
               [](Bench& b) { b.args[3] = "2" + std::string(119, ' '); return std::string(); },
               assessed_line(2), 0, {}, {}, {}, true});

  // ---- bytes other than printable ASCII
  t.push_back(grid_line("GridCfgNulInASize", 1, "nlon,nlat,nz        3" + std::string("   \0", 4) + std::string("2    2"),
                        "line 1"));
  t.push_back(grid_file("ScaleNulInAField", [](const Bench& b) { return b.scale(1, 't'); },
                        lines({" 1.00000 1.0" + std::string(1, '\0') + "000 1.00000", kScaleRow}), false, 1));
  t.push_back(grid_file("ScaleNonAsciiInAField", [](const Bench& b) { return b.scale(2, 'y'); },
                        lines({kScaleRow, " 1.00000 1.00\xC3\xA9 1.00000"}), false, 2));
  t.push_back(grid_file("PowerNonAsciiInAField", [](const Bench& b) { return b.power('y'); },
                        lines({" 1.00000 \xFF.00000"}), false, 3));
  t.push_back({"MetadataNulInAField",
               [](Bench& b) { put(b.meta(), lines({std::string(" 50.00\0" "0", 8) + kObs.substr(8)})); return std::string(); },
               " Nobs in metadata  " + int12(0), 0, {}, {}, "line 1"});
  t.push_back(grid_file("ScaleLoneCarriageReturn", [](const Bench& b) { return b.scale(1, 'y'); },
                        lines({" 1.00000\r1.00000 1.00000", kScaleRow}), false, 1));
  // ---- a "/" in a name ends the run before any file is opened, though the
  // names would reach the domain's files (folders x in BRINO_S, Bad_ASC, results).
  const auto with_slash = [](const char* name, std::size_t arg, const char* value, const std::string& message) {
    return BadInput{name, [=](Bench& b) {
      for (const fs::path& d : {b.scale_dir() / "x", b.asc() / "x", b.results / "x", b.results / "Bad_salt_cover_summary_"})
        fs::create_directories(d);
      b.args[arg] = value;
      return std::string(); }, " STOP (get_args) " + message + "\n", 2, {}, {kGridLineShown, "allocating with"}};
  };
  t.push_back(with_slash("DomainWithASlash", 0, "x/../Bad", "Domain may not hold \"/\": x/../Bad"));
  t.push_back(with_slash("ParameterWithASlash", 1, "x/../salt  ", "Par may not hold \"/\": x/../salt"));
  t.push_back(with_slash("RunTagWithASlash", 5, "/../t1", "run_tag may not hold \"/\": /../t"));
  // ---- a line not ended within 1 MiB cannot be read: a device or a file
  // without line ends is not read to its end; a line up to the limit (with its
  // CR-LF) reads as before, one byte more is too long.
  const std::string past_limit(std::size_t{2} << 20, ' ');
  const auto to_limit = [](const std::string& l) { return l + std::string(textio::max_line_length - l.size(), ' '); };
  for (const std::string device : {"zero", "urandom"})
    t.push_back({"MetadataDev_" + device, [=](Bench& b) { b.args[4] = "/dev/" + device; return std::string(); },
                 " Nobs in metadata", 0, {}, {}, "is not a metadata record"});
  t.push_back({"MetadataWithoutLineEndsAfterLine1", [](Bench& b) { fs::resize_file(b.meta(), 3 << 20); return std::string(); },
               " Nobs in metadata  " + int12(1), 0, {}, {}, "line 2 is not"});
  t.push_back(grid_file("ScaleLineOf2MiB", [](const Bench& b) { return b.scale(1, 'x'); }, lines({kScaleRow + past_limit, kScaleRow}), false, 1));
  t.push_back(grid_line("GridCfgLineOf2MiB", 3, kGridLine3 + past_limit, "line 3"));
  t.push_back(grid_file("ScaleLineOneByteTooLong", [](const Bench& b) { return b.scale(1, 'x'); }, lines({kScaleRow, to_limit(kScaleRow) + " \r"}), false, 2));
  t.push_back({"LinesOfTheLongestLengthReadAsBefore", [=](Bench& b) {
                 put(b.grid(), lines({kGridLine1, kGridLine2, to_limit(kGridLine3), kGridLine4}));
                 put(b.scale(2, 'y'), lines({to_limit(kScaleRow), kScaleRow}));
                 put(b.meta(), to_limit(kObs) + "\r\n");
                 return std::string(); }, assessed_line(2), 0, {}, {}, {}, true});
  // Bytes in columns that are never read change nothing: a label of line 1
  // with non-ASCII and NUL bytes (16 bytes still), text after column 52 of a
  // list line, after the last field of a scale line and of an exponent line.
  t.push_back({"BytesOutsideTheFieldsChangeNothing",
               [](Bench& b) {
                 edit(b.grid(), "nlon,nlat,nz    ", std::string("n\xC3\xA9lon\0lat,nz   ", 16));
                 edit(b.meta(), kObs, kObs + " \xE2\x80\x94 station \xC3\x85land\t" + std::string(1, '\0') + "end");
                 edit(b.scale(1, 'x'), kScaleRow + "\n", kScaleRow + std::string("\xFF\xFE\0\n", 4));
                 edit(b.power('t'), kPowerLine, kPowerLine + " \xC3\xBC");
                 return std::string();
               },
               assessed_line(2), 0, {}, {}, {}, true});
  // A domain code with non-ASCII bytes names files with those bytes.
  t.push_back({"DomainWithNonAsciiBytes",
               [](Bench& b) {
                 b.domain = "B\xC3\xA4" "d";
                 b.write_domain();
                 b.args[0] = b.domain;
                 return std::string();
               },
               "B\xC3\xA4" "d  salt", 0});

  // ---- line ends
  t.push_back({"CrLfLineEnds",
               [](Bench& b) {
                 for (const fs::path& p : b.input_files()) edit(p, "\n", "\r\n");
                 return std::string();
               },
               assessed_line(2), 0, {}, {}, {}, true});
  t.push_back({"NoFinalLineFeed",
               [](Bench& b) {
                 for (const fs::path& p : b.input_files()) {
                   std::string s = contents(p);
                   s.pop_back();
                   put(p, s);
                 }
                 return std::string();
               },
               assessed_line(2), 0, {}, {}, {}, true});
  return t;
}

const std::vector<BadInput>& table() {
  static const std::vector<BadInput> t = bad_inputs();
  return t;
}

// ------------------------------------------------------------ the checks

using Listing = std::map<std::string, std::string>;

// Everything under `dir`, by path relative to it.
Listing listing(const fs::path& dir) {
  Listing l;
  std::error_code ec;  // a symbolic link that loops is listed, not followed
  for (fs::recursive_directory_iterator e(dir, ec), end; e != end; e.increment(ec))
    l[e->path().lexically_relative(dir).string()] = e->is_symlink() ? "<link>" : e->is_directory() ? "<directory>" : contents(e->path());
  return l;
}

// Where a line starts with `words`, or npos.
std::size_t line_starting(const std::string& out, const std::string& words) {
  if (out.compare(0, words.size(), words) == 0) return 0;
  const std::size_t p = out.find("\n" + words);
  return p == std::string::npos ? p : p + 1;
}

class BadInputTable : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BadInputTable, MessageAndExitStatus) {
  const BadInput& c = table()[GetParam()];
  Bench b;

  kelvo_test::RunResult plain;
  std::string plain_summary;
  if (c.as_plain) {
    plain = kelvo_test::run_tool(b.args, b.dirs());
    ASSERT_EQ(plain.status, 0) << plain.out;
    plain_summary = contents(b.results / b.summary_name());
    fs::remove(b.results / b.summary_name());
  }

  const std::string skip = c.prepare(b);
  if (!skip.empty()) GTEST_SKIP() << skip;
  const Listing before = listing(b.root.path);

  const auto start = std::chrono::steady_clock::now();
  const kelvo_test::RunResult r = kelvo_test::run_tool(b.args, b.dirs());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // No case reads more than a few megabytes or allocates more than a few.
  EXPECT_LT(seconds, 30.0);

  EXPECT_EQ(r.status, c.status) << r.out;
  const std::size_t at = line_starting(r.out, c.first_words);
  ASSERT_NE(at, std::string::npos) << "no line starts with [" << c.first_words << "]; standard output:\n" << r.out;
  const std::string from_there = r.out.substr(at);
  if (c.names) {
    for (const std::string& n : c.names(b)) EXPECT_NE(from_there.find(n), std::string::npos) << "[" << n << "] not in:\n" << from_there;
  }
  for (const std::string& a : c.absent) EXPECT_EQ(r.out.find(a), std::string::npos) << "[" << a << "] in:\n" << r.out;
  if (c.error_words.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.error_words), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(b.args[4]), std::string::npos) << r.err;
  }

  const Listing after = listing(b.root.path);
  if (c.status == 0) {
    const std::string name = (b.results / b.summary_name()).lexically_relative(b.root.path).string();
    ASSERT_EQ(after.count(name), 1u) << name << " not written";
    Listing expected = before;
    expected[name] = after.at(name);
    EXPECT_EQ(after, expected) << "the run changed more than the summary";
    if (c.as_plain) {
      EXPECT_EQ(r.out, plain.out);
      EXPECT_EQ(after.at(name), plain_summary);
    }
  } else {
    // The stop line ends the output: only its own continuation lines follow.
    const std::size_t end_of_line = from_there.find('\n');
    ASSERT_NE(end_of_line, std::string::npos);
    for (std::size_t p = end_of_line + 1; p < from_there.size();) {
      EXPECT_EQ(from_there[p], ' ') << "a line after the stop line:\n" << from_there;
      const std::size_t next = from_there.find('\n', p);
      if (next == std::string::npos) break;
      p = next + 1;
    }
    EXPECT_EQ(hand::count_of(r.out, "\n STOP (") + (r.out.rfind(" STOP (", 0) == 0 ? 1 : 0) +
                  hand::count_of(r.out, " Error !! Too many files in list"),
              1u)
        << r.out;
    EXPECT_EQ(after, before) << "a failed run changed a file or a directory";
  }
}

INSTANTIATE_TEST_SUITE_P(, BadInputTable, ::testing::Range<std::size_t>(0, table().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& row) { return table()[row.param].name; });

}  // namespace
