// The coverage decision, pinned on small domains run through the whole tool
// in-process. Each case is run twice, once with every observation examined
// for every point and once with the fast evaluation, and the two consoles
// must be identical.
//
// Most cases use a grid of one point, so the layer's Ksum (0 or 1) is the
// decision itself. Unless a case says otherwise the exponents are 1 and an
// observation is present at the assessment slot (dt = 0); on the equator a
// degree of longitude is 111.12 km.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/run_support.hpp"

namespace {

using kelvo_test::ObsRecord;
using kelvo_test::RunResult;
using kelvo_test::TestDomain;

// ------------------------------------------------------------ input files

// A real as a field of `w` columns: right-aligned, always with a decimal
// point, with as few significant digits as give back the same float.
std::string real_text(float v, int w) {
  std::string s;
  for (int prec = 1; prec <= 9; ++prec) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*G", prec, static_cast<double>(v));
    s = buf;
    if (std::strtof(s.c_str(), nullptr) == v) break;
  }
  if (s.find('.') == std::string::npos) {
    const std::size_t e = s.find('E');
    if (e == std::string::npos) {
      s += ".0";
    } else {
      s.insert(e, ".0");
    }
  }
  if (s.size() > static_cast<std::size_t>(w)) throw std::runtime_error("value too wide: " + s);
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

std::string int_text(long v, int w) {
  const std::string s = std::to_string(v);
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

struct Grid {
  int nlon = 1;
  int nlat = 1;
  std::vector<int> levnum{1};
  float west = 0.0f;
  float south = 0.0f;
  float dlon = 1.0f;
  float dlat = 1.0f;
  int nz() const { return static_cast<int>(levnum.size()); }
};

// The grid configuration file; the edges are written with as many columns
// as they need, so that -179 fits the nine columns of its field.
void write_grid(TestDomain& d, const Grid& g) {
  const float east = static_cast<float>(g.nlon - 1) * g.dlon + g.west;
  const float north = static_cast<float>(g.nlat - 1) * g.dlat + g.south;
  std::string text = "nlon,nlat,nz    " + int_text(g.nlon, 5) + int_text(g.nlat, 5) + int_text(g.nz(), 5);
  text += "\nlevels          ";
  for (int l : g.levnum) text += int_text(l, 4);
  text += "\nw,e,s,n         ";
  for (float v : {g.west, east, g.south, north}) text += real_text(v, 9);
  text += "\ndlon,dlat       " + real_text(g.dlon, 9) + real_text(g.dlat, 9) + "\n";
  kelvo_test::write_file(d.asc_dir() / (d.domain + "_grid_cfg"), text);
}

struct Scales {
  float sx, sy, st;
};

// The three scale files of one layer; `at(i, j)` gives the entries of
// column i, row j (both from 1).
void write_scales(TestDomain& d, const std::string& param, int level, const Grid& g,
                  const std::function<Scales(int, int)>& at) {
  const char comps[3] = {'x', 'y', 't'};
  for (int m = 0; m < 3; ++m) {
    std::string text;
    for (int j = 1; j <= g.nlat; ++j) {
      for (int i = 1; i <= g.nlon; ++i) {
        const Scales s = at(i, j);
        text += real_text(m == 0 ? s.sx : m == 1 ? s.sy : s.st, 8);
      }
      text += '\n';
    }
    const std::string lev = (level < 10 ? "0" : "") + std::to_string(level);
    kelvo_test::write_file(d.asc_dir() / (d.domain + "_" + param + "_scale_lev" + lev + "_" + comps[m] + ".dat"),
                           text);
  }
}

void write_uniform_scales(TestDomain& d, const std::string& param, int level, const Grid& g, Scales s) {
  write_scales(d, param, level, g, [s](int, int) { return s; });
}

struct Powers {
  float px, py, pt;
};

// The three exponent files, one entry per layer.
void write_powers(TestDomain& d, const std::string& param, const std::vector<Powers>& layers) {
  std::string x, y, t;
  for (const Powers& p : layers) {
    x += real_text(p.px, 8);
    y += real_text(p.py, 8);
    t += real_text(p.pt, 8);
  }
  kelvo_test::write_file(d.asc_dir() / (d.domain + "_" + param + "_power_x.dat"), x + "\n");
  kelvo_test::write_file(d.asc_dir() / (d.domain + "_" + param + "_power_y.dat"), y + "\n");
  kelvo_test::write_file(d.asc_dir() / (d.domain + "_" + param + "_power_t.dat"), t + "\n");
}

// Observations of both parameters. `present` is a one-time observation on
// the assessment day, 1 January 2004 (placed at the slot: dt = 0);
// `absent` is dated a year later, lies a year from the slot and is left
// out of it (dt = 1096 + 99999 = 101095).
ObsRecord present(float lat, float lon, int kind = 1) { return {lat, lon, "0001012004", 0.0f, true, true, kind}; }
ObsRecord absent(float lat, float lon) { return {lat, lon, "0001012005", 0.0f, true, true, 1}; }

std::filesystem::path write_metadata(TestDomain& d, const std::vector<ObsRecord>& obs) {
  std::vector<std::string> lines;
  for (const ObsRecord& r : obs) lines.push_back(kelvo_test::metadata_line(r));
  return d.metadata(lines);
}

// ------------------------------------------------------------ runs

// Runs the tool with both evaluations; their status and console must agree.
// Returns the run with every observation examined.
RunResult run_both(const TestDomain& d, const std::vector<std::string>& args) {
  const RunResult exhaustive = kelvo_test::run_tool(args, d.dirs(), kelvo::Evaluation::exhaustive);
  const RunResult fast = kelvo_test::run_tool(args, d.dirs(), kelvo::Evaluation::fast);
  EXPECT_EQ(exhaustive.status, fast.status);
  EXPECT_EQ(exhaustive.out, fast.out) << "the fast evaluation prints something else";
  return exhaustive;
}

std::vector<std::string> args_for(const TestDomain& d, int first, int last, const std::filesystem::path& meta) {
  return {d.domain, "salt", std::to_string(first), std::to_string(last), meta.string(), "cv"};
}

const std::string kLayerHead = " Ilayer, Nwater, Ksum, Kpct : ";

// The second line of each assessed layer, in order.
std::vector<std::string> layer_lines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(kLayerHead, 0) == 0) lines.push_back(line);
  }
  return lines;
}

// ilayer in 4 columns, Nwater and Ksum in 10, then Kpct as its 8 columns.
std::string layer_line(int ilayer, int nwater, int ksum, const std::string& kpct8) {
  return kLayerHead + int_text(ilayer, 4) + int_text(nwater, 10) + int_text(ksum, 10) + kpct8;
}

int count_lines_starting(const std::string& out, const std::string& head) {
  int n = 0;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) n += line.rfind(head, 0) == 0 ? 1 : 0;
  return n;
}

// ------------------------------------------------------------ one grid point

struct PointCase {
  const char* what;
  float lat, lon;  // the grid point
  Scales s;
  Powers p;
  std::vector<ObsRecord> obs;
  bool covered;
};

constexpr Scales kReach100{0.01f, 0.01f, 0.01f};  // 100 km in x and y, 100 days in t
constexpr Powers kLinear{1.0f, 1.0f, 1.0f};

const std::vector<PointCase>& point_cases() {
  static const std::vector<PointCase> cases = {
      // Zonal distance on the equator, Sx 0.01: wx = exp(-dx / 100 km).
      {"50 km east: wx = exp(-0.5) ~ 0.607", 0, 0, kReach100, kLinear, {present(0, 0.45f)}, true},
      {"150 km east: wx = exp(-1.5) ~ 0.223", 0, 0, kReach100, kLinear, {present(0, 1.35f)}, false},
      {"50 km west", 0, 0, kReach100, kLinear, {present(0, -0.45f)}, true},
      {"150 km west: the distance is absolute", 0, 0, kReach100, kLinear, {present(0, -1.35f)}, false},
      {"98.9 km: just inside the 100 km reach", 0, 0, kReach100, kLinear, {present(0, 0.89f)}, true},
      {"101.1 km: just outside it", 0, 0, kReach100, kLinear, {present(0, 0.91f)}, false},
      // Meridional distance, 111.12 km per degree.
      {"50 km north", 0, 0, kReach100, kLinear, {present(0.45f, 0)}, true},
      {"150 km north", 0, 0, kReach100, kLinear, {present(1.35f, 0)}, false},
      {"150 km south", 0, 0, kReach100, kLinear, {present(-1.35f, 0)}, false},
      // Both directions: exp(-0.4) * exp(-0.4) reaches exp(-1), exp(-0.6)^2 does not.
      {"40 km east and 40 km north: 0.4 + 0.4", 0, 0, kReach100, kLinear, {present(0.36f, 0.36f)}, true},
      {"60 km east and 60 km north: 0.6 + 0.6", 0, 0, kReach100, kLinear, {present(0.54f, 0.54f)}, false},

      // 1 degree of longitude at 60 N is 111.12 * cos(60) = 55.56 km.
      {"1 degree at 60N within an 80 km reach", 60, 0, {0.0125f, 0.01f, 0.01f}, kLinear, {present(60, 1)}, true},
      {"1 degree at 60N within a 55.99 km reach", 60, 0, {0.01786f, 0.01f, 0.01f}, kLinear, {present(60, 1)}, true},
      {"1 degree at 60N beyond a 55.40 km reach", 60, 0, {0.01805f, 0.01f, 0.01f}, kLinear, {present(60, 1)}, false},
      // Sy 0 takes the meridional distance out: the row's latitude sets dx.
      {"point at 60N, observation on the equator 1 degree east: 55.56 km", 60, 0, {0.0125f, 0.0f, 0.01f}, kLinear,
       {present(0, 1)}, true},
      {"point on the equator, observation at 60N 1 degree east: 111.12 km", 0, 0, {0.0125f, 0.0f, 0.01f}, kLinear,
       {present(60, 1)}, false},

      // Longitudes are never folded at 180 degrees.
      {"-179 against +179 is 358 degrees, beyond a 300 km reach", 0, -179, {0.00333f, 0.01f, 0.01f}, kLinear,
       {present(0, 179)}, false},
      {"+179 against -179 likewise", 0, 179, {0.00333f, 0.01f, 0.01f}, kLinear, {present(0, -179)}, false},
      {"-179 against -177: 222 km within the 300 km reach", 0, -179, {0.00333f, 0.01f, 0.01f}, kLinear,
       {present(0, -177)}, true},
      {"358 degrees (39781 km) within a 41667 km reach", 0, -179, {2.4e-5f, 0.01f, 0.01f}, kLinear,
       {present(0, 179)}, true},
      {"358 degrees beyond a 38462 km reach", 0, -179, {2.6e-5f, 0.01f, 0.01f}, kLinear, {present(0, 179)}, false},

      // Exponent 0: the weight is exp(-S) whatever the distance, 0 included.
      {"px 0, Sx 0.5, 1111 km away", 0, 0, {0.5f, 0.01f, 0.01f}, {0, 1, 1}, {present(0, 10)}, true},
      {"px 0, Sx 0.99, 2222 km away", 0, 0, {0.99f, 0.01f, 0.01f}, {0, 1, 1}, {present(0, 20)}, true},
      {"px 0, Sx 1.5, on the point", 0, 0, {1.5f, 0.01f, 0.01f}, {0, 1, 1}, {present(0, 0)}, false},
      {"px 0, Sx 1.01, on the point", 0, 0, {1.01f, 0.01f, 0.01f}, {0, 1, 1}, {present(0, 0)}, false},
      {"py 0, Sy 0.5, 1111 km away", 0, 0, {0.01f, 0.5f, 0.01f}, {1, 0, 1}, {present(10, 0)}, true},
      {"py 0, Sy 1.5, on the point", 0, 0, {0.01f, 1.5f, 0.01f}, {1, 0, 1}, {present(0, 0)}, false},
      {"pt 0, St 1.5, at the slot", 0, 0, {0.01f, 0.01f, 1.5f}, {1, 1, 0}, {present(0, 0)}, false},
      {"pt 0, St 0.5, absent from the slot", 0, 0, {0.01f, 0.01f, 0.5f}, {1, 1, 0}, {absent(0, 0)}, true},

      // On the point at the slot every distance is 0 and every weight 1.
      {"on the point, large scales", 0, 0, {50, 50, 50}, {1, 2, 0.5f}, {present(0, 0)}, true},
      // 20:00 on the assessment day is placed at the slot: dt is 0, not 0.75.
      {"on the point at 20:00 of the slot day, St 50", 0, 0, {0.01f, 0.01f, 50}, kLinear,
       {{0, 0, "2001012004", 0.0f, true, true, 1}}, true},

      // Absent from the slot: dt = 101095, wt = exp(-(101095 * St)).
      {"absent, St 0, on the point: wt = 1", 0, 0, {0.01f, 0.01f, 0.0f}, kLinear, {absent(0, 0)}, true},
      {"absent, St 0, 50 km east: the horizontal test decides", 0, 0, {0.01f, 0.01f, 0.0f}, kLinear,
       {absent(0, 0.45f)}, true},
      {"absent, St 0, 150 km east: the horizontal test decides", 0, 0, {0.01f, 0.01f, 0.0f}, kLinear,
       {absent(0, 1.35f)}, false},
      {"absent, St 0.01, on the point", 0, 0, kReach100, kLinear, {absent(0, 0)}, false},
      {"absent, St 1e-5, on the point: 101095 * 1e-5 = 1.011", 0, 0, {0.01f, 0.01f, 1.0e-5f}, kLinear,
       {absent(0, 0)}, false},
      {"absent, St 9.8e-6, on the point: 101095 * 9.8e-6 = 0.991", 0, 0, {0.01f, 0.01f, 9.8e-6f}, kLinear,
       {absent(0, 0)}, true},

      // Every observation is examined, whatever its place in the list.
      {"a far observation, then a near one", 0, 0, kReach100, kLinear, {present(0, 5), present(0, 0.45f)}, true},
      {"a near observation, then a far one", 0, 0, kReach100, kLinear, {present(0, 0.45f), present(0, 5)}, true},
      {"two far observations", 0, 0, kReach100, kLinear, {present(0, 5), present(0, -5)}, false},
  };
  return cases;
}

TEST(CoverageDecision, OneGridPoint) {
  for (const PointCase& c : point_cases()) {
    SCOPED_TRACE(c.what);
    TestDomain d;
    Grid g;
    g.west = c.lon;
    g.south = c.lat;
    write_grid(d, g);
    write_uniform_scales(d, "salt", 1, g, c.s);
    write_powers(d, "salt", {c.p});
    const auto meta = write_metadata(d, c.obs);
    const RunResult r = run_both(d, args_for(d, 1, 1, meta));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> expected = {
        c.covered ? layer_line(1, 1, 1, "   1.000") : layer_line(1, 1, 0, "   0.000")};
    EXPECT_EQ(layer_lines(r.out), expected) << r.out;
  }
}

// Three points on the equator at longitudes 0, 1 and 2; Sx 0.01 (100 km).
// Observations at longitude 0 (twice) and 0.2: the first point is covered
// by all three, the second (88.9 km from 0.2) by one, the third by none.
TEST(CoverageDecision, SeveralObservationsCoverAPointOnce) {
  TestDomain d;
  Grid g;
  g.nlon = 3;
  write_grid(d, g);
  write_uniform_scales(d, "salt", 1, g, kReach100);
  write_powers(d, "salt", {kLinear});
  const auto meta = write_metadata(d, {present(0, 0), present(0, 0.2f), present(0, 0)});
  const RunResult r = run_both(d, args_for(d, 1, 1, meta));
  ASSERT_EQ(r.status, 0) << r.out;
  // Ksum 2 of 3: 2/3 shows as 0.667.
  EXPECT_EQ(layer_lines(r.out), std::vector<std::string>{layer_line(1, 3, 2, "   0.667")}) << r.out;
}

// Kind 2 observations (surface-only platforms) count for layer 1 alone,
// kinds 1 and 3 to 7 for every layer. One point, water in three layers,
// the observation on it.
TEST(CoverageDecision, SurfaceOnlyObservationsCountInLayerOne) {
  struct KindCase {
    int kind;
    int first, last;
    std::vector<int> ksum;  // per assessed layer
  };
  const std::vector<KindCase> cases = {
      {1, 1, 3, {1, 1, 1}}, {2, 1, 3, {1, 0, 0}}, {2, 2, 3, {0, 0}}, {3, 1, 3, {1, 1, 1}},
      {4, 1, 3, {1, 1, 1}}, {5, 1, 3, {1, 1, 1}}, {6, 1, 3, {1, 1, 1}}, {7, 1, 3, {1, 1, 1}},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE("kind " + std::to_string(c.kind) + ", layers " + std::to_string(c.first) + " to " +
                 std::to_string(c.last));
    TestDomain d;
    Grid g;
    g.levnum = {1, 2, 3};
    write_grid(d, g);
    for (int level = 1; level <= 3; ++level) write_uniform_scales(d, "salt", level, g, kReach100);
    write_powers(d, "salt", {kLinear, kLinear, kLinear});
    const auto meta = write_metadata(d, {present(0, 0, c.kind)});
    const RunResult r = run_both(d, args_for(d, c.first, c.last, meta));
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> expected;
    for (int layer = c.first; layer <= c.last; ++layer) {
      const int k = c.ksum[static_cast<std::size_t>(layer - c.first)];
      expected.push_back(layer_line(layer, 1, k, k == 1 ? "   1.000" : "   0.000"));
    }
    EXPECT_EQ(layer_lines(r.out), expected) << r.out;
  }
}

// Two layers of a 2 x 2 grid (longitudes and latitudes 0 and 1): layer 1
// all water with a 200 km reach, layer 2 all land (every scale the no-value
// marker). With no observation kept Ksum is 0 and Kpct 0.000; an observation
// in the middle (55.6 km from each point in x and in y: 0.28 + 0.28) covers
// all four; the layer without water has Kpct 0/0, shown as NaN.
TEST(CoverageDecision, NoObservationsAndNoWater) {
  struct ListCase {
    const char* what;
    std::vector<ObsRecord> obs;
    int ksum1;
    std::string kpct1;
  };
  const std::vector<ListCase> cases = {
      {"empty list", {}, 0, "   0.000"},
      {"only temperature records in a salinity run", {{0, 0, "0001012004", 0.0f, true, false, 1}}, 0, "   0.000"},
      {"an observation covering the whole of layer 1", {present(0.5f, 0.5f)}, 4, "   1.000"},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.what);
    TestDomain d;
    Grid g;
    g.nlon = 2;
    g.nlat = 2;
    g.levnum = {1, 2};
    write_grid(d, g);
    write_uniform_scales(d, "salt", 1, g, {0.005f, 0.005f, 0.01f});
    write_uniform_scales(d, "salt", 2, g, {kelvo::no_value, kelvo::no_value, kelvo::no_value});
    write_powers(d, "salt", {kLinear, kLinear});
    const auto meta = write_metadata(d, c.obs);
    const RunResult r = run_both(d, args_for(d, 1, 2, meta));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> expected = {layer_line(1, 4, c.ksum1, c.kpct1), layer_line(2, 0, 0, "     NaN")};
    EXPECT_EQ(layer_lines(r.out), expected) << r.out;
  }
}

// 2500 points along the equator, 0.01 degree (1.1112 km) apart, and one
// observation at the first. Sx 1.441e-3 is a reach of 693.96 km: point 625
// (693.39 km away) is inside it, point 626 (694.50 km) is not. The console
// shows the fraction 625/2500, not a percentage.
TEST(CoverageDecision, QuarterOfALayerShowsAsAFraction) {
  TestDomain d;
  Grid g;
  g.nlon = 2500;
  g.dlon = 0.01f;
  write_grid(d, g);
  write_uniform_scales(d, "salt", 1, g, {1.441e-3f, 0.01f, 0.01f});
  write_powers(d, "salt", {kLinear});
  const auto meta = write_metadata(d, {present(0, 0)});
  const RunResult r = run_both(d, args_for(d, 1, 1, meta));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(layer_lines(r.out), std::vector<std::string>{layer_line(1, 2500, 625, "   0.250")}) << r.out;
}

// A range whose last layer is below its first assesses no layer at all.
TEST(CoverageDecision, EmptyRangeAssessesNothing) {
  TestDomain d;
  Grid g;
  g.levnum = {1, 2};
  write_grid(d, g);
  write_powers(d, "salt", {kLinear, kLinear});
  const auto meta = write_metadata(d, {present(0, 0)});
  const RunResult r = run_both(d, args_for(d, 2, 1, meta));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(count_lines_starting(r.out, " Assessing ilayer: "), 0) << r.out;
  EXPECT_TRUE(layer_lines(r.out).empty()) << r.out;
}

// The first line of each layer, before its result line.
TEST(CoverageDecision, EachLayerIsAnnouncedBeforeItsResult) {
  TestDomain d;
  Grid g;
  g.levnum = {1, 2};
  write_grid(d, g);
  write_uniform_scales(d, "salt", 1, g, kReach100);
  write_uniform_scales(d, "salt", 2, g, kReach100);
  write_powers(d, "salt", {kLinear, kLinear});
  const auto meta = write_metadata(d, {present(0, 0)});
  const RunResult r = run_both(d, args_for(d, 1, 2, meta));
  ASSERT_EQ(r.status, 0) << r.out;
  // Free format: the text, a blank, the layer in 12 columns.
  const std::string expected_tail = " Assessing ilayer:             1\n" + layer_line(1, 1, 1, "   1.000") +
                                    "\n Assessing ilayer:             2\n" + layer_line(2, 1, 1, "   1.000") + "\n";
  ASSERT_GE(r.out.size(), expected_tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - expected_tail.size()), expected_tail) << r.out;
}

}  // namespace
