// Domain files: a tree converted to a file assesses as the tree; a file
// exported to a tree gives kelvo_brino's summary of the original tree; a
// domain created from a bathymetry follows its rule, and a global one wraps
// round at the seam exactly as the exhaustive evaluation does.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/assess.hpp"
#include "core/calendar.hpp"
#include "core/contributions.hpp"
#include "core/series.hpp"
#include "core/coverage_engine.hpp"
#include "io/bathymetry.hpp"
#include "io/domain_file.hpp"
#include "io/domain_tree.hpp"
#include "io/inputs.hpp"
#include "io/map_file.hpp"
#include "io/series_file.hpp"
#include "support/kelvo_cli_run.hpp"
#include "support/nc_read.hpp"
#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;
using kelvo_test::NcRead;

const fs::path sample = fs::path(KELVO_SOURCE_DIR) / "sample";
const fs::path golden = fs::path(KELVO_TEST_DATA_DIR) / "golden";

// Every variable of two NetCDF files holds the same values.
void expect_same_variables(const fs::path& a, const fs::path& b) {
  NcRead x(a), y(b);
  int nvars = 0;
  ASSERT_EQ(nc_inq_nvars(x.ncid, &nvars), NC_NOERR);
  for (int v = 0; v < nvars; ++v) {
    char name[NC_MAX_NAME + 1] = {};
    nc_inq_varname(x.ncid, v, name);
    SCOPED_TRACE(name);
    ASSERT_GE(y.var(name), 0);
    if (x.type_of(name) == NC_CHAR) {
      EXPECT_EQ(x.strings(name), y.strings(name));
    } else {
      const std::vector<float> fx = x.floats(name), fy = y.floats(name);
      ASSERT_EQ(fx.size(), fy.size());
      for (std::size_t n = 0; n < fx.size(); ++n) {
        ASSERT_TRUE(fx[n] == fy[n] || (std::isnan(fx[n]) && std::isnan(fy[n]))) << n;
      }
    }
  }
}

struct TreeCase {
  fs::path scale_dir;
  std::vector<std::string> args;  // kelvo_brino's six
};

std::vector<TreeCase> tree_cases() {
  const auto input = [](const char* c) { return golden / c / "input"; };
  const std::string list = (sample / "metadata" / "NsBs_network_2004.lst").string();
  return {{input("two_layers_salt") / "BRINO_S", {"Kat", "salt", "1", "2", (input("two_layers_salt") / "meta.lst").string(), "g"}},
          {input("dateline_temp") / "BRINO_S", {"Dln", "temp", "2", "3", (input("dateline_temp") / "meta.lst").string(), "d"}},
          {sample / "BRINO_S", {"NsBs", "salt", "1", "5", list, "s"}},
          {sample / "BRINO_S", {"NsBs", "temp", "1", "5", list, "t"}}};
}

TEST(DomainFile, ConvertedFileAndExportedTreeAssessAsTheTree) {
  for (const TreeCase& c : tree_cases()) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    kelvo_test::TempDir t;
    const std::string file = (t.path / (c.args[0] + ".nc")).string();
    const auto convert = kelvo_test::kelvo_cli({"domain", "convert", "--domain", c.args[0], "--scale-dir",
                                                c.scale_dir.string(), "-o", file, "-q"});
    ASSERT_EQ(convert.status, 0) << convert.err;
    const std::vector<std::string> run{"--param", c.args[1], "--layers", c.args[2] + "-" + c.args[3], "--obs",
                                       c.args[4], "--day", "2004-01-01", "--by-kind", "--lenient", "-q", "-o"};
    std::vector<std::string> on_tree{"map", "--domain", c.args[0], "--scale-dir", c.scale_dir.string()};
    std::vector<std::string> on_file{"map", "--domain", file};
    on_tree.insert(on_tree.end(), run.begin(), run.end());
    on_file.insert(on_file.end(), run.begin(), run.end());
    on_tree.push_back((t.path / "tree.nc").string());
    on_file.push_back((t.path / "file.nc").string());
    ASSERT_EQ(kelvo_test::kelvo_cli(on_tree).status, 0);
    const auto from_file = kelvo_test::kelvo_cli(on_file);
    ASSERT_EQ(from_file.status, 0) << from_file.err;
    expect_same_variables(t.path / "tree.nc", t.path / "file.nc");

    const auto exported = kelvo_test::kelvo_cli({"domain", "export", file, "--scale-dir", (t.path / "trees").string()});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.err, "");  // every value reads back as itself
    fs::create_directories(t.path / "r1");
    fs::create_directories(t.path / "r2");
    const auto original = kelvo_test::run_tool(c.args, {c.scale_dir.string() + "/", (t.path / "r1").string() + "/"});
    const auto again = kelvo_test::run_tool(c.args, {(t.path / "trees").string() + "/", (t.path / "r2").string() + "/"});
    ASSERT_EQ(original.status, 0);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(kelvo_test::layer_lines(again.out).size(), kelvo_test::layer_lines(original.out).size());
    const std::string summary = c.args[0] + "_" + c.args[1] + "_cover_summary_" + c.args[5] + ".asc";
    EXPECT_EQ(kelvo_test::read_file(t.path / "r2" / summary), kelvo_test::read_file(t.path / "r1" / summary));
  }
}

// However a domain file stores its planes (compressed or not, chunked by
// layer or otherwise, as another tool rewrote it), the same domain is read.
TEST(DomainFile, EveryStorageReadsTheSamePlanes) {
  kelvo_test::TempDir t;
  const std::string scale = (sample / "BRINO_S").string();
  const std::string plain = (t.path / "plain.nc").string(), packed = (t.path / "packed.nc").string();
  ASSERT_EQ(kelvo_test::kelvo_cli({"domain", "convert", "--domain", "NsBs", "--scale-dir", scale, "-o", packed, "-q"}).status, 0);
  ASSERT_EQ(kelvo_test::kelvo_cli({"domain", "convert", "--domain", "NsBs", "--scale-dir", scale, "-o", plain, "-q",
                                   "--deflate", "0"}).status, 0);
  std::vector<std::string> files{plain, packed};
  // Rewritten by nccopy (netcdf-bin): other chunks, and the strongest deflate.
  const std::string tiles = (t.path / "tiles.nc").string(), strong = (t.path / "strong.nc").string();
  if (std::system(("nccopy -c layer/2,lat/50,lon/40 " + packed + " " + tiles + " 2>/dev/null").c_str()) == 0) {
    files.push_back(tiles);
  }
  if (std::system(("nccopy -s -d 9 " + packed + " " + strong + " 2>/dev/null").c_str()) == 0) files.push_back(strong);
  const kelvo::Domain tree = kelvo::io::read_domain_tree(scale + "/", "NsBs", "temp", 2, 5, 1);
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    const kelvo::Domain d = kelvo::io::read_domain_file(kelvo::io::read_domain_header(f), "temp", 2, 5, 3);
    for (std::int32_t k = 2; k <= 5; ++k) {
      const kelvo::DomainLayer& a = tree.layer(k);
      const kelvo::DomainLayer& b = d.layer(k);
      ASSERT_TRUE(std::equal(a.sx.begin(), a.sx.end(), b.sx.begin()) && std::equal(a.sy.begin(), a.sy.end(), b.sy.begin()) &&
                  std::equal(a.st.begin(), a.st.end(), b.st.begin()))
          << k;
      ASSERT_EQ(a.nwater, b.nwater);
    }
  }
}

// A bathymetry of elevations on a global 1-degree grid of nodes 0..359 E,
// -90..90 N: land, shelves and deep sea in a pattern, deep all along the
// 180th meridian.
double elevation(int i, int j) {
  if (i >= 170 && i <= 190) return -3000.0;
  const int pattern = (i * 7 + j * 3) % 4;
  return pattern == 0 ? 50.0 : -500.0 * pattern;
}

void write_bathymetry(const fs::path& path) {
  int ncid = -1, lon_dim = -1, lat_dim = -1, lon = -1, lat = -1, z = -1;
  ASSERT_EQ(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &ncid), NC_NOERR);
  nc_def_dim(ncid, "lon", 360, &lon_dim);
  nc_def_dim(ncid, "lat", 181, &lat_dim);
  nc_def_var(ncid, "lon", NC_DOUBLE, 1, &lon_dim, &lon);
  nc_def_var(ncid, "lat", NC_DOUBLE, 1, &lat_dim, &lat);
  const int dims[2] = {lat_dim, lon_dim};
  nc_def_var(ncid, "elevation", NC_FLOAT, 2, dims, &z);
  nc_enddef(ncid);
  std::vector<double> lons(360), lats(181);
  std::vector<float> values;
  for (int i = 0; i < 360; ++i) lons[static_cast<std::size_t>(i)] = i;
  for (int j = 0; j < 181; ++j) lats[static_cast<std::size_t>(j)] = j - 90;
  for (int j = 0; j < 181; ++j) {
    for (int i = 0; i < 360; ++i) values.push_back(static_cast<float>(elevation(i, j)));
  }
  nc_put_var_double(ncid, lon, lons.data());
  nc_put_var_double(ncid, lat, lats.data());
  nc_put_var_float(ncid, z, values.data());
  ASSERT_EQ(nc_close(ncid), NC_NOERR);
}

TEST(DomainCreate, FollowsTheRuleAndWrapsRoundTheSeamAsTheExhaustiveEvaluation) {
  kelvo_test::TempDir t;
  write_bathymetry(t.path / "bathy.nc");
  const std::string file = (t.path / "Globe.nc").string();
  const auto create = kelvo_test::kelvo_cli(
      {"domain", "create", "--bathymetry", (t.path / "bathy.nc").string(), "--region", "-180", "180", "-80", "80",
       "--step", "2", "2", "--depths", "0,1000", "--reach-x", "rossby:150,900", "--reach-y", "200,120", "--reach-t",
       "5", "--exponents", "2,1.5,1", "--param", "temp", "-o", file});
  ASSERT_EQ(create.status, 0) << create.err;
  const kelvo::io::DomainFileHeader h = kelvo::io::read_domain_header(file);
  ASSERT_EQ(h.grid.nlon, 180);
  ASSERT_EQ(h.grid.nlat, 81);
  EXPECT_TRUE(h.grid.periodic);
  EXPECT_EQ(h.name, "Globe");
  const float depths[2] = {0.0f, 1000.0f};
  const double reach_y[2] = {200.0, 120.0};
  for (std::int32_t k = 1; k <= 2; ++k) {
    const kelvo::Domain d = kelvo::io::read_domain_file(h, "temp", k, k);
    const kelvo::Exponents& e = d.exponents(k);
    EXPECT_TRUE(e.px == 2.0f && e.py == 1.5f && e.pt == 1.0f);
    const kelvo::DomainLayer& l = d.layer(k);
    for (std::int32_t j = 0; j < 81; ++j) {
      const double lat = -80.0 + 2.0 * j;
      const double s = std::fabs(std::sin(lat * M_PI / 180.0));
      const double reach_x = s > 0.0 ? std::min(150.0 * 0.5 / s, 900.0) : 900.0;
      for (std::int32_t i = 0; i < 180; ++i) {
        const int node = (-180 + 2 * i + 360) % 360;
        const std::size_t q = static_cast<std::size_t>(i + 180 * j);
        const bool water = -elevation(node, 10 + 2 * j) > depths[k - 1];
        ASSERT_EQ(l.water[q] == 1, water) << k << " " << i << " " << j;
        if (!water) continue;
        ASSERT_EQ(l.sx[q], static_cast<float>(std::pow(reach_x, -2.0)));
        ASSERT_EQ(l.sy[q], static_cast<float>(std::pow(reach_y[k - 1], -1.5)));
        ASSERT_EQ(l.st[q], static_cast<float>(std::pow(5.0, -1.0)));
      }
    }
  }

  // One observation at 179.9 E near the equator and one past the pole's
  // last row: the map's decisions are the exhaustive ones, and the points
  // just east and just west of the seam are covered.
  kelvo_test::write_file(t.path / "obs.csv", "kind,latitude,longitude,time_start,parameters\n"
                                             "1,2.0,179.9,2004-01-01,TEMP\n1,79.5,-540.5,2004-01-01,TEMP\n");
  const fs::path map = t.path / "map.nc";
  const auto run = kelvo_test::kelvo_cli({"map", "--domain", file, "--param", "temp", "--obs",
                                          (t.path / "obs.csv").string(), "--day", "2004-01-01", "-o", map.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<signed char> coverage = NcRead(map).bytes("coverage");
  const kelvo::Domain d = kelvo::io::read_domain_file(h, "temp", 1, 2);
  const std::vector<kelvo::Observation> obs{{2.0f, 179.9f, 1.5f, kelvo::every_layer, 1},
                                            {79.5f, -540.5f, 1.5f, kelvo::every_layer, 1}};
  for (std::int32_t k = 1; k <= 2; ++k) {
    for (std::int64_t q = 0; q < 180 * 81; ++q) {
      const bool exhaustive = kelvo::point_covered_exhaustive(d.axes(), d.fields(k), obs, 1.5f, q % 180, q / 180);
      ASSERT_EQ(coverage[static_cast<std::size_t>((k - 1) * 180 * 81 + q)] == 2, exhaustive) << k << " " << q;
    }
  }
  const std::size_t equator_row = 180 * 41;  // latitude 2
  EXPECT_EQ(coverage[equator_row + 179], 2);  // 178 E
  EXPECT_EQ(coverage[equator_row + 0], 2);    // 180 W
  EXPECT_EQ(coverage[equator_row + 1], 2);    // 178 W
}

// A bathymetry of depths (positive down) stored as scaled integers with a
// fill value, latitudes from north to south and longitudes from 0 to 359:
// each grid point takes its nearest node, round the circle, and a fill or a
// point off the bathymetry has no value.
TEST(Bathymetry, NearestNodeOfAnyLayoutOfDepths) {
  kelvo_test::TempDir t;
  const fs::path path = t.path / "depths.nc";
  int ncid = -1, dims[2], lon = -1, lat = -1, z = -1;
  ASSERT_EQ(nc_create(path.c_str(), NC_NETCDF4, &ncid), NC_NOERR);
  nc_def_dim(ncid, "latitude", 3, &dims[0]);
  nc_def_dim(ncid, "longitude", 360, &dims[1]);
  nc_def_var(ncid, "latitude", NC_DOUBLE, 1, &dims[0], &lat);
  nc_def_var(ncid, "longitude", NC_DOUBLE, 1, &dims[1], &lon);
  nc_def_var(ncid, "depth", NC_SHORT, 2, dims, &z);
  const short fill = -32767;
  const double scale = 2.0;
  nc_put_att_short(ncid, z, "_FillValue", NC_SHORT, 1, &fill);
  nc_put_att_double(ncid, z, "scale_factor", NC_DOUBLE, 1, &scale);
  nc_enddef(ncid);
  const double lats[3] = {10.0, 0.0, -10.0};
  std::vector<double> lons(360);
  std::vector<short> depth(3 * 360);
  for (int i = 0; i < 360; ++i) lons[static_cast<std::size_t>(i)] = i;
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 360; ++i) depth[static_cast<std::size_t>(j * 360 + i)] = static_cast<short>(j == 1 && i == 5 ? fill : 100 * j + i);
  }
  nc_put_var_double(ncid, lat, lats);
  nc_put_var_double(ncid, lon, lons.data());
  nc_put_var_short(ncid, z, depth.data());
  ASSERT_EQ(nc_close(ncid), NC_NOERR);

  kelvo::Grid g;
  g.nlon = 4;
  g.nlat = 3;
  g.lon = {-0.6f, 5.2f, 179.5f, 359.7f};  // 179.5 is a tie between 179 and 180: the lower index
  g.lat = {-9.0f, 1.0f, 20.0f};           // 20 N lies off the bathymetry
  const kelvo::io::BathymetrySample b = kelvo::io::sample_bathymetry(path.string(), "", g);
  EXPECT_EQ(b.variable, "depth");
  EXPECT_TRUE(b.depth_positive_down);
  EXPECT_EQ(b.outside, 4);
  const float expected[8] = {2.0f * (200 + 359), 2.0f * (200 + 5), 2.0f * (200 + 179), 2.0f * (200 + 0),
                             2.0f * (100 + 359), NAN, 2.0f * (100 + 179), 2.0f * (100 + 0)};
  for (std::size_t q = 0; q < 8; ++q) {
    EXPECT_TRUE(b.sea_depth[q] == expected[q] || (std::isnan(b.sea_depth[q]) && std::isnan(expected[q]))) << q;
  }
  for (std::size_t q = 8; q < 12; ++q) EXPECT_TRUE(std::isnan(b.sea_depth[q])) << q;
}

TEST(DomainFile, MistakesNameTheFileAndTheReason) {
  kelvo_test::TempDir t;
  const std::string file = (t.path / "NsBs.nc").string();
  ASSERT_EQ(kelvo_test::kelvo_cli({"domain", "convert", "--domain", "NsBs", "--scale-dir", (sample / "BRINO_S").string(),
                                   "-o", file, "-q"}).status, 0);
  const std::string list = (sample / "metadata" / "NsBs_network_2004.lst").string();
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const std::vector<Row> rows{
      {{"map", "--domain", file, "--param", "salt", "--layers", "4-9", "--obs", list, "--day", "2004-01-01"}, 1,
       "kelvo map: --layers 4-9: " + file + " has layers 1 to 5"},
      {{"domain", "export", file, "--scale-dir", (sample / "BRINO_S").string()}, 2,
       "kelvo domain export: " + (sample / "BRINO_S" / "NsBs_ASC").string() + "/ already exists"},
      {{"domain", "create", "--bathymetry", list, "--region", "0", "10", "0", "10", "--step", "1", "1", "--depths",
        "0", "--reach-x", "10", "--reach-y", "10", "--reach-t", "1,2", "--exponents", "1,1,1", "--param", "salt", "-o",
        (t.path / "x.nc").string()},
       1, "kelvo domain create: --reach-t 1,2: one reach, or one per layer (1), or rossby:R30,MAX"},
      {{"domain", "create", "--bathymetry", list, "--region", "0", "10", "0", "10", "--step", "1", "1", "--depths",
        "0", "--reach-x", "10", "--reach-y", "10", "--reach-t", "1", "--exponents", "1,1,1", "--param", "salt", "-o",
        (t.path / "x.nc").string()},
       2, "kelvo domain create: --bathymetry " + list + ": cannot open as NetCDF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    const auto r = kelvo_test::kelvo_cli(row.args);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err.rfind(row.message, 0), 0u) << r.err;
  }
  EXPECT_FALSE(fs::exists(t.path / "x.nc"));
}

}  // namespace

namespace {

// The whole domain's assessment of the sample, written by the writers'
// whole-file path: what kelvo map and series wrote before they went layer
// by layer.
void write_whole_map(const kelvo::io::TreeInputs& in, float slot, bool by_kind, const fs::path& path) {
  kelvo::AssessRequest r;
  r.last_layer = 5;
  r.slot = slot;
  r.keep_decisions = true;
  r.by_kind = by_kind;
  const kelvo::Assessment a = kelvo::assess(in.domain, in.observations, r);
  const kelvo::KindContributions kinds = by_kind ? kelvo::kind_contributions(in.domain, a) : kelvo::KindContributions{};
  kelvo::io::MapContents m = kelvo::io::map_contents(in.domain, a, kelvo::coverage_classes(in.domain, a), kinds);
  m.kind_names = true;
  m.platforms = in.observations.platforms;
  for (const kelvo::ObservationRecord& record : in.observations.records) m.obs_platform.push_back(record.platform);
  kelvo::io::write_map_file(path.string(), m);
}

void write_whole_series(const kelvo::io::TreeInputs& in, std::span<const float> slots, bool by_kind, const fs::path& path) {
  kelvo::SeriesRequest r;
  r.last_layer = 5;
  r.slots.assign(slots.begin(), slots.end());
  r.by_kind = by_kind;
  const kelvo::SeriesResult s = kelvo::assess_series(in.domain, in.observations.records, r);
  kelvo::io::write_series_file(path.string(), kelvo::io::series_contents(in.domain, s, slots, {}));
}

}  // namespace

// Map and series read, assess and write a layer at a time (the next layer
// read meanwhile on a thread of its own): their files hold what the whole
// domain's assessment gives, with or without the kinds, on 1 or 2 threads.
TEST(LayerByLayer, MapAndSeriesFilesHoldTheWholeDomainsAssessment) {
  const std::string list = (sample / "metadata" / "NsBs_network_2004Q1.lst").string();
  const std::vector<std::string> lists{list};
  const kelvo::io::TreeInputs in =
      kelvo::io::read_tree_inputs((sample / "BRINO_S").string() + "/", "NsBs", "salt", 1, 5, lists, 1);
  std::vector<float> slots;
  for (int d = 1; d <= 12; ++d) slots.push_back(kelvo::assessment_slot(kelvo::CalendarDay{2004, 1, d}));
  for (const bool by_kind : {false, true}) {
    for (const char* threads : {"1", "2"}) {
      SCOPED_TRACE(std::string(by_kind ? "by kind, " : "") + threads + " threads");
      kelvo_test::TempDir t;
      ASSERT_EQ(setenv("KELVO_THREADS", threads, 1), 0);
      std::vector<std::string> run{"--domain", "NsBs", "--scale-dir", (sample / "BRINO_S").string(), "--param", "salt",
                                   "--layers", "1-5", "--obs", list, "-q"};
      if (by_kind) run.push_back("--by-kind");
      std::vector<std::string> map{"map", "--day", "2004-01-01", "-o", (t.path / "map.nc").string()};
      std::vector<std::string> series{"series", "--from", "2004-01-01", "--to", "2004-01-12", "-o",
                                      (t.path / "series.nc").string()};
      map.insert(map.end(), run.begin(), run.end());
      series.insert(series.end(), run.begin(), run.end());
      const kelvo_test::RunResult m = kelvo_test::kelvo_cli(map), s = kelvo_test::kelvo_cli(series);
      unsetenv("KELVO_THREADS");
      ASSERT_EQ(m.status, 0) << m.err;
      ASSERT_EQ(s.status, 0) << s.err;
      write_whole_map(in, slots.front(), by_kind, t.path / "whole_map.nc");
      write_whole_series(in, slots, by_kind, t.path / "whole_series.nc");
      expect_same_variables(t.path / "whole_map.nc", t.path / "map.nc");
      expect_same_variables(t.path / "whole_series.nc", t.path / "series.nc");
    }
  }
}
