// The grid configuration of a domain: four fixed-column lines under a
// 16-column label (sizes as int(5); level numbers as int(4); edges and steps
// as fixed(9.5)), the axes built from them, the grid line (six fixed(9.5)
// fields with nothing between them), the time-window line, and the checks of
// the grid sizes and of the layer range that end a run with status 2.
//
// Every grid file here is written character by character in the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "legacy/driver.hpp"
#include "support/hand_lines.hpp"
#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;
using kelvo_test::RunResult;

std::string label(std::string s) {
  s.resize(16, ' ');
  return s;
}

std::string blank_padded(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

std::string sizes_line(long long nlon, long long nlat, long long nz) {
  return label("nlon,nlat,nz") + hand::int_w(nlon, 5) + hand::int_w(nlat, 5) + hand::int_w(nz, 5);
}

std::string levels_line(const std::vector<int>& levels) {
  std::string s = label("levels");
  for (int l : levels) s += hand::int_w(l, 4);
  return s;
}

std::vector<int> one_to(int n) {
  std::vector<int> v;
  for (int k = 1; k <= n; ++k) v.push_back(k);
  return v;
}

// A label followed by nine-column fields given as their characters.
std::string fields_line(const std::string& lab, const std::vector<std::string>& fields) {
  std::string s = label(lab);
  for (const auto& f : fields) {
    if (f.size() != 9) throw std::logic_error("a fixed(9.5) field is 9 columns: [" + f + "]");
    s += f;
  }
  return s;
}

// Lines 3 and 4 of a grid of edges 0, 1, 0, 1 and steps 1, 1.
const std::string unit_edges = fields_line("w,e,s,n", {"  0.00000", "  1.00000", "  0.00000", "  1.00000"});
const std::string unit_steps = fields_line("dlon,dlat", {"  1.00000", "  1.00000"});
// The grid line of those values.
const std::string unit_grid_line = "  0.00000  1.00000  0.00000  1.00000  1.00000  1.00000\n";

// The time-window line: 1096.0, 2191.0 and their difference 1095.0 as
// free-format reals (7 significant digits in 11 columns, then 4 blanks).
const std::string time_window_line =
    hand::free_lines({hand::real15("   1096.000    "), hand::real15("   2191.000    "),
                      hand::real15("   1095.000    ")});

std::string allocation_line(long long nlon, long long nlat, long long nz) {
  return hand::free_lines({hand::text("allocating with nlon,nlat,nz: "), hand::integer(nlon),
                           hand::integer(nlat), hand::integer(nz)});
}

// A scale directory with the grid configuration of domain "Tst".
struct GridDir {
  kelvo_test::TempDir root;
  std::string domain = "Tst";
  fs::path scale_dir() const { return root.path / "BRINO_S"; }
  kelvo::legacy::BaseDirs dirs() const {
    return {scale_dir().string() + "/", (root.path / "BRINO_results").string() + "/"};
  }
  // The file as the tool names it: scale_dir (ending in "/"), "/", the
  // domain, "_ASC/", the domain, "_grid_cfg".
  std::string cfg_name() const { return dirs().scale_dir + "/" + domain + "_ASC/" + domain + "_grid_cfg"; }
  fs::path cfg_path() const { return scale_dir() / (domain + "_ASC") / (domain + "_grid_cfg"); }
  void write(const std::string& text) const { kelvo_test::write_file(cfg_path(), text); }
  void write_lines(const std::vector<std::string>& lines) const { write(hand::joined(lines)); }
};

// read_grid_cfg called on its own run state.
struct DirectRead {
  textio::Console console;
  kelvo::legacy::Printer out{console};
  kelvo::legacy::RunState s;
  bool stopped = false;
  int status = 0;
  explicit DirectRead(const kelvo::legacy::BaseDirs& dirs) : s(dirs) {}
  void read(const std::string& domain) {
    try {
      s.settings.domain = domain;
      kelvo::legacy::read_grid_cfg(out, s);
    } catch (const kelvo::Error& e) {
      out.failure(e, s);
      stopped = true;
      status = kelvo::exit_status_of(e);
    }
  }
};

// The text of free-format lines with their wrapping undone.
std::string unwrapped(std::string s) {
  for (std::size_t p = s.find("\n "); p != std::string::npos; p = s.find("\n ", p)) s.erase(p, 2);
  return s;
}

std::string without(std::string s, const std::string& part) {
  for (std::size_t p = s.find(part); p != std::string::npos; p = s.find(part, p)) s.erase(p, part.size());
  return s;
}

// True when the magnitudes of `values` appear, in this order, among the
// runs of digits of `text`.
bool digits_in_order(const std::string& text, const std::vector<long long>& values) {
  const std::vector<std::string> runs = hand::digit_runs(text);
  std::size_t r = 0;
  for (long long v : values) {
    const std::string want = std::to_string(std::llabs(v));
    while (r < runs.size() && runs[r] != want) ++r;
    if (r == runs.size()) return false;
    ++r;
  }
  return true;
}

std::string head_lines(const std::string& start2, const std::string& end2) {
  return "Tst  salt\nProgram Running on selected leves from " + start2 + " to " + end2 + "\n";
}

// ------------------------------------------------------------ reading

TEST(GridCfgRead, ExampleGridLinesAndTimeAxis) {
  GridDir g;
  g.write_lines({sizes_line(120, 90, 40), levels_line(one_to(40)),
                 fields_line("edges", {"-20.00000", " 13.00000", " 40.00000", " 65.00000"}),
                 fields_line("steps", {"  0.10000", "  0.05000"})});
  DirectRead r(g.dirs());
  r.read("Tst");
  ASSERT_FALSE(r.stopped) << r.console.out;
  const kelvo::Grid& ds = r.s.grid;
  EXPECT_EQ(ds.nlon, 120);
  EXPECT_EQ(ds.nlat, 90);
  EXPECT_EQ(ds.nz, 40);
  ASSERT_EQ(ds.levnum.size(), 40);
  for (int k = 1; k <= 40; ++k) EXPECT_EQ(ds.level_number(k), k);
  EXPECT_EQ(ds.west, -20.0f);
  EXPECT_EQ(ds.east, 13.0f);
  EXPECT_EQ(ds.south, 40.0f);
  EXPECT_EQ(ds.north, 65.0f);
  EXPECT_EQ(ds.dlon, 0.1f);
  EXPECT_EQ(ds.dlat, 0.05f);
  // The one-entry time axis: 1 January 2004 is day 1096, 31 December 2006
  // day 2191, and (1096 + 1) - 1 = 1096.
  EXPECT_EQ(r.s.jday_start, 1096.0f);
  EXPECT_EQ(r.s.jday_end, 2191.0f);
  EXPECT_EQ(r.s.slot, 1096.0f);
  // The base directories, blank-padded to 255 characters.
  EXPECT_EQ(r.s.scale_dir, blank_padded(g.dirs().scale_dir, 255));
  EXPECT_EQ(r.s.results_dir, blank_padded(g.dirs().results_dir, 255));

  // -20.00000 fills its nine columns; 13, 40 and 65 leave one blank, 0.1
  // and 0.05 two: 9 x 6 = 54 characters.
  const std::string grid_line = "-20.00000 13.00000 40.00000 65.00000  0.10000  0.05000";
  ASSERT_EQ(grid_line.size(), 54u);
  EXPECT_EQ(r.console.out, grid_line + "\n" + time_window_line);
}

TEST(GridCfgRead, LabelsAreAnyText) {
  GridDir g;
  // Labels full of digits, signs, points and letters; only columns 17 on
  // are read.
  g.write_lines({"12345 -1.5e+3 xy" + hand::int_w(3, 5) + hand::int_w(2, 5) + hand::int_w(2, 5),
                 "9999 9999 9999 9" + hand::int_w(10, 4) + hand::int_w(20, 4),
                 "#.#.#.#.#.#.#.#." + std::string("  1.50000  3.50000 -2.00000 -1.00000"),
                 "----------------" + std::string("  1.00000  1.00000")});
  DirectRead r(g.dirs());
  r.read("Tst");
  ASSERT_FALSE(r.stopped) << r.console.out;
  EXPECT_EQ(r.s.grid.nlon, 3);
  EXPECT_EQ(r.s.grid.nlat, 2);
  EXPECT_EQ(r.s.grid.nz, 2);
  ASSERT_EQ(r.s.grid.levnum.size(), 2);
  EXPECT_EQ(r.s.grid.level_number(1), 10);
  EXPECT_EQ(r.s.grid.level_number(2), 20);
  EXPECT_EQ(r.s.grid.west, 1.5f);
  EXPECT_EQ(r.s.grid.east, 3.5f);
  EXPECT_EQ(r.s.grid.south, -2.0f);
  EXPECT_EQ(r.s.grid.north, -1.0f);
}

TEST(GridCfgRead, RealsWithAndWithoutDecimalPoint) {
  GridDir g;
  // Without a decimal point the digits are scaled by 10^-5: "48" -> 0.00048,
  // "-12345" -> -0.12345, "10000" -> 0.1, "5000" -> 0.05; blanks inside a
  // field are ignored ("4 0.5" -> 40.5); with a point, "48.0" is 48.
  g.write_lines({sizes_line(2, 2, 1), levels_line({1}),
                 fields_line("edges", {"       48", "     48.0", "   -12345", "4 0.5    "}),
                 fields_line("steps", {"    10000", "  5000   "})});
  DirectRead r(g.dirs());
  r.read("Tst");
  ASSERT_FALSE(r.stopped) << r.console.out;
  EXPECT_EQ(r.s.grid.west, 0.00048f);
  EXPECT_EQ(r.s.grid.east, 48.0f);
  EXPECT_EQ(r.s.grid.south, -0.12345f);
  EXPECT_EQ(r.s.grid.north, 40.5f);
  EXPECT_EQ(r.s.grid.dlon, 0.1f);
  EXPECT_EQ(r.s.grid.dlat, 0.05f);
  // The same values printed back to five decimals.
  EXPECT_EQ(r.console.out, "  0.00048 48.00000 -0.12345 40.50000  0.10000  0.05000\n" + time_window_line);
}

TEST(GridCfgRead, LevelNumbersOfLineTwo) {
  struct Case {
    const char* what;
    int nz;
    std::string line2;
    std::vector<int> levnum;
  };
  const std::vector<Case> cases = {
      // Missing columns read as blanks, so missing level numbers are 0.
      {"one of three", 3, label("levels") + "   5", {5, 0, 0}},
      {"label only", 2, label("levels"), {0, 0}},
      {"empty line", 2, "", {0, 0}},
      // Numbers after the nz-th are not read, whatever they hold.
      {"extra numbers", 2, label("levels") + "   7   8   9  10", {7, 8}},
      {"junk after nz", 1, label("levels") + "   3  zz", {3}},
      // Four-column fields: "  12", " 3 4" (inner blank ignored), "  -1".
      {"field boundaries", 3, label("levels") + "  12 3 4  -1", {12, 34, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GridDir g;
    g.write_lines({sizes_line(2, 2, c.nz), c.line2, unit_edges, unit_steps});
    DirectRead r(g.dirs());
    r.read("Tst");
    ASSERT_FALSE(r.stopped) << r.console.out;
    ASSERT_EQ(r.s.grid.levnum.size(), c.nz);
    for (int k = 1; k <= c.nz; ++k) EXPECT_EQ(r.s.grid.level_number(k), c.levnum[static_cast<std::size_t>(k - 1)]) << k;
    EXPECT_EQ(r.console.out, unit_grid_line + time_window_line);
  }
}

TEST(GridCfgRead, LinesAfterTheFourthAreNeverRead) {
  const std::string four = hand::joined({sizes_line(4, 3, 2), levels_line({3, 6}), unit_edges, unit_steps});
  struct Case {
    const char* what;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"junk lines", four + "this is not a grid line\n" + label("x") + "  abc  xx\n\n@@@"},
      {"a fifth line of numbers", four + sizes_line(9, 9, 9) + "\n"},
      // The last line counts even without its line feed.
      {"no final line feed", four.substr(0, four.size() - 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GridDir g;
    g.write(c.text);
    DirectRead r(g.dirs());
    r.read("Tst");
    ASSERT_FALSE(r.stopped) << r.console.out;
    EXPECT_EQ(r.s.grid.nlon, 4);
    EXPECT_EQ(r.s.grid.nlat, 3);
    EXPECT_EQ(r.s.grid.nz, 2);
    EXPECT_EQ(r.s.grid.level_number(2), 6);
    EXPECT_EQ(r.s.grid.dlat, 1.0f);
    EXPECT_EQ(r.console.out, unit_grid_line + time_window_line);
  }
}

TEST(GridCfgRead, EdgeOfMinusOneHundredOrLessPrintsAsAsterisks) {
  struct Case {
    std::vector<std::string> edges;  // read as written, with a point
    float west, east;
    std::string grid_line;
  };
  const std::vector<Case> cases = {
      // -120.00000 needs ten columns: nine asterisks instead.
      {{"-120.0000", "-60.00000", " 10.00000", " 40.00000"},
       -120.0f,
       -60.0f,
       "*********-60.00000 10.00000 40.00000  0.50000  0.25000\n"},
      {{" -99.9000", "-100.0000", " 10.00000", " 40.00000"},
       -99.9f,
       -100.0f,
       "-99.90000********* 10.00000 40.00000  0.50000  0.25000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.grid_line);
    GridDir g;
    g.write_lines({sizes_line(3, 2, 1), levels_line({1}), fields_line("edges", c.edges),
                   fields_line("steps", {"  0.50000", "  0.25000"})});
    DirectRead r(g.dirs());
    r.read("Tst");
    ASSERT_FALSE(r.stopped) << r.console.out;
    EXPECT_EQ(r.console.out, c.grid_line + time_window_line);
    // The values themselves are unaffected.
    EXPECT_EQ(r.s.grid.west, c.west);
    EXPECT_EQ(r.s.grid.east, c.east);
    EXPECT_EQ(r.s.grid.lon[0], c.west);
  }
}

TEST(GridCfgRead, AxesAreComputedFromTheIndex) {
  const std::int32_t nlon = 331, nlat = 501;
  GridDir g;
  // east and north do not enter the axes: give them values the axes do not reach.
  g.write_lines({sizes_line(nlon, nlat, 1), levels_line({1}),
                 fields_line("edges", {"-20.00000", "  5.00000", " 40.00000", " 41.00000"}),
                 fields_line("steps", {"  0.10000", "  0.05000"})});
  DirectRead r(g.dirs());
  r.read("Tst");
  ASSERT_FALSE(r.stopped) << r.console.out;
  const kelvo::Grid& ds = r.s.grid;
  ASSERT_EQ(ds.lon.size(), nlon);
  ASSERT_EQ(ds.lat.size(), nlat);
  EXPECT_EQ(ds.lon[0], -20.0f);
  EXPECT_EQ(ds.lat[0], 40.0f);

  // Each coordinate: (float)(i - 1) times the step, rounded to float, plus
  // the edge, rounded to float. Adding the step again and again gives other
  // values along the way; the data must tell the two apart.
  const float dlon = 0.1f, west = -20.0f, dlat = 0.05f, south = 40.0f;
  int lon_differs_from_sum = 0, lat_differs_from_sum = 0;
  float lon_sum = west, lat_sum = south;
  for (std::int32_t i = 1; i <= nlon; ++i) {
    const float product = static_cast<float>(i - 1) * dlon;
    const float expected = product + west;
    EXPECT_EQ(ds.lon[static_cast<std::size_t>(i) - 1], expected) << "lon(" << i << ")";
    if (lon_sum != expected) ++lon_differs_from_sum;
    lon_sum += dlon;
  }
  for (std::int32_t j = 1; j <= nlat; ++j) {
    const float product = static_cast<float>(j - 1) * dlat;
    const float expected = product + south;
    EXPECT_EQ(ds.lat[static_cast<std::size_t>(j) - 1], expected) << "lat(" << j << ")";
    if (lat_sum != expected) ++lat_differs_from_sum;
    lat_sum += dlat;
  }
  ASSERT_GT(lon_differs_from_sum, 0);
  ASSERT_GT(lat_differs_from_sum, 0);
}

TEST(GridCfgRead, LargeSizesWithinTheLayoutAreAccepted) {
  struct Case {
    std::int32_t nlon, nlat, nz;
  };
  // Columns and rows above 9999 are accepted; 9999 layers is the largest
  // count of layers, with all of its level numbers on line 2.
  const std::vector<Case> cases = {{10000, 1, 1}, {1, 12000, 1}, {1, 1, 9999}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.nlon) + " " + std::to_string(c.nlat) + " " + std::to_string(c.nz));
    std::vector<int> levels;
    for (int k = 1; k <= c.nz; ++k) levels.push_back(k % 100);
    GridDir g;
    g.write_lines({sizes_line(c.nlon, c.nlat, c.nz), levels_line(levels), unit_edges, unit_steps});
    DirectRead r(g.dirs());
    r.read("Tst");
    ASSERT_FALSE(r.stopped) << r.console.out;
    EXPECT_EQ(r.s.grid.lon.size(), c.nlon);
    EXPECT_EQ(r.s.grid.lat.size(), c.nlat);
    ASSERT_EQ(r.s.grid.levnum.size(), c.nz);
    EXPECT_EQ(r.s.grid.level_number(c.nz), c.nz % 100);
    // Last coordinate: (n - 1) x 1 + 0.
    EXPECT_EQ(r.s.grid.lon[static_cast<std::size_t>(c.nlon) - 1], static_cast<float>(c.nlon - 1));
    EXPECT_EQ(r.s.grid.lat[static_cast<std::size_t>(c.nlat) - 1], static_cast<float>(c.nlat - 1));
  }
}

TEST(GridCfgFileName, DoubledSlashTrailingAndLeadingBlanksAndCut) {
  const std::string base = "/media/data2/ocean/www/apps/assess/BRINO_S/";
  ASSERT_EQ(base.size(), 43u);
  const std::string long_code(100, 'L');
  // 43 + 1 + 100 + 4 + 1 + 100 + 9 = 258 characters, cut to 255: the last
  // three of "_grid_cfg" fall off.
  const std::string long_name = base + "/" + long_code + "_ASC/" + long_code + "_grid_cfg";
  ASSERT_EQ(long_name.size(), 258u);
  struct Case {
    std::string domain;
    std::string name;
  };
  const std::vector<Case> cases = {
      {"NsBs", base + "/NsBs_ASC/NsBs_grid_cfg"},
      // Trailing blanks of the code give the same name.
      {"NsBs   ", base + "/NsBs_ASC/NsBs_grid_cfg"},
      // Leading blanks are kept in both places.
      {"  Ns", base + "/  Ns_ASC/  Ns_grid_cfg"},
      {long_code, long_name.substr(0, 255)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("[" + c.domain + "]");
    EXPECT_EQ(kelvo::legacy::grid_cfg_file_name(blank_padded(base, 255), blank_padded(c.domain, 100)),
              blank_padded(c.name, 255));
  }
}

// ------------------------------------------------------------ whole runs

TEST(GridCfgRun, LinesPrintedInOrderUpToTheAllocation) {
  GridDir g;
  g.write_lines({sizes_line(120, 90, 40), levels_line(one_to(40)),
                 fields_line("edges", {"-20.00000", " 13.00000", " 40.00000", " 65.00000"}),
                 fields_line("steps", {"  0.10000", "  0.05000"})});
  const RunResult r = kelvo_test::run_tool({"Tst", "salt", "1", "1"}, g.dirs());
  // No scale files: the run stops in the next stage.
  EXPECT_EQ(r.status, 2);
  const std::string expected = head_lines(" 1", " 1") +
                               "-20.00000 13.00000 40.00000 65.00000  0.10000  0.05000\n" +
                               time_window_line + allocation_line(120, 90, 40);
  ASSERT_EQ(r.out.substr(0, expected.size()), expected);
  EXPECT_EQ(r.out.substr(expected.size()).rfind(" STOP (get_grid)", 0), 0u) << r.out;
}

TEST(GridCfgRun, DomainWithBlanksFindsItsFile) {
  struct Case {
    std::string arg;     // the domain argument
    std::string folder;  // the code as it enters the file name
    std::string echo;
  };
  const std::vector<Case> cases = {
      {"Tst   ", "Tst", "Tst  salt\n"},
      {" Tst", " Tst", " Tst  salt\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("[" + c.arg + "]");
    GridDir g;
    g.domain = c.folder;
    g.write_lines({sizes_line(2, 2, 1), levels_line({1}), unit_edges, unit_steps});
    const RunResult r = kelvo_test::run_tool({c.arg, "salt", "1", "1"}, g.dirs());
    const std::string expected = c.echo + "Program Running on selected leves from  1 to  1\n" +
                                 unit_grid_line + time_window_line + allocation_line(2, 2, 1);
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);
  }
}

TEST(GridCfgRun, MissingLevelNumbersGiveLevelZeroInScaleFileNames) {
  GridDir g;
  // Three layers, one level number: layers 2 and 3 have level 0.
  g.write_lines({sizes_line(2, 2, 3), levels_line({5}), unit_edges, unit_steps});
  // Scale files of level 5 (2 x 2 values of 1.0 as fixed(8.5)).
  for (const char* comp : {"x", "y", "t"}) {
    kelvo_test::write_file(g.scale_dir() / "Tst_ASC" / (std::string("Tst_salt_scale_lev05_") + comp + ".dat"),
                           " 1.00000 1.00000\n 1.00000 1.00000\n");
  }
  const RunResult r = kelvo_test::run_tool({"Tst", "salt", "1", "2"}, g.dirs());
  EXPECT_EQ(r.status, 2);
  // Layer 1 is read from the level-5 files; layer 2 looks for level 00.
  EXPECT_NE(r.out.find(g.dirs().scale_dir + "Tst_ASC/Tst_salt_scale_lev05_t.dat\n"), std::string::npos) << r.out;
  const std::string stop =
      hand::free_lines({hand::text("STOP (get_grid) Error in opening file***"),
                        hand::text(g.dirs().scale_dir + "Tst_ASC/Tst_salt_scale_lev00_x.dat")});
  ASSERT_GE(r.out.size(), stop.size());
  EXPECT_EQ(r.out.substr(r.out.size() - stop.size()), stop) << r.out;
}

TEST(GridCfgRun, UnreadableGridFilesStopTheRunWithStatusTwo) {
  const std::string l1 = sizes_line(2, 2, 2), l2 = levels_line({1, 2});
  struct Case {
    const char* what;
    enum { content, missing, directory } kind;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"missing file", Case::missing, ""},
      {"directory in place of the file", Case::directory, ""},
      {"empty file", Case::content, ""},
      {"line 1 only", Case::content, hand::joined({l1})},
      {"ends after line 2", Case::content, hand::joined({l1, l2})},
      {"ends after line 3", Case::content, hand::joined({l1, l2, unit_edges})},
      {"letter in nlat", Case::content, hand::joined({label("s") + "    2  1x2    2", l2, unit_edges, unit_steps})},
      {"letter in a level number", Case::content,
       hand::joined({l1, label("l") + "   1  a2", unit_edges, unit_steps})},
      {"letter in north", Case::content,
       hand::joined({l1, l2, fields_line("e", {"  0.00000", "  1.00000", "  0.00000", "  1.5q000"}), unit_steps})},
      {"letter in dlat", Case::content,
       hand::joined({l1, l2, unit_edges, fields_line("d", {"  1.00000", "  0.0z000"})})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GridDir g;
    if (c.kind == Case::content) g.write(c.text);
    if (c.kind == Case::directory) fs::create_directories(g.cfg_path());
    if (c.kind == Case::missing) fs::create_directories(g.scale_dir());
    const RunResult r = kelvo_test::run_tool({"Tst", "salt", "1", "2"}, g.dirs());
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(r.out.rfind(head_lines(" 1", " 2"), 0), 0u) << r.out;
    const std::string rest = r.out.substr(head_lines(" 1", " 2").size());
    // One message of this stage and nothing else: no grid line, no later stage.
    EXPECT_EQ(rest.rfind(" STOP (read_grid_cfg)", 0), 0u) << rest;
    EXPECT_EQ(hand::count_of(rest, "STOP ("), 1u) << rest;
    EXPECT_EQ(rest.find(unit_grid_line), std::string::npos) << rest;
    EXPECT_EQ(rest.find("1096.000"), std::string::npos) << rest;
    EXPECT_EQ(rest.find("allocating"), std::string::npos) << rest;
    // It names the file.
    const std::string text = unwrapped(rest);
    EXPECT_NE(text.find(g.scale_dir().string()), std::string::npos) << rest;
    EXPECT_NE(text.find("Tst_ASC/Tst_grid_cfg"), std::string::npos) << rest;
  }
}

TEST(GridCfgRun, GridSizesOutsideTheirRangeStopTheRun) {
  struct Case {
    std::int32_t nlon, nlat, nz;
  };
  const std::vector<Case> cases = {
      {0, 3, 2}, {3, 0, 2}, {3, 3, 0}, {-4, 3, 2}, {3, -1, 2}, {3, 3, -7}, {3, 3, 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.nlon) + " " + std::to_string(c.nlat) + " " + std::to_string(c.nz));
    GridDir g;
    // Line 2 holds two level numbers whatever nz says; the sizes are
    // checked before it matters.
    g.write_lines({sizes_line(c.nlon, c.nlat, c.nz), levels_line({1, 2}), unit_edges, unit_steps});
    const RunResult r = kelvo_test::run_tool({"Tst", "salt", "1", "1"}, g.dirs());
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(r.out.rfind(head_lines(" 1", " 1"), 0), 0u) << r.out;
    const std::string rest = r.out.substr(head_lines(" 1", " 1").size());
    EXPECT_EQ(rest.rfind(" STOP (read_grid_cfg)", 0), 0u) << rest;
    EXPECT_EQ(hand::count_of(rest, "STOP ("), 1u) << rest;
    EXPECT_EQ(rest.find(unit_grid_line), std::string::npos) << rest;
    EXPECT_EQ(rest.find("1096.000"), std::string::npos) << rest;
    EXPECT_EQ(rest.find("allocating"), std::string::npos) << rest;
    const std::string text = unwrapped(rest);
    EXPECT_NE(text.find("Tst_ASC/Tst_grid_cfg"), std::string::npos) << rest;
    // The three values, in this order (the directory may hold digits of its own).
    EXPECT_TRUE(digits_in_order(without(text, g.root.str()), {c.nlon, c.nlat, c.nz})) << rest;
  }
}

TEST(GridCfgRun, LayerRangeIsCheckedBeforeTheAllocation) {
  struct Case {
    std::string start_arg, end_arg;
    std::string start2, end2;
    std::int32_t start, end;
    bool valid;
  };
  // A grid of 5 layers.
  const std::vector<Case> cases = {
      {"1", "5", " 1", " 5", 1, 5, true},
      {"3", "3", " 3", " 3", 3, 3, true},
      {"0", "3", " 0", " 3", 0, 3, false},
      {"-1", "2", "-1", " 2", -1, 2, false},
      {"", "", " 0", " 0", 0, 0, false},
      {"1", "6", " 1", " 6", 1, 6, false},
      {"2", "10", " 2", "10", 2, 10, false},
      // Empty ranges inside the bounds are valid runs.
      {"5", "3", " 5", " 3", 5, 3, true},
      {"4", "0", " 4", " 0", 4, 0, true},
      {" 7", "-3", " 7", "-3", 7, -3, true},
      // level_start 6 >= 1 and level_end 5 <= nz: empty, and valid.
      {"6", "5", " 6", " 5", 6, 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("[" + c.start_arg + "] [" + c.end_arg + "]");
    GridDir g;
    g.write_lines({sizes_line(2, 2, 5), levels_line(one_to(5)), unit_edges, unit_steps});
    const RunResult r = kelvo_test::run_tool({"Tst", "salt", c.start_arg, c.end_arg}, g.dirs());
    const std::string head = head_lines(c.start2, c.end2) + unit_grid_line + time_window_line;
    ASSERT_EQ(r.out.rfind(head, 0), 0u) << r.out;
    const std::string rest = r.out.substr(head.size());
    if (c.valid) {
      EXPECT_EQ(rest.rfind(allocation_line(2, 2, 5), 0), 0u) << rest;
    } else {
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(rest.rfind(" STOP (", 0), 0u) << rest;
      EXPECT_EQ(hand::count_of(rest, "STOP ("), 1u) << rest;
      EXPECT_EQ(rest.find("allocating"), std::string::npos) << rest;
      EXPECT_TRUE(digits_in_order(unwrapped(rest), {c.start, c.end, 5})) << rest;
    }
  }
}

}  // namespace
