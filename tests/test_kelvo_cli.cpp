// kelvo map and kelvo series: the assessment of a day is kelvo_brino's on the
// tool's own day, a series day is the single-day assessment of that day
// whatever the thread count, and bad dates and options fail with a message
// and the right status, leaving nothing behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/contributions.hpp"
#include "io/domain_tree.hpp"
#include "io/metadata_list.hpp"
#include "kelvo/cli.hpp"
#include "support/nc_read.hpp"
#include "support/kelvo_cli_run.hpp"
#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;
using kelvo_test::NcRead;

const fs::path golden = fs::path(KELVO_TEST_DATA_DIR) / "golden";
const fs::path sample = fs::path(KELVO_SOURCE_DIR) / "sample";
const std::string sample_list = (sample / "metadata" / "NsBs_network_2004.lst").string();

using kelvo_test::kelvo_cli;

struct Case {
  fs::path scale_dir;
  std::vector<std::string> args;  // Domain Par level_start level_end list tag
};

std::vector<Case> brino_cases() {
  const auto input = [](const char* c) { return golden / c / "input"; };
  return {{input("two_layers_salt") / "BRINO_S", {"Kat", "salt", "1", "2", (input("two_layers_salt") / "meta.lst").string(), "g1"}},
          {input("dateline_temp") / "BRINO_S", {"Dln", "temp", "2", "3", (input("dateline_temp") / "meta.lst").string(), "t2"}},
          {input("empty_range") / "BRINO_S", {"Emp", "salt", "2", "1", (input("empty_range") / "meta.lst").string(), "e"}},
          {sample / "BRINO_S", {"NsBs", "salt", "1", "5", sample_list, "s"}},
          {sample / "BRINO_S", {"NsBs", "temp", "1", "5", sample_list, "t"}}};
}

TEST(KelvoMap, TheToolsOwnDayGivesKelvoBrinosCounts) {
  for (const Case& c : brino_cases()) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    kelvo_test::TempDir out;
    std::vector<std::string> args{"map"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    for (const char* o : {"--day", "2004-01-01", "--scale-dir"}) args.push_back(o);
    args.push_back(c.scale_dir.string());
    args.push_back("--results-dir");
    args.push_back(out.str());
    const kelvo_test::RunResult map = kelvo_cli(args);
    ASSERT_EQ(map.status, 0) << map.err;

    const kelvo_test::RunResult brino = kelvo_test::run_tool(c.args, {c.scale_dir.string() + "/", out.str() + "/"});
    ASSERT_EQ(brino.status, 0) << brino.out;
    std::vector<kelvo_test::LayerLine> lines;
    for (const auto& [layer, line] : kelvo_test::layer_lines(brino.out)) lines.push_back(line);
    NcRead nc(out.path / (c.args[0] + "_" + c.args[1] + "_cover_map_" + c.args[5] + ".nc"));
    const std::vector<std::int32_t> covered = nc.ints("covered_points"), nwater = nc.ints("nwater");
    const std::vector<float> kpct = nc.floats("effective_coverage");
    ASSERT_EQ(covered.size(), lines.size());
    for (std::size_t l = 0; l < lines.size(); ++l) {
      EXPECT_EQ(covered[l], lines[l].ksum);
      EXPECT_EQ(nwater[l], lines[l].nwater);
      const float expected = static_cast<float>(lines[l].ksum) / static_cast<float>(lines[l].nwater);
      EXPECT_TRUE(kpct[l] == expected || (std::isnan(kpct[l]) && std::isnan(expected))) << kpct[l];
    }
  }
}

// The decisions of one dated assessment, as kelvo map makes them.
struct DayRun {
  kelvo::Domain domain = kelvo::io::read_domain_tree((sample / "BRINO_S").string() + "/", "NsBs", "salt", 1, 2, 1);
  kelvo::ObservationSet set = kelvo::io::read_list(sample_list, kelvo::salinity);
  kelvo::Assessment maps;
  explicit DayRun(const kelvo::CalendarDay& day)
      : maps(kelvo::assess(domain, set, kelvo::AssessRequest{1, 2, kelvo::assessment_slot(day), true, false})) {}
};

TEST(KelvoSeries, EveryDayIsTheSingleDayAssessmentWhateverTheThreads) {
  kelvo_test::TempDir out;
  const auto series = [&](const char* threads, const char* tag) {
    setenv("KELVO_THREADS", threads, 1);
    const kelvo_test::RunResult r = kelvo_cli({"series", "NsBs", "salt", "1", "2", sample_list, tag, "--from",
                                               "2003-12-12", "--to", "2004-01-20", "--by-kind", "--scale-dir",
                                               (sample / "BRINO_S").string(), "--results-dir", out.str()});
    unsetenv("KELVO_THREADS");
    EXPECT_EQ(r.status, 0) << r.err;
    return out.path / (std::string("NsBs_salt_cover_series_") + tag + ".nc");
  };
  NcRead one(series("1", "one")), three(series("3", "three"));
  for (const char* v : {"covered_points", "observations_in_slot"}) EXPECT_EQ(one.ints(v), three.ints(v)) << v;
  for (const char* v : {"effective_coverage", "covered_days_fraction", "coverage_by_kind"}) {
    EXPECT_EQ(one.floats(v), three.floats(v)) << v;
  }
  ASSERT_EQ(one.dim("time"), 40u);
  const std::vector<std::int32_t> covered = one.ints("covered_points"), in_slot = one.ints("observations_in_slot");
  const std::vector<float> by_kind = one.floats("coverage_by_kind"), share = one.floats("covered_days_fraction");
  const std::size_t nkinds = one.dim("kind");
  std::vector<std::int32_t> days_covered(share.size(), 0);
  for (int d = 0; d < 40; ++d) {
    SCOPED_TRACE(d);
    DayRun day(d < 20 ? kelvo::CalendarDay{2003, 12, 12 + d, 0, 0} : kelvo::CalendarDay{2004, 1, d - 19, 0, 0});
    for (std::int32_t k = 1; k <= 2; ++k) {
      std::int32_t ksum = 0;
      const std::span<const std::uint8_t> plane = day.maps.decisions(k);
      for (std::size_t q = 0; q < plane.size(); ++q) {
        ksum += plane[q];
        days_covered[static_cast<std::size_t>(k - 1) * plane.size() + q] += plane[q];
      }
      EXPECT_EQ(covered[static_cast<std::size_t>(d * 2 + k - 1)], ksum);
    }
    std::int32_t present = 0;
    for (const kelvo::Observation& o : day.maps.observations) present += o.time != kelvo::absent_time ? 1 : 0;
    EXPECT_EQ(in_slot[static_cast<std::size_t>(d)], present);
    const kelvo::KindContributions c = kelvo::kind_contributions(day.domain, day.maps);
    ASSERT_EQ(c.kinds.size(), nkinds);
    for (std::size_t i = 0; i < c.by_kind.size(); ++i) {
      EXPECT_EQ(by_kind[static_cast<std::size_t>(d) * c.by_kind.size() + i], c.by_kind[i]);
    }
  }
  for (std::size_t q = 0; q < share.size(); ++q) {
    if (share[q] > 1.0f) continue;  // land: the fill value
    EXPECT_EQ(share[q], static_cast<float>(days_covered[q]) / 40.0f) << q;
  }
}

TEST(KelvoCli, BadDatesAndOptionsFailWithTheirStatusAndLeaveNothing) {
  struct Bad {
    std::vector<std::string> extra;  // after the command and its six arguments
    const char* command;
    std::string level_start;
    std::string tag;
    int status;
    const char* message;
  };
  const std::vector<Bad> cases{
      {{"--day", "2004-02-30"}, "map", "1", "a", 2, "--day \"2004-02-30\": no such day"},
      {{"--day", "2003-02-29"}, "map", "1", "a", 2, "no such day"},
      {{"--day", "2004-13-01"}, "map", "1", "a", 2, "no such day"},
      {{"--day", "2004-01-01T24:00"}, "map", "1", "a", 2, "no such time of day"},
      {{"--day", "tomorrow"}, "map", "1", "a", 2, "not a date of the form"},
      {{}, "map", "1.5", "a", 1, "level_start"},
      {{}, "map", "ab", "a", 1, "level_start"},
      {{"--bogus"}, "map", "1", "a", 1, "--bogus"},
      {{}, "map", "1", "a/b", 2, "run_tag may not hold \"/\""},
      {{"--from", "2004-01-10", "--to", "2004-01-01"}, "series", "1", "a", 2, "--to 2004-01-01: before --from"},
      {{"--from", "2004-01-01", "--to", "2004-01-02", "--step", "0"}, "series", "1", "a", 2, "--step 0"},
      {{"--to", "2004-01-02"}, "series", "1", "a", 1, "--from is required"},
      {{"--from", "2004-01-01", "--to", "2004-01-02", "--day", "x"}, "series", "1", "a", 1, "--day"},
  };
  for (const Bad& b : cases) {
    SCOPED_TRACE(std::string(b.command) + " " + b.message);
    kelvo_test::TempDir out;
    std::vector<std::string> args{b.command, "NsBs", "salt", b.level_start, "2", sample_list, b.tag,
                                  "--scale-dir", (sample / "BRINO_S").string(), "--results-dir", out.str()};
    args.insert(args.end(), b.extra.begin(), b.extra.end());
    const kelvo_test::RunResult r = kelvo_cli(args);
    EXPECT_EQ(r.status, b.status);
    EXPECT_NE(r.err.find(b.message), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(out.path));
  }
  const kelvo_test::RunResult missing = kelvo_cli({"map", "NsBs", "salt", "1", "2", "/no/such/list", "a",
                                                   "--scale-dir", (sample / "BRINO_S").string()});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "kelvo map: cannot open the observation list /no/such/list: No such file or directory\n");
  const kelvo_test::RunResult version = kelvo_cli({"--version"});
  EXPECT_EQ(version.out, "kelvo " KELVO_VERSION "\n");
}

}  // namespace
