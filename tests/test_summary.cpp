// The summary report: the whole file byte for byte after runs on a small
// domain, its name, its replacement, the failure to create it, and the
// layout of its lines (wrapping of line 6, the percentage column).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "legacy/summary.hpp"
#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;
using kelvo_test::ObsRecord;
using kelvo_test::RunResult;
using kelvo_test::TestDomain;

std::string right(const std::string& s, std::size_t w) {
  return s.size() >= w ? s : std::string(w - s.size(), ' ') + s;
}
std::string int_text(long v, std::size_t w) { return right(std::to_string(v), w); }

// ------------------------------------------------------------ the domain
//
// Grid: 3 columns, 2 rows, 3 layers; west -20, east 13, south 30, north
// 65.5, dlon 0.25, dlat 0.1. Every exponent is 0, so an observation's
// weight is exp(-Sx) * exp(-Sy) * exp(-St) wherever it is:
//   layer 1: every scale 0 at all 6 points: all covered, Kpct 1   -> 100.000
//   layer 2: row 1 Sx 0, 0, marker; row 2 Sx 1.5, 1.5, marker (Sy, St 0):
//            4 water points, the 2 of row 1 covered, Kpct 0.5      -> 50.000
//   layer 3: the marker everywhere: no water, Kpct 0/0             -> NaN
// One observation of salinity, present at the slot.
constexpr float kMark = kelvo::no_value;

std::filesystem::path build_domain(TestDomain& d) {
  d.grid_cfg(3, 2, 3, {1, 2, 3}, -20.0f, 13.0f, 30.0f, 65.5f, 0.25f, 0.1f);
  for (char c : {'x', 'y', 't'}) {
    d.uniform_scale("salt", 1, c, 3, 2, 0.0f);
    d.uniform_scale("salt", 3, c, 3, 2, kMark);
  }
  d.scale_file("salt", 2, 'x', {{0.0f, 0.0f, kMark}, {1.5f, 1.5f, kMark}});
  d.scale_file("salt", 2, 'y', {{0.0f, 0.0f, kMark}, {0.0f, 0.0f, kMark}});
  d.scale_file("salt", 2, 't', {{0.0f, 0.0f, kMark}, {0.0f, 0.0f, kMark}});
  for (char c : {'x', 'y', 't'}) d.power_file("salt", c, {0.0f, 0.0f, 0.0f});
  ObsRecord obs;
  obs.lat = 30.0f;
  obs.lon = -20.0f;
  return d.metadata({kelvo_test::metadata_line(obs)});
}

// Lines 1 to 9 of this domain's summary for the layers first..last.
std::string header(int first, int last) {
  std::string h;
  h += " *** Summary from Observational Network assessment ***\n";
  h += " Grid Setup : west,east,south,north,dlon,dlat:\n";
  // 12 blanks, four fixed(8.3), two fixed(8.2).
  h += std::string(12, ' ') + " -20.000" + "  13.000" + "  30.000" + "  65.500" + "    0.25" + "    0.10\n";
  h += " Grid Setup : nlat,nlon,ilayer,ntimes\n";
  // 14 blanks, nlat, nlon, 0 in the ilayer column, ntimes 1, each int(6).
  h += std::string(14, ' ') + "     2" + "     3" + "     0" + "     1\n";
  h += " Validating model domain : Tst and parameter salt\n";
  // Free format: a blank, the text, a blank, the integer in 12 columns...
  h += " From layer " + std::string(" ") + int_text(first, 12) + " " + " to layer " + " " + int_text(last, 12) + "\n";
  h += " " + std::string(45, '-') + "\n";
  h += " Ilayer, total number of water points, effective coverage\n";
  return h;
}

std::string row(int ilayer, int nwater, const std::string& pct8) {
  return " Ilayer, Nwater, Eff coverage (%) : " + int_text(ilayer, 4) + int_text(nwater, 10) + pct8 + "\n";
}

const std::string kRow1 = row(1, 6, " 100.000");
const std::string kRow2 = row(2, 4, "  50.000");
const std::string kRow3 = row(3, 0, "     NaN");

std::vector<std::string> args(const fs::path& meta, const std::string& first, const std::string& last,
                              const std::string& tag) {
  return {"Tst", "salt", first, last, meta.string(), tag};
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// ------------------------------------------------------------ whole files

TEST(SummaryFile, WholeFileOfARun) {
  TestDomain d;
  const auto meta = build_domain(d);
  const RunResult r = kelvo_test::run_tool(args(meta, "1", "3", "ab"), d.dirs());
  ASSERT_EQ(r.status, 0) << r.out;
  // Nothing else in the results directory: no temporary file left.
  EXPECT_EQ(names_in(d.results_dir()), std::set<std::string>{"Tst_salt_cover_summary_ab.asc"});
  EXPECT_EQ(d.file_text(d.results_dir() / "Tst_salt_cover_summary_ab.asc"), header(1, 3) + kRow1 + kRow2 + kRow3);
}

TEST(SummaryFile, PartOfTheLayers) {
  struct RangeCase {
    std::string first, last;
    std::string rows;
  };
  const std::vector<RangeCase> cases = {
      {"2", "3", kRow2 + kRow3},
      {"1", "1", kRow1},
      {"3", "2", ""},  // empty range: lines 1 to 9 and no row
      {"2", "1", ""},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE("layers " + c.first + " to " + c.last);
    TestDomain d;
    const auto meta = build_domain(d);
    const RunResult r = kelvo_test::run_tool(args(meta, c.first, c.last, "ab"), d.dirs());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(d.file_text(d.results_dir() / "Tst_salt_cover_summary_ab.asc"),
              header(std::stoi(c.first), std::stoi(c.last)) + c.rows);
  }
}

TEST(SummaryFile, RunTagInTheName) {
  struct TagCase {
    const char* what;
    bool tag_given;
    std::string tag;
    std::string name;
  };
  const std::vector<TagCase> cases = {
      {"five arguments: blank tag", false, "", "Tst_salt_cover_summary_.asc"},
      {"empty tag", true, "", "Tst_salt_cover_summary_.asc"},
      {"blank tag", true, "   ", "Tst_salt_cover_summary_.asc"},
      {"one character", true, "x", "Tst_salt_cover_summary_x.asc"},
      {"six characters keep five", true, "abcdef", "Tst_salt_cover_summary_abcde.asc"},
  };
  for (const TagCase& c : cases) {
    SCOPED_TRACE(c.what);
    TestDomain d;
    const auto meta = build_domain(d);
    std::vector<std::string> a = args(meta, "1", "3", c.tag);
    if (!c.tag_given) a.pop_back();
    const RunResult r = kelvo_test::run_tool(a, d.dirs());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(names_in(d.results_dir()), std::set<std::string>{c.name});
    EXPECT_EQ(d.file_text(d.results_dir() / c.name), header(1, 3) + kRow1 + kRow2 + kRow3);
  }
}

TEST(SummaryFile, OlderFileIsReplaced) {
  TestDomain d;
  const auto meta = build_domain(d);
  const fs::path file = d.results_dir() / "Tst_salt_cover_summary_ab.asc";
  std::string old;
  for (int i = 0; i < 50; ++i) old += " an older summary, longer than the new one\n";
  kelvo_test::write_file(file, old);
  const RunResult r = kelvo_test::run_tool(args(meta, "2", "2", "ab"), d.dirs());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(d.file_text(file), header(2, 2) + kRow2);
  EXPECT_EQ(names_in(d.results_dir()), std::set<std::string>{"Tst_salt_cover_summary_ab.asc"});
}

// ------------------------------------------------------------ open failures

// The two lines of the open failure: the message, then the file name with
// all its 255 characters on a line of its own.
std::string open_failure(const std::string& results_dir) {
  std::string name = results_dir + "Tst_salt_cover_summary_ab.asc";
  name.resize(255, ' ');
  return " STOP (write_grid) Error in opening file***\n " + name + "\n";
}

// Runs the domain with `results` as results directory; checks the message
// (the last thing printed, after the assessment) and the exit status 2.
void expect_open_failure(TestDomain& d, const fs::path& meta, const std::string& results) {
  const kelvo::legacy::BaseDirs dirs{d.scale_dir().string() + "/", results};
  const RunResult r = kelvo_test::run_tool(args(meta, "1", "3", "ab"), dirs);
  EXPECT_EQ(r.status, 2);
  const std::string tail = open_failure(results);
  ASSERT_GE(r.out.size(), tail.size()) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
  // The assessment ran to its end before the report.
  EXPECT_NE(r.out.find(" Ilayer, Nwater, Ksum, Kpct :    3"), std::string::npos) << r.out;
}

TEST(SummaryFile, MissingResultsDirectory) {
  TestDomain d;
  const auto meta = build_domain(d);
  const std::set<std::string> before = names_in(d.root.path);
  const fs::path missing = d.root.path / "no_such_results";
  expect_open_failure(d, meta, missing.string() + "/");
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(names_in(d.root.path), before);
  EXPECT_TRUE(names_in(d.results_dir()).empty());
}

TEST(SummaryFile, ResultsPathUnderARegularFile) {
  TestDomain d;
  const auto meta = build_domain(d);
  const fs::path plain = d.root.path / "plain";
  kelvo_test::write_file(plain, "not a directory\n");
  const std::set<std::string> before = names_in(d.root.path);
  expect_open_failure(d, meta, plain.string() + "/");
  EXPECT_EQ(d.file_text(plain), "not a directory\n");
  EXPECT_EQ(names_in(d.root.path), before);
}

TEST(SummaryFile, ResultsDirectoryNotWritable) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not hold for root";
  TestDomain d;
  const auto meta = build_domain(d);
  const fs::path file = d.results_dir() / "Tst_salt_cover_summary_ab.asc";
  kelvo_test::write_file(file, "older summary\n");
  fs::permissions(d.results_dir(), fs::perms::owner_read | fs::perms::owner_exec);
  expect_open_failure(d, meta, d.results_dir().string() + "/");
  fs::permissions(d.results_dir(), fs::perms::owner_all);
  EXPECT_EQ(d.file_text(file), "older summary\n");
  EXPECT_EQ(names_in(d.results_dir()), std::set<std::string>{"Tst_salt_cover_summary_ab.asc"});
}

// A directory of the summary's name cannot be replaced by the file: the
// run fails with a STOP line, and neither the directory nor a temporary
// file is left changed or behind.
TEST(SummaryFile, NameTakenByADirectory) {
  TestDomain d;
  const auto meta = build_domain(d);
  const fs::path taken = d.results_dir() / "Tst_salt_cover_summary_ab.asc";
  fs::create_directory(taken);
  const RunResult r = kelvo_test::run_tool(args(meta, "1", "3", "ab"), d.dirs());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("\n STOP ("), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_directory(taken));
  EXPECT_TRUE(fs::is_empty(taken));
  EXPECT_EQ(names_in(d.results_dir()), std::set<std::string>{"Tst_salt_cover_summary_ab.asc"});
}

// ------------------------------------------------------------ line layouts

// A domain state holding only what the report reads.
// A grid and the results of layers 1..n.
struct ReportState {
  kelvo::Grid grid;
  std::vector<kelvo::LayerResult> layers;
  ReportState(std::vector<std::int32_t> nwater, std::vector<float> kpct) {
    grid.nlon = 3;
    grid.nlat = 2;
    grid.nz = static_cast<std::int32_t>(nwater.size());
    grid.west = -20.0f;
    grid.east = 13.0f;
    grid.south = 30.0f;
    grid.north = 65.5f;
    grid.dlon = 0.25f;
    grid.dlat = 0.1f;
    for (std::size_t k = 0; k < nwater.size(); ++k) {
      layers.push_back(kelvo::LayerResult{static_cast<std::int32_t>(k + 1), nwater[k], 0, kpct[k]});
    }
  }
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string padded(const std::string& s, std::size_t n) {
  std::string p = s;
  p.resize(n, ' ');
  return p;
}

// Line 6 is a free-format line of four texts; it is ended before a text
// that would make it 80 characters long, and goes on after one blank.
TEST(SummaryLayout, ValidatingLineWraps) {
  const std::string d33 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefg";  // 33 characters
  const std::string d34 = d33 + "h";
  const std::string d40 = d34 + "ijklmn";
  const std::string d53 = d40 + "opqrstuvwxyz0";
  const std::string p34 = "temperature_and_salinity_of_layers";
  ASSERT_EQ(d53.size(), 53u);
  ASSERT_EQ(p34.size(), 34u);
  struct WrapCase {
    std::string domain, param;
    std::vector<std::string> lines;
  };
  const std::string head = " Validating model domain : ";
  const std::vector<WrapCase> cases = {
      // 27 + 33 + 15 + 4 = 79 columns: one line.
      {d33, "salt", {head + d33 + " and parameter salt"}},
      // 38 characters of domain and parameter: the parameter would end in column 80.
      {d34, "salt", {head + d34 + " and parameter ", " salt"}},
      {"NsBs", p34, {head + "NsBs and parameter ", " " + p34}},
      // 27 + 40 + 15 = 82: " and parameter " goes to the next line.
      {d40, "salt", {head + d40, "  and parameter salt"}},
      // 27 + 53 = 80: the domain itself starts the second line.
      {d53, "salt", {head, " " + d53 + " and parameter salt"}},
  };
  for (const WrapCase& c : cases) {
    SCOPED_TRACE(c.domain + " / " + c.param);
    ReportState st({1}, {1.0f});
    // The settings arrive blank-padded to 100 characters.
    const std::string text =
        kelvo::legacy::summary_text(st.grid, padded(c.domain, 100), padded(c.param, 100), 1, 1, st.layers);
    const std::vector<std::string> lines = lines_of(text);
    ASSERT_EQ(lines.size(), 9u + c.lines.size()) << text;
    const std::vector<std::string> line6(lines.begin() + 5, lines.begin() + 5 + static_cast<long>(c.lines.size()));
    EXPECT_EQ(line6, c.lines) << text;
    EXPECT_EQ(lines[5 + c.lines.size()], " From layer             1  to layer             1");
  }
}

// The last field of a row is Kpct * 100 in fixed(8.3).
TEST(SummaryLayout, CoverageInPercent) {
  struct PctCase {
    std::int32_t nwater;
    float kpct;
    std::string field;
  };
  const std::vector<PctCase> cases = {
      {6, 1.0f, " 100.000"},
      {4, 0.5f, "  50.000"},
      {2500, 0.1234f, "  12.340"},
      {2500, 0.25f, "  25.000"},
      {7, 0.0f, "   0.000"},
      {3, 2.0f / 3.0f, "  66.667"},
      {1000, 0.001f, "   0.100"},
      {0, std::numeric_limits<float>::quiet_NaN(), "     NaN"},
  };
  std::vector<std::int32_t> nwater;
  std::vector<float> kpct;
  for (const PctCase& c : cases) {
    nwater.push_back(c.nwater);
    kpct.push_back(c.kpct);
  }
  ReportState st(nwater, kpct);
  const int n = static_cast<int>(cases.size());
  const std::vector<std::string> lines = lines_of(kelvo::legacy::summary_text(st.grid, "Tst", "salt", 1, n, st.layers));
  ASSERT_EQ(lines.size(), 9u + cases.size());
  for (int k = 1; k <= n; ++k) {
    const PctCase& c = cases[static_cast<std::size_t>(k - 1)];
    EXPECT_EQ(lines[static_cast<std::size_t>(8 + k)] + "\n", row(k, c.nwater, c.field)) << "layer " << k;
  }
}

}  // namespace
