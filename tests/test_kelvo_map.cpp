// kelvo_map run in-process on small domains; the map file is read back with
// the NetCDF library. What the file must hold is worked out from the inputs:
// the grid and land points written here, the coverage rule applied by hand
// to an observation on a grid point, and kelvo_brino runs on the same domain
// (its console Nwater and Ksum, and runs with a list of one kind's
// observations or of all but one kind).
#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/contributions.hpp"
#include "legacy/driver.hpp"
#include "legacy/map_run.hpp"
#include "support/nc_read.hpp"
#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;
using kelvo_test::NcRead;
using kelvo_test::ObsRecord;
using kelvo_test::RunResult;
using kelvo_test::TestDomain;

// ------------------------------------------------------------ running

RunResult run_map(const std::vector<std::string>& args, const kelvo::legacy::BaseDirs& dirs) {
  std::vector<std::string> argv{"kelvo_map"};
  argv.insert(argv.end(), args.begin(), args.end());
  textio::Console console;
  RunResult r;
  r.status = kelvo::legacy::run_kelvo_map(argv, dirs, console);
  r.out = console.out;
  r.err = console.err;
  return r;
}

using kelvo_test::LayerLine;
using kelvo_test::layer_lines;

float fraction(const LayerLine& l) { return static_cast<float>(l.ksum) / static_cast<float>(l.nwater); }

// Same float, NaN matching NaN.
bool same_float(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// ------------------------------------------------------------ reading back

// ------------------------------------------------------------ the test domain

// 8 x 6 grid at 50 N, step 0.25 degree, three layers (level numbers 1, 3, 5).
// Exponents 1; scales x and y 0.02 (a reach of 50 km, in exact arithmetic
// dx/50 + dy/50 <= 1), time 0.001 (an observation absent from the slot is
// 101095 days away and covers nothing). Land: the three south-west points
// in layers 1 and 2, also the northern row in layer 2, all of layer 3.
constexpr int nlon = 8;
constexpr int nlat = 6;
constexpr float west = 0.0f;
constexpr float south = 50.0f;
constexpr float step = 0.25f;

bool is_land(int i, int j, int layer) {
  if (layer == 3) return true;
  if ((i == 1 && j == 1) || (i == 2 && j == 1) || (i == 1 && j == 2)) return true;
  return layer == 2 && j == nlat;
}

float grid_lon(int i) { return west + step * static_cast<float>(i - 1); }
float grid_lat(int j) { return south + step * static_cast<float>(j - 1); }

void write_mixed_domain(TestDomain& d) {
  const std::vector<int> levnum{1, 3, 5};
  d.grid_cfg(nlon, nlat, 3, levnum, west, grid_lon(nlon), south, grid_lat(nlat), step, step);
  for (int layer = 1; layer <= 3; ++layer) {
    for (const auto& [comp, value] : std::vector<std::pair<char, float>>{{'x', 0.02f}, {'y', 0.02f}, {'t', 0.001f}}) {
      std::vector<std::vector<float>> rows;
      for (int j = 1; j <= nlat; ++j) {
        std::vector<float> row;
        for (int i = 1; i <= nlon; ++i) row.push_back(is_land(i, j, layer) ? kelvo::no_value : value);
        rows.push_back(row);
      }
      d.scale_file("salt", levnum[static_cast<std::size_t>(layer - 1)], comp, rows);
    }
  }
  for (char comp : {'x', 'y', 't'}) d.power_file("salt", comp, {1.0f, 1.0f, 1.0f});
}

ObsRecord on_point(int i, int j, int kind, float freq = 12.0f) {
  ObsRecord r;
  r.lon = grid_lon(i);
  r.lat = grid_lat(j);
  r.kind = kind;
  r.freq = freq;
  return r;
}

// The observations of the mixed domain, in list order. Every position is a
// multiple of 1/16 degree, so read back exactly.
std::vector<ObsRecord> mixed_records() {
  ObsRecord one_time_far = on_point(6, 2, 4, 0.0f);
  one_time_far.date = "0015062005";  // a year and a half after the assessment day: absent
  ObsRecord temp_only = on_point(2, 5, 1);
  temp_only.salt = false;            // not kept for salinity
  return {
      on_point(3, 3, 1),  // a mooring
      on_point(4, 3, 3),  // a second kind overlapping the first
      on_point(6, 5, 2),  // surface only: layer 1
      one_time_far,       // kind 4, in no time slot: covers nothing
      on_point(7, 2, 9),  // a kind with no layer: covers nothing
      temp_only,
      on_point(8, 6, 1),  // on land in layer 2
  };
}

std::vector<std::string> lines_of(const std::vector<ObsRecord>& records) {
  std::vector<std::string> lines;
  for (const ObsRecord& r : records) lines.push_back(kelvo_test::metadata_line(r));
  return lines;
}

struct MixedRun {
  TestDomain d;
  fs::path meta;
  std::vector<std::string> args;
  RunResult map;
  fs::path map_file;
  MixedRun() {
    write_mixed_domain(d);
    meta = d.metadata(lines_of(mixed_records()));
    args = {"Tst", "salt", "1", "3", meta.string(), "mx"};
    map = run_map(args, d.dirs());
    map_file = d.results_dir() / "Tst_salt_cover_map_mx.nc";
  }
};

// ------------------------------------------------------------ file layout

TEST(KelvoMap, DimensionsAndCfAttributes) {
  MixedRun run;
  ASSERT_EQ(run.map.status, 0) << run.map.out;
  ASSERT_TRUE(fs::exists(run.map_file));
  NcRead nc(run.map_file);
  ASSERT_GE(nc.ncid, 0);

  EXPECT_EQ(nc.dim("lon"), 8u);
  EXPECT_EQ(nc.dim("lat"), 6u);
  EXPECT_EQ(nc.dim("layer"), 3u);
  EXPECT_EQ(nc.dim("obs"), 6u);   // the temperature-only record is not kept
  EXPECT_EQ(nc.dim("kind"), 5u);  // kinds 1, 2, 3, 4, 9

  EXPECT_EQ(nc.text("", "Conventions"), "CF-1.8");
  EXPECT_EQ(nc.text("", "domain"), "Tst");
  EXPECT_EQ(nc.text("", "parameter"), "salt");
  EXPECT_EQ(nc.text("", "assessment_day"), "2004-01-01");
  EXPECT_TRUE(fs::equivalent(nc.text("", "grid_configuration_file"), run.d.asc_dir() / "Tst_grid_cfg"));
  EXPECT_EQ(nc.text("", "scale_directory"), run.d.asc_dir().string() + "/");
  EXPECT_EQ(nc.text("", "metadata_file"), run.meta.string());
  EXPECT_NE(nc.text("", "title").find("Tst salt"), std::string::npos);
  const std::string command = "kelvo_map Tst salt 1 3 " + run.meta.string() + " mx";
  const std::string history = nc.text("", "history");
  ASSERT_GE(history.size(), command.size());
  EXPECT_EQ(history.substr(history.size() - command.size()), command);

  struct AxisCase {
    const char* name;
    const char* standard_name;
    const char* units;
    const char* axis;
  };
  for (const AxisCase& a : {AxisCase{"lon", "longitude", "degrees_east", "X"},
                            AxisCase{"lat", "latitude", "degrees_north", "Y"}}) {
    SCOPED_TRACE(a.name);
    EXPECT_EQ(nc.dims_of(a.name), std::vector<std::string>{a.name});
    EXPECT_EQ(nc.type_of(a.name), NC_FLOAT);
    EXPECT_EQ(nc.text(a.name, "standard_name"), a.standard_name);
    EXPECT_EQ(nc.text(a.name, "units"), a.units);
    EXPECT_EQ(nc.text(a.name, "axis"), a.axis);
  }
  // The axes are west/south plus a whole number of steps, here exact.
  const std::vector<float> lon = nc.floats("lon");
  const std::vector<float> lat = nc.floats("lat");
  for (int i = 1; i <= nlon; ++i) EXPECT_EQ(lon[static_cast<std::size_t>(i - 1)], 0.25f * static_cast<float>(i - 1));
  for (int j = 1; j <= nlat; ++j) EXPECT_EQ(lat[static_cast<std::size_t>(j - 1)], 50.0f + 0.25f * static_cast<float>(j - 1));
  EXPECT_EQ(nc.ints("layer"), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(nc.ints("levnum"), (std::vector<std::int32_t>{1, 3, 5}));
  EXPECT_EQ(nc.dims_of("levnum"), std::vector<std::string>{"layer"});
  // 2001, 2002 and 2003 have 1095 days.
  EXPECT_EQ(nc.floats("time"), std::vector<float>{1095.0f});
  EXPECT_EQ(nc.text("time", "units"), "days since 2001-01-01 00:00:00");

  EXPECT_EQ(nc.dims_of("coverage"), (std::vector<std::string>{"layer", "lat", "lon"}));
  EXPECT_EQ(nc.type_of("coverage"), NC_BYTE);
  nc_type t = NC_NAT;
  std::size_t len = 0;
  ASSERT_EQ(nc_inq_att(nc.ncid, nc.var("coverage"), "flag_values", &t, &len), NC_NOERR);
  EXPECT_EQ(t, NC_BYTE);
  ASSERT_EQ(len, 3u);
  signed char flags[3] = {};
  nc_get_att_schar(nc.ncid, nc.var("coverage"), "flag_values", flags);
  EXPECT_EQ(std::vector<int>(flags, flags + 3), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(nc.text("coverage", "flag_meanings"), "land water_not_covered water_covered");

  struct VarCase {
    const char* name;
    nc_type type;
    std::vector<std::string> dims;
    const char* units;  // nullptr: no units required
  };
  const std::vector<VarCase> vars = {
      {"nwater", NC_INT, {"layer"}, nullptr},
      {"covered_points", NC_INT, {"layer"}, nullptr},
      {"effective_coverage", NC_FLOAT, {"layer"}, "1"},
      {"obs_lat", NC_FLOAT, {"obs"}, "degrees_north"},
      {"obs_lon", NC_FLOAT, {"obs"}, "degrees_east"},
      {"obs_kind", NC_INT, {"obs"}, nullptr},
      {"obs_layer", NC_INT, {"obs"}, nullptr},
      {"obs_present", NC_BYTE, {"obs"}, nullptr},
      {"kind", NC_INT, {"kind"}, nullptr},
      {"coverage_by_kind", NC_FLOAT, {"kind", "layer"}, "1"},
      {"coverage_without_kind", NC_FLOAT, {"kind", "layer"}, "1"},
  };
  for (const VarCase& v : vars) {
    SCOPED_TRACE(v.name);
    ASSERT_GE(nc.var(v.name), 0);
    EXPECT_EQ(nc.type_of(v.name), v.type);
    EXPECT_EQ(nc.dims_of(v.name), v.dims);
    if (v.units != nullptr) {
      EXPECT_EQ(nc.text(v.name, "units"), v.units);
    }
  }
}

TEST(KelvoMap, ObservationsAsKept) {
  MixedRun run;
  ASSERT_EQ(run.map.status, 0) << run.map.out;
  NcRead nc(run.map_file);
  std::vector<ObsRecord> kept;
  for (const ObsRecord& r : mixed_records()) {
    if (r.salt) kept.push_back(r);
  }
  const std::vector<float> lat = nc.floats("obs_lat");
  const std::vector<float> lon = nc.floats("obs_lon");
  const std::vector<std::int32_t> kind = nc.ints("obs_kind");
  ASSERT_EQ(lat.size(), kept.size());
  ASSERT_EQ(kind.size(), kept.size());
  for (std::size_t n = 0; n < kept.size(); ++n) {
    EXPECT_EQ(lat[n], kept[n].lat) << n;
    EXPECT_EQ(lon[n], kept[n].lon) << n;
    EXPECT_EQ(kind[n], kept[n].kind) << n;
  }
  // Kind 2 counts for layer 1, kinds 1 to 7 for every layer, kind 9 for none.
  EXPECT_EQ(nc.ints("obs_layer"), (std::vector<std::int32_t>{-9, -9, 1, -9, 0, -9}));
  // Only the one-time observation of June 2005 is out of the slot.
  EXPECT_EQ(nc.bytes("obs_present"), (std::vector<signed char>{1, 1, 1, 0, 1, 1}));
  EXPECT_EQ(nc.ints("kind"), (std::vector<std::int32_t>{1, 2, 3, 4, 9}));
}

// ------------------------------------------------------------ the mask

TEST(KelvoMap, MaskAgreesWithTheConsoleOfKelvoBrino) {
  MixedRun run;
  ASSERT_EQ(run.map.status, 0) << run.map.out;
  const RunResult brino = kelvo_test::run_tool(run.args, run.d.dirs());
  ASSERT_EQ(brino.status, 0);
  const std::map<std::int32_t, LayerLine> lines = layer_lines(brino.out);
  ASSERT_EQ(lines.size(), 3u);
  ASSERT_GT(run.map.out.size(), brino.out.size());
  EXPECT_EQ(run.map.out.substr(0, brino.out.size()), brino.out);

  NcRead nc(run.map_file);
  const std::vector<signed char> cov = nc.bytes("coverage");
  const std::vector<std::int32_t> nwater = nc.ints("nwater");
  const std::vector<std::int32_t> covered = nc.ints("covered_points");
  const std::vector<float> effective = nc.floats("effective_coverage");
  ASSERT_EQ(cov.size(), static_cast<std::size_t>(3 * nlat * nlon));
  for (int layer = 1; layer <= 3; ++layer) {
    SCOPED_TRACE("layer " + std::to_string(layer));
    const LayerLine& l = lines.at(layer);
    std::int32_t water = 0;
    std::int32_t hits = 0;
    for (int j = 1; j <= nlat; ++j) {
      for (int i = 1; i <= nlon; ++i) {
        const signed char c = cov[static_cast<std::size_t>(((layer - 1) * nlat + (j - 1)) * nlon + (i - 1))];
        EXPECT_EQ(c == 0, is_land(i, j, layer)) << "i " << i << " j " << j;
        EXPECT_TRUE(c == 0 || c == 1 || c == 2);
        if (c != 0) ++water;
        if (c == 2) ++hits;
      }
    }
    EXPECT_EQ(water, l.nwater);
    EXPECT_EQ(hits, l.ksum);
    EXPECT_EQ(nwater[static_cast<std::size_t>(layer - 1)], l.nwater);
    EXPECT_EQ(covered[static_cast<std::size_t>(layer - 1)], l.ksum);
    // Bit for bit the tool's Kpct: Ksum / Nwater in single precision (NaN
    // for the all-land layer 3).
    EXPECT_TRUE(same_float(effective[static_cast<std::size_t>(layer - 1)], fraction(l)))
        << effective[static_cast<std::size_t>(layer - 1)];
  }
  EXPECT_EQ(lines.at(3).nwater, 0);
  // A grid point under a present observation (distances 0, weights 1) is
  // covered; a point 2 columns and 2 rows (36 + 56 km) from the nearest
  // observation is not.
  const auto at = [&](int i, int j, int layer) {
    return cov[static_cast<std::size_t>(((layer - 1) * nlat + (j - 1)) * nlon + (i - 1))];
  };
  EXPECT_EQ(at(3, 3, 1), 2);
  EXPECT_EQ(at(3, 3, 2), 2);
  EXPECT_EQ(at(1, 5, 1), 1);
  EXPECT_EQ(at(1, 5, 2), 1);
  // The surface-only observation covers its point in layer 1 alone.
  EXPECT_EQ(at(6, 5, 1), 2);
  EXPECT_EQ(at(6, 5, 2), 1);
  // The observation absent from the slot does not cover its own point.
  EXPECT_EQ(at(6, 2, 1), 1);
}

// ------------------------------------------------------------ contributions

TEST(KelvoMap, KindContributionsAreConsistent) {
  MixedRun run;
  ASSERT_EQ(run.map.status, 0) << run.map.out;
  NcRead nc(run.map_file);
  const std::vector<std::int32_t> kinds = nc.ints("kind");
  const std::vector<float> by = nc.floats("coverage_by_kind");
  const std::vector<float> without = nc.floats("coverage_without_kind");
  const std::vector<float> whole = nc.floats("effective_coverage");
  const std::size_t nl = whole.size();
  ASSERT_EQ(by.size(), kinds.size() * nl);
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    for (std::size_t l = 0; l < 2; ++l) {  // layers 1 and 2 have water
      SCOPED_TRACE("kind " + std::to_string(kinds[k]) + " layer " + std::to_string(l + 1));
      EXPECT_LE(by[k * nl + l], whole[l]);
      EXPECT_LE(without[k * nl + l], whole[l]);
      EXPECT_GE(by[k * nl + l], 0.0f);
    }
    // Layer 3 has no water point: every fraction is 0/0.
    EXPECT_TRUE(std::isnan(by[k * nl + 2]));
    EXPECT_TRUE(std::isnan(without[k * nl + 2]));
  }
  // Every covered point is covered by some kind, and kinds 1 and 3 cover
  // some points together, so the kinds alone add up to more than the whole.
  for (std::size_t l = 0; l < 2; ++l) {
    float sum = 0.0f;
    for (std::size_t k = 0; k < kinds.size(); ++k) sum += by[k * nl + l];
    EXPECT_GT(sum, whole[l]);
    EXPECT_GT(whole[l], 0.0f);
  }
  // Kinds whose observations cover nothing add nothing: kind 4 (absent from
  // the slot), kind 9 (no layer), kind 2 below the surface layer.
  const auto index = [&](std::int32_t kind) {
    return static_cast<std::size_t>(std::find(kinds.begin(), kinds.end(), kind) - kinds.begin());
  };
  struct NothingCase {
    std::int32_t kind;
    std::size_t layer_index;
  };
  for (const NothingCase& c : {NothingCase{4, 0}, NothingCase{4, 1}, NothingCase{9, 0}, NothingCase{9, 1},
                               NothingCase{2, 1}}) {
    SCOPED_TRACE("kind " + std::to_string(c.kind) + " layer " + std::to_string(c.layer_index + 1));
    EXPECT_EQ(by[index(c.kind) * nl + c.layer_index], 0.0f);
    EXPECT_EQ(without[index(c.kind) * nl + c.layer_index], whole[c.layer_index]);
  }
  // Kinds 1 and 3 each cover points the other does not: leaving either out
  // loses coverage, in both layers.
  for (std::size_t l = 0; l < 2; ++l) {
    EXPECT_LT(without[index(1) * nl + l], whole[l]);
    EXPECT_LT(without[index(3) * nl + l], whole[l]);
    EXPECT_GT(by[index(3) * nl + l], 0.0f);
  }
}

TEST(KelvoMap, KindContributionsEqualKelvoBrinoOnSubLists) {
  MixedRun run;
  ASSERT_EQ(run.map.status, 0) << run.map.out;
  NcRead nc(run.map_file);
  const std::vector<std::int32_t> kinds = nc.ints("kind");
  const std::vector<float> by = nc.floats("coverage_by_kind");
  const std::vector<float> without = nc.floats("coverage_without_kind");
  const std::size_t nl = 3;
  ASSERT_EQ(by.size(), kinds.size() * nl);
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    for (const bool alone : {true, false}) {
      SCOPED_TRACE("kind " + std::to_string(kinds[k]) + (alone ? " alone" : " left out"));
      std::vector<ObsRecord> subset;
      for (const ObsRecord& r : mixed_records()) {
        if ((r.kind == kinds[k]) == alone) subset.push_back(r);
      }
      const fs::path meta = run.d.metadata(lines_of(subset), "sub.lst");
      // Every observation examined for every point: the reference decision.
      const RunResult brino = kelvo_test::run_tool({"Tst", "salt", "1", "3", meta.string(), "sub"}, run.d.dirs(),
                                                   kelvo::Evaluation::exhaustive);
      ASSERT_EQ(brino.status, 0);
      const std::map<std::int32_t, LayerLine> lines = layer_lines(brino.out);
      ASSERT_EQ(lines.size(), nl);
      const std::vector<float>& got = alone ? by : without;
      for (std::size_t l = 0; l < nl; ++l) {
        EXPECT_TRUE(same_float(got[k * nl + l], fraction(lines.at(static_cast<std::int32_t>(l + 1)))))
            << "layer " << l + 1 << ": " << got[k * nl + l];
      }
    }
  }
}

// The evaluation per kind looks only at the points the whole network covers;
// the layers' water points are as they were afterwards, and deciding the
// kinds in the assessment's own search gives the same.
TEST(KelvoMap, KindContributionsLeaveTheWaterPointsAsTheyWere) {
  TestDomain d;
  write_mixed_domain(d);
  const fs::path meta = d.metadata(lines_of(mixed_records()));
  const std::vector<std::string> argv{"kelvo_map", "Tst", "salt", "1", "2", meta.string(), "w"};
  textio::Console console;
  kelvo::legacy::Printer out{console};
  kelvo::legacy::RunState ds(d.dirs());
  kelvo::legacy::run_assessment(out, ds, argv, {kelvo::Evaluation::fast, true, false, 1});
  const kelvo::Assessment& maps = ds.assessment;
  const auto water = [](const kelvo::Domain& domain) {
    std::vector<std::int32_t> w;
    for (std::int32_t k = domain.first_layer(); k <= domain.last_layer(); ++k) {
      w.insert(w.end(), domain.layer(k).water.begin(), domain.layer(k).water.end());
    }
    return w;
  };
  const std::vector<std::int32_t> before = water(ds.domain);
  const kelvo::KindContributions c = kelvo::kind_contributions(ds.domain, maps);
  EXPECT_EQ(water(ds.domain), before);
  EXPECT_EQ(c.kinds, (std::vector<std::int32_t>{1, 2, 3, 4, 9}));
  EXPECT_EQ(c.by_kind.size(), 10u);
  // The kinds decided in the assessment's own search: the same map and contributions.
  kelvo::legacy::RunState again(d.dirs());
  kelvo::legacy::run_assessment(out, again, argv, {kelvo::Evaluation::fast, true, true, 1});
  const kelvo::Assessment& merged = again.assessment;
  ASSERT_EQ(merged.kinds, c.kinds);
  EXPECT_EQ(merged.covered, maps.covered);
  const kelvo::KindContributions m = kelvo::kind_contributions(again.domain, merged);
  EXPECT_EQ(m.by_kind, c.by_kind);
  EXPECT_EQ(m.without_kind, c.without_kind);
}

// ------------------------------------------------------------ kelvo_brino unchanged

struct GoldenCase {
  const char* name;
  std::vector<std::string> args;  // "@META@" is the metadata list
  const char* summary_name;
  const char* map_name;
};

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size())) {
    text.replace(p, from.size(), to);
  }
  return text;
}

// The hand-derived golden runs of kelvo_brino: kelvo_map prints the same
// console up to the coverage and then names its file, writes no summary,
// and kelvo_brino run afterwards still gives its expected console and summary.
TEST(KelvoMap, ConsoleOfKelvoBrinoUpToTheCoverage) {
  const std::vector<GoldenCase> cases = {
      {"two_layers_salt", {"Kat", "salt", "1", "2", "@META@", "g1"}, "Kat_salt_cover_summary_g1.asc",
       "Kat_salt_cover_map_g1.nc"},
      {"dateline_temp", {"Dln", "temp", "2", "3", "@META@", "t2"}, "Dln_temp_cover_summary_t2.asc",
       "Dln_temp_cover_map_t2.nc"},
      {"empty_range", {"Emp", "salt", "2", "1", "@META@"}, "Emp_salt_cover_summary_.asc",
       "Emp_salt_cover_map_.nc"},
  };
  const fs::path golden = fs::path(KELVO_TEST_DATA_DIR) / "golden";
  for (const GoldenCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = golden / c.name;
    kelvo_test::TempDir tmp;
    fs::copy(dir / "input", tmp.path, fs::copy_options::recursive);
    const fs::path results = tmp.path / "BRINO_results";
    fs::create_directory(results);
    const kelvo::legacy::BaseDirs dirs{(tmp.path / "BRINO_S").string() + "/", results.string() + "/"};
    std::vector<std::string> args = c.args;
    for (std::string& a : args) a = replace_all(a, "@META@", (tmp.path / "meta.lst").string());
    const std::string expected_out =
        replace_all(kelvo_test::read_file(dir / "expected_stdout.txt"), "@SCALE_DIR@", dirs.scale_dir);

    const RunResult map = run_map(args, dirs);
    EXPECT_EQ(map.status, 0) << map.out;
    ASSERT_GE(map.out.size(), expected_out.size());
    EXPECT_EQ(map.out.substr(0, expected_out.size()), expected_out);
    // Then the one line naming the file (wrapped when long).
    const std::string rest = map.out.substr(expected_out.size());
    const std::string path = (results / c.map_name).string();
    EXPECT_TRUE(rest == " Coverage map written to " + path + "\n" ||
                rest == " Coverage map written to \n " + path + "\n")
        << rest;
    EXPECT_EQ(names_in(results), std::set<std::string>{c.map_name});
    NcRead nc(results / c.map_name);
    EXPECT_GE(nc.ncid, 0);

    const RunResult brino = kelvo_test::run_tool(args, dirs);
    EXPECT_EQ(brino.status, 0);
    EXPECT_EQ(brino.out, expected_out);
    EXPECT_EQ(kelvo_test::read_file(results / c.summary_name), kelvo_test::read_file(dir / "expected_summary.asc"));
  }
}

// Every attribute of variable v (NC_GLOBAL: of the file) but `history`, as bytes.
std::string attributes_of(int ncid, int v) {
  int natts = 0;
  nc_inq_varnatts(ncid, v, &natts);
  std::string all;
  for (int a = 0; a < natts; ++a) {
    char name[NC_MAX_NAME + 1] = {};
    nc_type type = NC_NAT;
    std::size_t len = 0, size = 0;
    nc_inq_attname(ncid, v, a, name);
    if (v == NC_GLOBAL && std::string(name) == "history") continue;
    nc_inq_att(ncid, v, name, &type, &len);
    nc_inq_type(ncid, type, nullptr, &size);
    std::string value(len * size, '\0');
    nc_get_att(ncid, v, name, value.data());
    all += std::string(name) + "=" + value + ";";
  }
  return all;
}

// What a map file holds, but for the time of the run in `history` (the
// file's own bytes carry a checksum over it): every dimension, variable,
// attribute and value.
std::string map_contents(const fs::path& file) {
  NcRead nc(file);
  int ndims = 0, nvars = 0;
  nc_inq(nc.ncid, &ndims, &nvars, nullptr, nullptr);
  std::string all = attributes_of(nc.ncid, NC_GLOBAL);
  for (int d = 0; d < ndims; ++d) {
    char name[NC_MAX_NAME + 1] = {};
    std::size_t len = 0;
    nc_inq_dim(nc.ncid, d, name, &len);
    all += std::string(name) + "[" + std::to_string(len) + "]";
  }
  for (int v = 0; v < nvars; ++v) {
    char name[NC_MAX_NAME + 1] = {};
    nc_type type = NC_NAT;
    std::size_t size = 0;
    nc_inq_varname(nc.ncid, v, name);
    nc_inq_vartype(nc.ncid, v, &type);
    nc_inq_type(nc.ncid, type, nullptr, &size);
    std::string values(nc.size_of(name) * size, '\0');
    if (!values.empty()) nc_get_var(nc.ncid, v, values.data());
    all += std::string(name) + ":" + std::to_string(type) + ":" + attributes_of(nc.ncid, v) + values;
  }
  return all;
}

// The sample domain mapped on 1, 2 and 3 threads: the same console and the
// same file contents but for the time of the run.
TEST(KelvoMap, SameConsoleAndFileOnOneTwoAndThreeThreads) {
  const fs::path source(KELVO_SOURCE_DIR);
  kelvo_test::TempDir tmp;
  fs::copy_file(source / "sample/metadata/NsBs_network_2004.lst", tmp.path / "net.lst");
  fs::create_directory(tmp.path / "results");
  const kelvo::legacy::BaseDirs dirs{(source / "sample/BRINO_S").string() + "/", (tmp.path / "results").string() + "/"};
  const std::vector<std::string> argv{"kelvo_map", "NsBs", "salt", "1", "5", (tmp.path / "net.lst").string(), "thr"};
  const fs::path file = tmp.path / "results" / "NsBs_salt_cover_map_thr.nc";
  std::string out_one, file_one;
  for (int threads : {1, 2, 3}) {
    SCOPED_TRACE(threads);
    textio::Console console;
    ASSERT_EQ(kelvo::legacy::run_kelvo_map(argv, dirs, console, threads), 0) << console.out;
    const std::string contents = map_contents(file);
    EXPECT_GT(contents.size(), std::size_t{100000});
    if (threads == 1) {
      out_one = console.out;
      file_one = contents;
    }
    EXPECT_EQ(console.out, out_one);
    EXPECT_TRUE(contents == file_one);
  }
}

TEST(KelvoMap, EmptyRangeAndEmptyListGiveEmptyDimensions) {
  const fs::path golden = fs::path(KELVO_TEST_DATA_DIR) / "golden" / "empty_range";
  kelvo_test::TempDir tmp;
  fs::copy(golden / "input", tmp.path, fs::copy_options::recursive);
  const fs::path results = tmp.path / "BRINO_results";
  fs::create_directory(results);
  const kelvo::legacy::BaseDirs dirs{(tmp.path / "BRINO_S").string() + "/", results.string() + "/"};
  const RunResult map = run_map({"Emp", "salt", "2", "1", (tmp.path / "meta.lst").string()}, dirs);
  ASSERT_EQ(map.status, 0) << map.out;
  NcRead nc(results / "Emp_salt_cover_map_.nc");
  ASSERT_GE(nc.ncid, 0);
  EXPECT_EQ(nc.dim("layer"), 0u);
  EXPECT_EQ(nc.dim("obs"), 0u);
  EXPECT_EQ(nc.dim("kind"), 0u);
  EXPECT_GT(nc.dim("lon"), 0u);
  EXPECT_EQ(nc.text("", "Conventions"), "CF-1.8");
}

// ------------------------------------------------------------ failures

TEST(KelvoMap, MissingResultsDirectoryGivesFailureAndNoFile) {
  TestDomain d;
  write_mixed_domain(d);
  const fs::path meta = d.metadata(lines_of(mixed_records()));
  fs::remove_all(d.results_dir());
  const RunResult r = run_map({"Tst", "salt", "1", "2", meta.string(), "x"}, d.dirs());
  EXPECT_EQ(r.status, 2);
  const std::string path = (d.results_dir() / "Tst_salt_cover_map_x.nc").string();
  EXPECT_NE(r.out.find(" STOP (write_map) "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(path), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("No such file or directory"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(d.results_dir()));
  // The console up to the coverage is kelvo_brino's.
  fs::create_directory(d.results_dir());
  const RunResult brino = kelvo_test::run_tool({"Tst", "salt", "1", "2", meta.string(), "x"}, d.dirs());
  EXPECT_EQ(r.out.substr(0, brino.out.size()), brino.out);
}

TEST(KelvoMap, AnOlderMapIsReplacedAndNoTemporaryFileStays) {
  MixedRun run;
  ASSERT_EQ(run.map.status, 0);
  // The same name again with only the kind 9 observation: nothing covered.
  const fs::path meta = run.d.metadata(lines_of({on_point(7, 2, 9)}), "nine.lst");
  std::vector<std::string> args = run.args;
  args[4] = meta.string();
  const RunResult again = run_map(args, run.d.dirs());
  ASSERT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(names_in(run.d.results_dir()), std::set<std::string>{"Tst_salt_cover_map_mx.nc"});
  NcRead nc(run.map_file);
  EXPECT_EQ(nc.dim("obs"), 1u);
  EXPECT_EQ(nc.ints("covered_points"), (std::vector<std::int32_t>{0, 0, 0}));
}

TEST(KelvoMap, TooFewArgumentsGiveTheUsage) {
  TestDomain d;
  const RunResult r = run_map({"Tst", "salt", "1"}, d.dirs());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "\nusage: kelvo_map Domain[NsBs, VARO, IBIROOS, MEdit, BlackSea  Par[salt,temp] level_start "
            "level_end \n\n");
  EXPECT_TRUE(names_in(d.results_dir()).empty());
}

// ------------------------------------------------------------ the plotting script

bool have_gmt() { return std::system("command -v gmt >/dev/null 2>&1 && command -v gs >/dev/null 2>&1") == 0; }

struct PngSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Width and height from the IHDR chunk of a PNG file.
PngSize png_size(const fs::path& p) {
  const std::string s = kelvo_test::read_file(p);
  PngSize size;
  const std::string signature = "\x89PNG\r\n\x1a\n";
  if (s.size() < 24 || s.compare(0, 8, signature) != 0 || s.compare(12, 4, "IHDR") != 0) return size;
  const auto be32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | static_cast<unsigned char>(s[at + k]);
    return v;
  };
  size.width = be32(16);
  size.height = be32(20);
  return size;
}

TEST(PlotCoverage, OnePngPerLayerOfTheExpectedSize) {
  if (!have_gmt()) GTEST_SKIP() << "gmt or ghostscript not installed";
  MixedRun run;
  ASSERT_EQ(run.map.status, 0) << run.map.out;
  const fs::path out = run.d.root.path / "png";
  const std::string script = std::string(KELVO_SOURCE_DIR) + "/tools/plot_coverage";
  const std::string command = "'" + script + "' '" + run.map_file.string() + "' '" + out.string() +
                              "' > '" + (run.d.root.path / "plot.log").string() + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << kelvo_test::read_file(run.d.root.path / "plot.log");
  const std::string stem = run.map_file.stem().string() + "_layer";
  for (int layer = 1; layer <= 3; ++layer) {
    SCOPED_TRACE("layer " + std::to_string(layer));
    const fs::path png = out / (stem + std::to_string(layer) + ".png");
    ASSERT_TRUE(fs::exists(png));
    // The script draws on a fixed 24 x 16 cm canvas at 200 dots per inch.
    const PngSize size = png_size(png);
    EXPECT_EQ(size.width, 1890u);
    EXPECT_EQ(size.height, 1260u);
  }
  EXPECT_EQ(names_in(out).size(), 3u);

  // Only the layers named; a layer the file does not hold is refused.
  const fs::path only = run.d.root.path / "only";
  const std::string select = "'" + script + "' '" + run.map_file.string() + "' '" + only.string() + "' 2";
  EXPECT_EQ(std::system((select + " >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(names_in(only), std::set<std::string>{stem + "2.png"});
  EXPECT_NE(std::system((select + "4 >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(names_in(only), std::set<std::string>{stem + "2.png"});
}

}  // namespace
