// kelvo plan: the written list reproduces the planned coverage in
// kelvo_brino (and a period's in kelvo series), each pick is the best
// candidate by brute force, removing an observation or a platform costs
// exactly its unique coverage, and bad requests fail with their message,
// their status and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "core/plan.hpp"
#include "io/domain_tree.hpp"
#include "io/metadata_list.hpp"
#include "kelvo/cli.hpp"
#include "kelvo/dates.hpp"
#include "support/nc_read.hpp"
#include "support/kelvo_cli_run.hpp"
#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;
using kelvo_test::NcRead;

const fs::path golden = fs::path(KELVO_TEST_DATA_DIR) / "golden" / "two_layers_salt" / "input";
const fs::path sample = fs::path(KELVO_SOURCE_DIR) / "sample";
const std::string sample_list = (sample / "metadata" / "NsBs_network_2004.lst").string();
const std::string sample_scale = (sample / "BRINO_S").string();
const std::vector<std::string> west_box{"--region", "-14", "-12", "50", "52"};

using kelvo_test::kelvo_cli;

// Six arguments, the scale directory, and the plan's options.
struct Plan {
  std::vector<std::string> args;
  std::string scale_dir;
  std::vector<std::string> options;
  std::string network = {};  // the whole network as one list, when options name more lists
};

fs::path run_plan(const Plan& p, const kelvo_test::TempDir& out) {
  const fs::path prefix = out.path / (p.args[0] + "_" + p.args[1] + "_plan_" + p.args[5]);
  std::vector<std::string> args = kelvo_test::named_args("plan", p.args, p.scale_dir, prefix.string());
  args.insert(args.end(), p.options.begin(), p.options.end());
  if (std::find(args.begin(), args.end(), "--day") == args.end()) args.insert(args.end(), {"--day", "2004-01-01"});
  const kelvo_test::RunResult r = kelvo_cli(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return prefix;
}

std::vector<std::int32_t> ksums(const std::vector<std::string>& args, const std::string& scale_dir,
                                const kelvo_test::TempDir& out) {
  const kelvo_test::RunResult r = kelvo_test::run_tool(args, {scale_dir + "/", out.str() + "/"});
  EXPECT_EQ(r.status, 0) << r.out;
  std::vector<std::int32_t> k;
  for (const auto& [layer, line] : kelvo_test::layer_lines(r.out)) k.push_back(line.ksum);
  return k;
}

TEST(KelvoPlan, KelvoBrinoOnThePlansListReproducesThePlan) {
  kelvo_test::TempDir lists;
  kelvo_test::split_list(sample_list, 1.0 / 3.0, lists.path);
  const std::vector<Plan> plans{
      {{"NsBs", "salt", "1", "3", (lists.path / "a.lst").string(), "two"}, sample_scale,
       {"--add", "2", "--kind", "glider", "--obs", (lists.path / "b.lst").string()}, sample_list},
      {{"Kat", "salt", "1", "2", (golden / "meta.lst").string(), "g"}, (golden / "BRINO_S").string(), {"--add", "2", "--kind", "1"}},
      {{"NsBs", "salt", "1", "5", sample_list, "f"}, sample_scale, {"--add", "5", "--kind", "4"}},
      {{"NsBs", "salt", "1", "2", sample_list, "d"}, sample_scale, {"--add", "3", "--kind", "2"}}};
  for (const Plan& p : plans) {
    SCOPED_TRACE(p.args[0] + " " + p.options[1] + " " + p.options[3]);
    kelvo_test::TempDir out;
    const fs::path base = run_plan(p, out);
    NcRead nc(base.string() + ".nc");
    std::vector<std::string> brino = p.args;
    brino[4] = base.string() + ".lst";
    EXPECT_EQ(ksums(brino, p.scale_dir, out), nc.ints("covered_points_after"));
    std::vector<std::string> network = p.args;
    if (!p.network.empty()) network[4] = p.network;
    EXPECT_EQ(ksums(network, p.scale_dir, out), nc.ints("covered_points_before"));
  }
}

// The sample's domain of a salt run of layers 1-2 and its observations on
// the tool's own day, with its grid.
struct SampleState {
  kelvo::Domain domain = kelvo::io::read_domain_tree(sample_scale + "/", "NsBs", "salt", 1, 2, 1);
  float slot = kelvo::assessment_slot(kelvo::legacy_assessment_day);
  std::vector<kelvo::Observation> obs = kelvo::place_at(kelvo::io::read_list(sample_list, kelvo::salinity).records, slot);
  kelvo::GridAxes grid = domain.axes();
  std::int32_t nlon() const { return domain.grid().nlon; }
  std::int32_t nlat() const { return domain.grid().nlat; }
  float lon(std::int32_t i) const { return domain.grid().lon[static_cast<std::size_t>(i - 1)]; }
  float lat(std::int32_t j) const { return domain.grid().lat[static_cast<std::size_t>(j - 1)]; }
  // A new platform of `kind` at (lat, lon), as the plan makes it.
  kelvo::Observation platform(float lat, float lon, std::int32_t kind) const {
    return kelvo::placed(kelvo::io::planned_record(lat, lon, kelvo::legacy_assessment_day, kind).record, slot);
  }
};

TEST(KelvoPlan, EveryPickIsTheFirstBestCandidateByBruteForce) {
  kelvo_test::TempDir out;
  const fs::path base = run_plan({{"NsBs", "salt", "1", "2", sample_list, "b"}, sample_scale,
                                  {"--add", "3", "--kind", "4", "--region", "-14", "-12", "50", "52"}}, out);
  NcRead nc(base.string() + ".nc");
  const SampleState sample_state;
  const SampleState& ds = sample_state;
  const kelvo::GridAxes& grid = sample_state.grid;
  std::vector<kelvo::Observation> cands;  // water points of layer 1 in the box, south to north, west to east
  for (std::int32_t j = 1; j <= ds.nlat(); ++j) {
    for (std::int32_t i = 1; i <= ds.nlon(); ++i) {
      if (ds.domain.layer(1).water[static_cast<std::size_t>((i - 1) + ds.nlon() * (j - 1))] != 1 || ds.lon(i) < -14 || ds.lon(i) > -12 || ds.lat(j) < 50 || ds.lat(j) > 52) continue;
      cands.push_back(ds.platform(ds.lat(j), ds.lon(i), 4));
    }
  }
  ASSERT_GT(cands.size(), 10u);
  const auto total = [&](const std::vector<kelvo::Observation>& obs) {
    std::int32_t n = 0;
    for (std::int32_t k = 1; k <= 2; ++k) n += kelvo::count_covered(grid, ds.domain.fields(k), obs, ds.slot);
    return n;
  };
  std::vector<kelvo::Observation> network = ds.obs;
  const std::vector<float> lat = nc.floats("pick_lat"), lon = nc.floats("pick_lon");
  const std::vector<std::int32_t> gains = nc.ints("pick_new_points");
  ASSERT_EQ(lat.size(), 3u);
  for (std::size_t s = 0; s < lat.size(); ++s) {
    const std::int32_t base_count = total(network);
    std::int32_t best = -1;
    std::size_t first = 0;
    for (std::size_t c = 0; c < cands.size(); ++c) {
      std::vector<kelvo::Observation> with = network;
      with.push_back(cands[c]);
      const std::int32_t g = total(with) - base_count;
      if (g > best) best = g, first = c;
    }
    EXPECT_EQ(gains[2 * s] + gains[2 * s + 1], best) << s;
    EXPECT_EQ(lat[s], cands[first].lat);
    EXPECT_EQ(lon[s], cands[first].lon);
    network.push_back(cands[first]);
  }
}

TEST(KelvoPlan, GainsPointByPointEqualEachCandidatesOwnCount) {
  const SampleState sample_state;
  const SampleState& ds = sample_state;
  const kelvo::GridAxes& grid = sample_state.grid;
  std::vector<kelvo::Observation> cands = ds.obs;  // the network itself, and sites between the grid nodes
  for (float lat = 41.03f; lat < 64.0f; lat += 1.7f) {
    for (float lon = -19.07f; lon < 12.0f; lon += 1.3f) cands.push_back(ds.platform(lat, lon, 2));
  }
  for (std::int32_t k = 1; k <= 2; ++k) {
    const kelvo::LayerFields layer = ds.domain.fields(k);
    const kelvo::LayerReach reach = kelvo::layer_reach(grid, layer);
    std::vector<std::uint8_t> open(static_cast<std::size_t>(grid.plane_size()), 0);
    kelvo::mark_covered(grid, layer, reach, std::span(ds.obs).first(ds.obs.size() / 2), ds.slot, open);
    for (std::uint8_t& v : open) v = v == 1 ? 0 : 1;
    for (const std::vector<std::uint8_t>& among : {std::vector<std::uint8_t>{}, open}) {
      std::vector<std::int32_t> gains(cands.size(), -1);
      kelvo::count_newly_covered_each(grid, layer, reach, cands, ds.slot, gains, among);
      for (std::size_t c = 0; c < cands.size(); ++c) {
        EXPECT_EQ(gains[c], kelvo::count_newly_covered(grid, layer, reach, cands[c], ds.slot, among)) << k << " " << c;
      }
    }
  }
}

TEST(KelvoPlan, RemovingAnObservationLowersKsumByItsUniqueCoverage) {
  kelvo_test::TempDir out;
  const fs::path base = run_plan({{"NsBs", "salt", "1", "2", sample_list, "u"}, sample_scale, {"--add", "1", "--kind", "1"}}, out);
  NcRead nc(base.string() + ".nc");
  const std::vector<std::int32_t> lines = nc.ints("obs_line"), unique = nc.ints("obs_unique_points");
  const std::vector<std::int32_t> before = nc.ints("covered_points_before");
  std::vector<std::size_t> chosen;  // the largest unique coverage, and two with none
  std::size_t top = 0;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    if (unique[2 * n] + unique[2 * n + 1] > unique[2 * top] + unique[2 * top + 1]) top = n;
    if (unique[2 * n] + unique[2 * n + 1] == 0 && chosen.size() < 2) chosen.push_back(n);
  }
  chosen.push_back(top);
  chosen.push_back(lines.size() / 2);
  const std::string text = kelvo_test::read_file(sample_list);
  for (std::size_t n : chosen) {
    SCOPED_TRACE(lines[n]);
    std::string without;
    std::size_t at = 0;
    for (std::int32_t line = 1; at < text.size(); ++line) {
      const std::size_t end = text.find('\n', at) + 1;
      if (line != lines[n]) without += text.substr(at, end - at);
      at = end;
    }
    kelvo_test::write_file(out.path / "without.lst", without);
    const std::vector<std::int32_t> k =
        ksums({"NsBs", "salt", "1", "2", (out.path / "without.lst").string(), "w"}, sample_scale, out);
    ASSERT_EQ(k.size(), 2u);
    for (std::size_t l = 0; l < 2; ++l) EXPECT_EQ(k[l], before[l] - unique[2 * n + l]);
  }
}

TEST(KelvoPlan, BadRequestsFailWithTheirMessageAndLeaveNothing) {
  struct Bad {
    std::string layers;
    std::vector<std::string> options;
    int status;
    const char* message;
  };
  kelvo_test::TempDir files;
  kelvo_test::write_file(files.path / "sites.lst", " 51.0000 -13.0000\nnot a site\n");
  const std::string sites = (files.path / "sites.lst").string();
  kelvo_test::write_file(files.path / "long.lst", " 51.0000 -13.0000\n" + std::string(std::size_t{1} << 21, ' ') + "\n");
  const std::vector<Bad> cases{
      {"5-2", {"--add", "1", "--kind", "4"}, 1, "--layers 5-2: the last layer is before the first"},  // once a crash
      {"1-2", {"--add", "0", "--kind", "4"}, 1, "--add 0: must be 1 or more"},
      {"1-2", {"--add", "100000", "--kind", "4"}, 1, "--add 100000: at most 99999 new platforms"},
      {"1-2", {"--add", "1", "--kind", "8"}, 1, "--kind \"8\": not a platform kind; the kinds are 1 ctd|bottle"},
      {"1-2", {"--add", "1", "--kind", "0"}, 1, "--kind \"0\""},
      {"1-2", {"--add", "1", "--kind", "boat"}, 1, "--kind \"boat\": not a platform kind"},
      {"2", {"--add", "1", "--kind", "2"}, 1, "--kind 2: surface-only platforms count for layer 1 only"},
      {"2", {"--add", "1", "--kind", "ferrybox"}, 1, "--kind ferrybox: surface-only platforms count for layer 1 only"},
      {"1-2", {"--add", "1", "--kind", "4", "--region", "100", "110", "0", "10"}, 2, "--region: misses the grid"},
      {"1-2", {"--add", "1", "--kind", "4", "--region", "8.0", "8.01", "50.0", "50.01"}, 2, "--region: holds no candidate"},
      {"1-2", {"--add", "1", "--kind", "4", "--region", "10", "8", "50", "51"}, 1, "--region: WEST must not exceed EAST"},
      {"1-2", {"--add", "1", "--kind", "4", "--sites", "/no/such/sites"}, 2, "--sites /no/such/sites: "},
      {"1-2", {"--add", "1", "--kind", "4", "--sites", sites}, 2, "line 2 has no latitude"},
      {"1-2", {"--add", "1", "--kind", "4", "--sites", (files.path / "long.lst").string()}, 2, "line 2 has no latitude"},
      {"1-2", {"--add", "1", "--kind", "4", "--day", "2004-02-30"}, 1, "no such day"},
      {"1-2", {"--add", "x", "--kind", "4"}, 1, "--add"},
      {"1-2", {"--kind", "4"}, 1, "--add is required"},
      {"1-2", {"--add", "1", "--kind", "4", "--region", "1", "2"}, 1, "--region"},
      {"1-2", {"--add", "1", "--kind", "4", "--site-step", "0"}, 1, "--site-step 0: a whole number from 1"},
      {"1-2", {"--add", "1", "--kind", "4", "--site-step", "2", "--sites", sites}, 1, "--site-step: thins the grid"},
  };
  for (const Bad& b : cases) {
    SCOPED_TRACE(b.message);
    kelvo_test::TempDir out;
    std::vector<std::string> args{"plan", "--domain", "NsBs", "--param", "salt", "--layers", b.layers, "--obs",
                                  sample_list, "--scale-dir", sample_scale, "-o", out.str() + "/p"};
    args.insert(args.end(), b.options.begin(), b.options.end());
    if (std::find(args.begin(), args.end(), "--day") == args.end()) args.insert(args.end(), {"--day", "2004-01-01"});
    const kelvo_test::RunResult r = kelvo_cli(args);
    EXPECT_EQ(r.status, b.status);
    EXPECT_NE(r.err.find(b.message), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(out.path));
  }
}

// A fixed platform of `kind` as a record of a platform id (index `platform`).
kelvo::ObservationRecord platform_record(float lat, float lon, std::int32_t kind, std::uint32_t platform) {
  kelvo::ObservationRecord r = kelvo::io::planned_record(lat, lon, kelvo::legacy_assessment_day, kind).record;
  r.platform = platform;
  return r;
}

TEST(KelvoPlan, APlatformCountsItsRecordsAsOneAndRemovingItCostsItsUniqueCoverage) {
  struct Row {
    const char* name;
    float lat, lon;
    std::vector<std::pair<float, float>> offsets;  // the platform's records around (lat, lon)
    bool overlapping;  // its records cover points together that none covers alone
  };
  const std::vector<Row> rows{
      {"three moorings a few hundred metres apart", 45.0f, -17.0f, {{0, 0}, {0.005f, 0}, {0, 0.005f}}, true},
      {"a glider's track", 58.0f, -16.0f, {{0, 0}, {0.1f, 0.1f}, {0.2f, 0.2f}, {0.3f, 0.3f}}, true},
      {"two records far apart", 45.0f, -17.0f, {{0, 0}, {13.0f, 1.0f}}, false},
      {"one record", 41.5f, -15.5f, {{0, 0}}, false}};
  const SampleState ds;
  const std::vector<kelvo::ObservationRecord> network = kelvo::io::read_list(sample_list, kelvo::salinity).records;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<kelvo::ObservationRecord> records = network;
    for (const auto& [dlat, dlon] : row.offsets) records.push_back(platform_record(row.lat + dlat, row.lon + dlon, 3, 1));
    const kelvo::PlatformGroups groups = kelvo::platform_groups(records);
    const std::uint32_t platform = groups.of.back();
    ASSERT_EQ(groups.records[platform], static_cast<std::int32_t>(row.offsets.size()));
    const std::vector<kelvo::Observation> obs = kelvo::place_at(records, ds.slot);
    const std::span<const kelvo::Observation> without = std::span(obs).first(network.size());
    for (std::int32_t k = 1; k <= 2; ++k) {
      const kelvo::LayerFields layer = ds.domain.fields(k);
      const kelvo::LayerReach reach = kelvo::layer_reach(ds.grid, layer);
      std::vector<std::uint8_t> covered(static_cast<std::size_t>(ds.grid.plane_size()), 0);
      kelvo::CountRequest count;
      count.decisions = covered;
      const std::int32_t all = kelvo::count_covered(ds.grid, layer, obs, ds.slot, count);
      const std::vector<std::int32_t> unique = kelvo::unique_coverage(ds.grid, layer, reach, obs, ds.slot, covered);
      const std::vector<std::int32_t> by_platform =
          kelvo::unique_coverage(ds.grid, layer, reach, obs, ds.slot, covered, groups.of, groups.size());
      const std::int32_t records_alone =
          std::accumulate(unique.begin() + static_cast<std::ptrdiff_t>(network.size()), unique.end(), 0);
      if (row.overlapping) {
        EXPECT_GT(by_platform[platform], records_alone) << k;
      } else {
        EXPECT_EQ(by_platform[platform], records_alone) << k;
      }
      EXPECT_EQ(kelvo::count_covered(ds.grid, layer, without, ds.slot), all - by_platform[platform]) << k;
      EXPECT_EQ(by_platform[groups.of.front()], unique.front()) << k;  // a record without an id stands alone
    }
  }
}

TEST(KelvoPlan, AListsPlatformsAreItsRecords) {
  kelvo_test::TempDir out;
  const fs::path base = run_plan({{"NsBs", "salt", "1", "2", sample_list, "p"}, sample_scale, {"--add", "1", "--kind", "1"}}, out);
  NcRead nc(base.string() + ".nc");
  EXPECT_EQ(nc.ints("platform_unique_points"), nc.ints("obs_unique_points"));
  const std::vector<std::int32_t> records = nc.ints("platform_records");
  EXPECT_EQ(std::count(records.begin(), records.end(), 1), static_cast<std::ptrdiff_t>(nc.dim("obs")));
}

// A period's plan of the sample network and the files it wrote.
fs::path run_period_plan(const std::string& layers, const std::string& from, const std::string& to,
                         const std::vector<std::string>& options, const kelvo_test::TempDir& out) {
  const fs::path prefix = out.path / ("period_" + from);
  std::vector<std::string> args = kelvo_test::named_args("plan", {"NsBs", "salt", "", "", sample_list}, sample_scale,
                                                         prefix.string());
  args[6] = layers;
  args.insert(args.end(), {"--from", from, "--to", to});
  args.insert(args.end(), options.begin(), options.end());
  const kelvo_test::RunResult r = kelvo_cli(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return prefix;
}

// kelvo series of `list` over the period: its covered points summed over the days, per layer.
std::vector<std::int64_t> series_point_days(const std::string& list, const std::string& layers, const std::string& from,
                                            const std::string& to, const kelvo_test::TempDir& out) {
  const fs::path path = out.path / "series.nc";
  fs::remove(path);
  const kelvo_test::RunResult r =
      kelvo_cli({"series", "--domain", "NsBs", "--param", "salt", "--layers", layers, "--obs", list, "--scale-dir",
                 sample_scale, "--from", from, "--to", to, "-o", path.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  NcRead nc(path);
  const std::vector<std::int32_t> covered = nc.ints("covered_points");
  std::vector<std::int64_t> sum(nc.dim("layer"), 0);
  for (std::size_t n = 0; n < covered.size(); ++n) sum[n % sum.size()] += covered[n];
  return sum;
}

TEST(KelvoPlan, SeriesOfThePeriodPlansListGivesItsPointDays) {
  struct Row {
    std::string layers, from, to, kind, add;
  };
  const std::vector<Row> rows{{"1-2", "2004-01-01", "2004-01-10", "mooring", "3"},
                              {"1", "2004-03-01", "2004-03-05", "ferrybox", "2"},
                              {"1-3", "2004-06-01", "2004-06-07", "float", "2"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.from + " " + row.kind);
    kelvo_test::TempDir out;
    const fs::path base = run_period_plan(row.layers, row.from, row.to, {"--add", row.add, "--kind", row.kind}, out);
    NcRead nc(base.string() + ".nc");
    EXPECT_EQ(series_point_days(sample_list, row.layers, row.from, row.to, out), nc.int64s("covered_point_days_before"));
    EXPECT_EQ(series_point_days(base.string() + ".lst", row.layers, row.from, row.to, out),
              nc.int64s("covered_point_days_after"));
    const std::string list = kelvo_test::read_file(base.string() + ".lst");
    const std::string last = list.substr(list.rfind('\n', list.size() - 2) + 1);
    EXPECT_EQ(last.substr(27, 5), "  365");  // the new records repeat every day
  }
}

TEST(KelvoPlan, EachPeriodPickBeatsSampledCandidatesByBruteForce) {
  const std::string from = "2004-04-01", to = "2004-04-05";
  kelvo_test::TempDir out;
  std::vector<std::string> options{"--add", "3", "--kind", "4"};
  options.insert(options.end(), west_box.begin(), west_box.end());
  NcRead nc(run_period_plan("1-2", from, to, options, out).string() + ".nc");
  const SampleState ds;
  std::vector<float> slots;
  for (const kelvo::CalendarDay& d : kelvo::cli::series_days(from, to, 1)) slots.push_back(kelvo::assessment_slot(d));
  std::vector<kelvo::ObservationRecord> cands;  // the plan's candidates, in its order
  for (const kelvo::Site& s : kelvo::water_sites(ds.domain, 1)) {
    if (s.lon >= -14 && s.lon <= -12 && s.lat >= 50 && s.lat <= 52) cands.push_back(platform_record(s.lat, s.lon, 4, 0));
  }
  ASSERT_GT(cands.size(), 20u);
  std::vector<kelvo::ObservationRecord> network = kelvo::io::read_list(sample_list, kelvo::salinity).records;
  const auto point_days = [&](const std::vector<kelvo::ObservationRecord>& records) {
    std::int64_t n = 0;
    for (float slot : slots) {
      const std::vector<kelvo::Observation> obs = kelvo::place_at(records, slot);
      for (std::int32_t k = 1; k <= 2; ++k) n += kelvo::count_covered(ds.grid, ds.domain.fields(k), obs, slot);
    }
    return n;
  };
  const auto gain = [&](std::size_t c, std::int64_t before) {
    std::vector<kelvo::ObservationRecord> with = network;
    with.push_back(cands[c]);
    return point_days(with) - before;
  };
  const std::vector<float> lat = nc.floats("pick_lat"), lon = nc.floats("pick_lon");
  const std::vector<std::int64_t> new_days = nc.int64s("pick_new_point_days");
  ASSERT_EQ(lat.size(), 3u);
  for (std::size_t s = 0; s < lat.size(); ++s) {
    const auto at = std::find_if(cands.begin(), cands.end(), [&](const auto& c) { return c.lat == lat[s] && c.lon == lon[s]; });
    ASSERT_NE(at, cands.end()) << s;
    const std::size_t pick = static_cast<std::size_t>(at - cands.begin());
    const std::int64_t before = point_days(network), best = gain(pick, before);
    EXPECT_EQ(best, new_days[2 * s] + new_days[2 * s + 1]) << s;
    for (std::size_t k = 0; k < 20; ++k) {
      const std::size_t c = k * cands.size() / 20;
      const std::int64_t g = gain(c, before);
      EXPECT_TRUE(best > g || (best == g && pick <= c)) << s << " " << c << " " << g << " " << best;
    }
    network.push_back(cands[pick]);
  }
}

TEST(KelvoPlan, BadPeriodsFailWithTheirMessageAndLeaveNothing) {
  const std::vector<std::pair<std::vector<std::string>, const char*>> cases{
      {{"--from", "2004-01-01"}, "--from: a period needs --to DATE too"},
      {{"--to", "2004-01-01"}, "--to: a period needs --from DATE too"},
      {{"--day", "2004-01-01", "--from", "2004-01-01", "--to", "2004-01-02"}, "not both"},
      {{"--from", "2004-02-01", "--to", "2004-01-01"}, "--to 2004-01-01: before --from 2004-02-01"},
      {{}, "--day DATE, or --from DATE --to DATE, is required"},
  };
  for (const auto& [when, message] : cases) {
    SCOPED_TRACE(message);
    kelvo_test::TempDir out;
    std::vector<std::string> args = kelvo_test::named_args("plan", {"NsBs", "salt", "1", "2", sample_list}, sample_scale,
                                                           out.str() + "/p");
    args.insert(args.end(), {"--add", "1", "--kind", "4"});
    args.insert(args.end(), when.begin(), when.end());
    const kelvo_test::RunResult r = kelvo_cli(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(out.path));
  }
}

}  // namespace
