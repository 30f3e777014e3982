// kelvo map and kelvo series: the assessment of a day is kelvo_brino's on the
// tool's own day, a series day is the single-day assessment of that day
// whatever the thread count, and bad dates and options fail with a message
// and the right status, leaving nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/contributions.hpp"
#include "core/coverage_engine.hpp"
#include "core/kinds.hpp"
#include "io/domain_tree.hpp"
#include "io/inputs.hpp"
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
const std::string sample_scale = (sample / "BRINO_S").string();
// Stations and profiles with spans of every length: short ones, long ones,
// one without a start, one-time records.
const std::string spans_table = (fs::path(KELVO_TEST_DATA_DIR) / "spans.csv").string();

using kelvo_test::kelvo_cli;

struct Case {
  fs::path scale_dir;
  std::vector<std::string> args;  // Domain Par level_start level_end list tag
};

std::vector<Case> brino_cases() {
  const auto input = [](const char* c) { return golden / c / "input"; };
  return {{input("two_layers_salt") / "BRINO_S", {"Kat", "salt", "1", "2", (input("two_layers_salt") / "meta.lst").string(), "g1"}},
          {input("dateline_temp") / "BRINO_S", {"Dln", "temp", "2", "3", (input("dateline_temp") / "meta.lst").string(), "t2"}},
          {sample / "BRINO_S", {"NsBs", "salt", "1", "5", sample_list, "s"}},
          {sample / "BRINO_S", {"NsBs", "temp", "1", "5", sample_list, "t"}}};
}

TEST(KelvoMap, TheToolsOwnDayGivesKelvoBrinosCounts) {
  // A comment line in a list: --lenient reads up to it, as kelvo_brino does.
  kelvo_test::TempDir lists;
  const std::string text = kelvo_test::read_file(sample_list);
  const std::size_t cut = text.find('\n', text.size() / 2) + 1;
  kelvo_test::write_file(lists.path / "cut.lst", text.substr(0, cut) + "# the floats follow\n" + text.substr(cut));
  std::vector<Case> cases = brino_cases();
  cases.push_back({sample / "BRINO_S", {"NsBs", "salt", "1", "3", (lists.path / "cut.lst").string(), "c"}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    kelvo_test::TempDir out;
    const fs::path path = out.path / (c.args[0] + "_" + c.args[1] + "_cover_map_" + c.args[5] + ".nc");
    std::vector<std::string> args = kelvo_test::named_args("map", c.args, c.scale_dir.string(), path.string());
    args.insert(args.end(), {"--day", "2004-01-01", "--lenient"});
    const kelvo_test::RunResult map = kelvo_cli(args);
    ASSERT_EQ(map.status, 0) << map.err;

    const kelvo_test::RunResult brino = kelvo_test::run_tool(c.args, {c.scale_dir.string() + "/", out.str() + "/"});
    ASSERT_EQ(brino.status, 0) << brino.out;
    std::vector<kelvo_test::LayerLine> lines;
    for (const auto& [layer, line] : kelvo_test::layer_lines(brino.out)) lines.push_back(line);
    NcRead nc(path);
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
  std::vector<kelvo::io::ListReport> reports;
  kelvo::ObservationSet set = kelvo::io::read_observations(std::vector<std::string>{sample_list, spans_table},
                                                           kelvo::salinity, reports);
  kelvo::Assessment maps;
  explicit DayRun(const kelvo::CalendarDay& day)
      : maps(kelvo::assess(domain, set, kelvo::AssessRequest{1, 2, kelvo::assessment_slot(day), true, false})) {}
};

TEST(KelvoSeries, EveryDayIsTheSingleDayAssessmentWhateverTheThreads) {
  kelvo_test::TempDir out;
  const auto series = [&](const char* threads, const char* tag) {
    setenv("KELVO_THREADS", threads, 1);
    const fs::path path = out.path / (std::string(tag) + ".nc");
    std::vector<std::string> args =
        kelvo_test::named_args("series", {"NsBs", "salt", "1", "2", sample_list, tag}, sample_scale, path.string());
    args.insert(args.end(), {"--from", "2003-12-12", "--to", "2004-01-20", "--by-kind", "--obs", spans_table});
    const kelvo_test::RunResult r = kelvo_cli(args);
    unsetenv("KELVO_THREADS");
    EXPECT_EQ(r.status, 0) << r.err;
    return path;
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

// Every mistake a new user made, one row each: the command line, the
// status, and how the first line of standard error starts (of standard
// output for a row whose text does not start with "kelvo", or when nothing
// was said on standard error). A failure is one line, and leaves no file.
TEST(KelvoCli, EveryMistakeEndsWithItsStatusAndItsMessage) {
  struct Row {
    std::vector<std::string> args;  // @S sample scale dir, @L sample list, @T a fresh directory, @K Kat's scale dir
    int status;
    std::string message;
  };
  const std::vector<std::string> day{"--day", "2004-01-01"};
  const auto map = [&](std::vector<std::string> extra) {
    std::vector<std::string> a{"map", "--domain", "NsBs", "--scale-dir", "@S", "--param", "salt", "-o", "@T/m.nc"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };
  const std::vector<std::string> obs{"--obs", "@L"};
  const auto plan_of = [&](std::vector<std::string> extra) {
    std::vector<std::string> a = map(extra);
    a.front() = "plan";
    a.insert(a.end(), {"--day", "2004-01-01", "--add", "1", "--kind", "4"});
    return a;
  };
  const auto with = [](std::vector<std::string> a, std::vector<std::string> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<Row> rows{
      // once a crash, then silent wrong results
      {{"plan", "--domain", "NsBs", "--param", "salt", "--layers", "5-1", "--obs", "@L", "--day", "2004-01-01", "--add",
        "1", "--kind", "4", "--scale-dir", "@S", "-o", "@T/p"}, 1, "kelvo plan: --layers 5-1: the last layer is before the first"},
      {{"plan", "NsBs", "salt", "5", "1", "@L", "t2", "--add", "1", "--kind", "4", "--scale-dir", "@S", "--results-dir", "@T"},
       1, "kelvo plan: kelvo_brino's positional form (Domain Par level_start level_end metadata_file run_tag) is not "
          "kelvo's; the same run with named options: kelvo plan --domain NsBs --param salt --layers 5-1 --obs @L "
          "--scale-dir @S --add 1 --kind 4 --day 2004-01-01 -o @T/NsBs_salt_plan_t2"},
      {with(map({"--layers", "5-1"}), with(obs, day)), 1, "kelvo map: --layers 5-1: the last layer is before the first"},
      {with(map({"--layers", "0-2"}), with(obs, day)), 1, "kelvo map: --layers 0-2: layers are numbered from 1"},
      {with(map({"--layers", "1-6"}), with(obs, day)), 1, "kelvo map: --layers 1-6: NsBs has layers 1 to 5"},
      {{"series", "--domain", "NsBs", "--scale-dir", "@S", "--param", "salt", "--layers", "5-1", "--obs", "@L", "--from",
        "2004-01-01", "--to", "2004-01-02"}, 1, "kelvo series: --layers 5-1: the last layer is before the first"},
      {with(map({"--obs", "@T/comment.lst"}), day), 2,
       "kelvo map: @T/comment.lst:3: columns 1-8 (latitude): \"# moorin\" is not a number (--lenient reads"},
      {with(map({"--obs", "@T/comment.lst", "--lenient"}), day), 0,
       "kelvo map: warning: @T/comment.lst:3: columns 1-8 (latitude): \"# moorin\" is not a number; the list ends"},
      {with(map({"--obs", "@T/table.csv"}), day), 2, "kelvo map: @T/table.csv: the header line has no column time_start"},
      {with(map({"--obs", "@T/rows.csv"}), day), 2, "kelvo map: @T/rows.csv:3: column kind: \"boat\" is not a kind code 1-7"},
      {with(map({"--obs", "@T/rows.csv", "--lenient"}), day), 0, "kelvo map: warning: @T/rows.csv:3: column kind"},
      {with(map({"--obs", "@T/times.csv"}), day), 2, "kelvo map: @T/times.csv:2: column time_end: \"2004-01-01\" is before"},
      {plan_of({"--obs", "@T/rows.csv"}), 2, "kelvo plan: --obs @T/rows.csv: a plan writes its observations as a 52-column list"},
      {with(map({"--obs", "@T/empty.lst"}), day), 0, "kelvo map: warning: --obs @T/empty.lst: no observation in the file (0 records)"},
      {with(map({"--day", "1995-01-01"}), obs), 0,
       "kelvo map: warning: none of the 328 dated observations is within a day of 1995-01-01 (they run from "
       "2003-12-20 to 2004-01-12); only the 55 repeating ones count"},
      {{"series", "--domain", "NsBs", "--scale-dir", "@S", "--param", "salt", "--obs", "@L", "--from", "1995-01-01",
        "--to", "1995-01-03", "-o", "@T/s.nc"}, 0,
       "kelvo series: warning: none of the 328 dated observations is within a day of any day from 1995-01-01 to "
       "1995-01-03 (they run from 2003-12-20 to 2004-01-12); only the 55 repeating ones count"},
      {with(map({"--obs", "@T/outside.lst"}), day), 0,
       "kelvo map: warning: 1 of 2 observations lie outside the grid of NsBs"},
      {with(map({"--obs", "@T/temp_only.lst"}), day), 0, "kelvo map: warning: --obs @T/temp_only.lst: none of its 1 records measures salt"},
      // kelvo's own words
      {{"map", "--domain", "salt", "--param", "NsBs", "--obs", "@L", "--day", "2004-01-01", "--scale-dir", "@S"}, 1,
       "kelvo map: --param \"NsBs\": the parameter is salt (salinity) or temp (temperature)"},
      {{"map", "--domain", "NsBs", "--param", "Salt", "--obs", "@L", "--day", "2004-01-01", "--scale-dir", "@S"}, 1,
       "kelvo map: --param \"Salt\": the parameter is salt"},
      {with(map({"--obs", "t1"}), day), 2, "kelvo map: cannot open the observation list t1: No such file or directory"},
      {{"map", "--domain", "NsBs", "--param", "salt", "--obs", "@L", "--day", "2004-01-01"}, 2,
       "kelvo map: --scale-dir /nonexistent/: no such directory (the built-in default); give --scale-dir DIR"},
      {{"map", "--domain", "Nsbs", "--scale-dir", "@S", "--param", "salt", "--obs", "@L", "--day", "2004-01-01"}, 2,
       "kelvo map: --domain Nsbs: no such domain under @S/ (domains there: NsBs); give --scale-dir DIR"},
      {{"map", "--domain", "Kat", "--scale-dir", "@K", "--param", "temp", "--obs", "@L", "--day", "2004-01-01"}, 2,
       "kelvo map: --param temp: Kat has no files for temp (parameters with files: salt)"},
      {{"map", "--domain", "a/b", "--scale-dir", "@S", "--param", "salt", "--obs", "@L", "--day", "2004-01-01"}, 2,
       "kelvo map: --domain a/b: no such file (a domain is a name under --scale-dir, or a domain file FILE.nc)"},
      {{"map", "--domain", "@L", "--param", "salt", "--obs", "@L", "--day", "2004-01-01"}, 2,
       "kelvo map: --domain @L: cannot open as NetCDF"},
      {{"map", "--domain", "a\tb", "--scale-dir", "@S", "--param", "salt", "--obs", "@L", "--day", "2004-01-01"}, 1,
       "kelvo map: --domain \"a\tb\": a name is printable text without blanks"},
      // one command line
      {{"mapp"}, 1, "kelvo: unknown command \"mapp\"; did you mean \"map\"?"},
      {{"-V"}, 1, "kelvo: unknown option \"-V\""},
      {{"--frobnicate"}, 1, "kelvo: unknown option \"--frobnicate\""},
      {{}, 1, "kelvo: a command is required"},
      {{"map", "--version"}, 0, "kelvo " KELVO_VERSION},
      {{"import", "argo", "--version"}, 0, "kelvo " KELVO_VERSION},
      {{"import", "argo", "@D/argo_prof_excerpt.txt", "-o", "@T/a.lst", "-q"}, 0, "@T/a.lst"},
      {{"map", "--bogus"}, 1, "kelvo map: The following argument was not expected: --bogus; see kelvo map --help"},
      {with(map({}), obs), 1, "kelvo map: --day is required"},
      {with(map({"--day", "2004-02-30"}), obs), 1, "kelvo map: --day \"2004-02-30\": no such day in the calendar"},
      {with(map({"--day", "2004-01-01T24:00"}), obs), 1, "kelvo map: --day \"2004-01-01T24:00\": no such time of day"},
      {with(map({"--day", "tomorrow"}), obs), 1, "kelvo map: --day \"tomorrow\": not a date of the form YYYY-MM-DD"},
      {with(map({"--results-dir", "@T"}), with(obs, day)), 1, "kelvo map: --results-dir: kelvo names its output with -o FILE"},
      {{"series", "--domain", "NsBs", "--scale-dir", "@S", "--param", "salt", "--obs", "@L", "--from", "2004-01-10",
        "--to", "2004-01-01"}, 1, "kelvo series: --to 2004-01-01: before --from 2004-01-10"},
      {{"series", "--domain", "NsBs", "--scale-dir", "@S", "--param", "salt", "--obs", "@L", "--from", "2004-01-01",
        "--to", "2004-01-02", "--step", "0"}, 1, "kelvo series: --step 0: must be a whole number of days"},
      {{"plot", "@T/none.nc"}, 2, "kelvo plot: @T/none.nc: no such file"},
      {{"plot", "@L"}, 2, "kelvo plot: @L: not a NetCDF file kelvo can read"},
      {{"plot", "@T/m.nc", "--format", "gif"}, 1, "kelvo plot: --format gif: png, pdf or svg"},
  };
  const fs::path kat = golden / "two_layers_salt" / "input" / "BRINO_S";
  for (const Row& row : rows) {
    kelvo_test::TempDir t;
    kelvo_test::write_file(t.path / "comment.lst", " 54.1800   7.90001201012004 365.  0.        0. 1 1 5\n"
                                                   " 55.0300   8.46001201012004  52.  0.        0. 1 1 3\n"
                                                   "# moorings of the German Bight\n");
    kelvo_test::write_file(t.path / "table.csv", "platform,kind,latitude,longitude\n6901234,4,55.0,3.0\n");
    kelvo_test::write_file(t.path / "rows.csv", "platform,kind,latitude,longitude,time_start,time_end,parameters\n"
                                                "6901234,float,55.0,3.0,2004-01-01T06:00Z,,PSAL\nX,boat,55,3,,,PSAL\n");
    kelvo_test::write_file(t.path / "times.csv", "kind,latitude,longitude,time_start,time_end,parameters\n"
                                                 "3,55,3,2004-02-01,2004-01-01,TEMP\n");
    kelvo_test::write_file(t.path / "empty.lst", "");
    kelvo_test::write_file(t.path / "outside.lst", " 10.0000  50.00001201012004 365.  0.        0. 1 1 5\n"
                                                   " 54.1800   7.90001201012004 365.  0.        0. 1 1 5\n");
    kelvo_test::write_file(t.path / "temp_only.lst", " 54.1800   7.90001201012004 365.  0.        0. 1 0 5\n");
    const auto subst = [&](std::string s) {
      for (const auto& [from, to] : {std::pair<std::string, std::string>{"@S", sample_scale}, {"@L", sample_list},
                                     {"@T", t.str()}, {"@K", kat.string()}, {"@D", KELVO_TEST_DATA_DIR "/import"}}) {
        for (std::size_t p; (p = s.find(from)) != std::string::npos;) s.replace(p, from.size(), to);
      }
      return s;
    };
    std::vector<std::string> args;
    for (const std::string& a : row.args) args.push_back(subst(a));
    SCOPED_TRACE(row.message);
    const kelvo_test::RunResult r = kelvo_cli(args);
    EXPECT_EQ(r.status, row.status);
    const bool names_kelvo = row.message.starts_with("kelvo");  // else the row checks standard output
    const std::string& shown = r.err.empty() || !names_kelvo ? r.out : r.err;
    EXPECT_EQ(shown.rfind(subst(row.message), 0), 0u) << shown;
    if (row.status != 0) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      std::size_t entries = 0;
      for (const fs::directory_entry& e : fs::directory_iterator(t.path)) entries += e.path().extension() == ".nc";
      EXPECT_EQ(entries, 0u);
    }
  }
}

// Every help names the files its command writes and ends with examples;
// --region reads alike wherever it is.
TEST(KelvoCli, EveryHelpNamesItsFilesAndGivesExamples) {
  for (const std::vector<std::string>& c : std::vector<std::vector<std::string>>{
           {"map"}, {"series"}, {"plan"}, {"import", "argo"}, {"import", "insitu"}, {"plot"}, {"domain", "info"}}) {
    std::vector<std::string> args = c;
    args.push_back("--help");
    const kelvo_test::RunResult r = kelvo_cli(args);
    SCOPED_TRACE(args.front());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Writes:\n"), std::string::npos);
    EXPECT_NE(r.out.find("Examples:\n  kelvo " + c.front()), std::string::npos) << r.out;
    if (r.out.find("--region") != std::string::npos) {
      EXPECT_NE(r.out.find("--region W E S N"), std::string::npos);
    }
  }
}

// Without -o the output is named after the domain, parameter and days, in
// the current directory; several --obs lists are one network.
TEST(KelvoCli, DefaultNamesAndSeveralListsAreOneNetwork) {
  kelvo_test::TempDir t;
  kelvo_test::split_list(sample_list, 0.5, t.path);
  const std::string text = kelvo_test::read_file(sample_list);
  const fs::path here = fs::current_path();
  fs::current_path(t.path);
  const std::vector<std::string> common{"--domain", "NsBs", "--scale-dir", sample_scale, "--param", "salt",
                                        "--layers", "1-2", "-q"};
  std::vector<std::string> whole{"map", "--obs", sample_list, "--day", "2004-01-01"};
  std::vector<std::string> split{"map", "--obs", "a.lst", "--obs", "b.lst", "--day", "2004-01-01", "-o", "split.nc"};
  std::vector<std::string> series{"series", "--obs", sample_list, "--from", "2004-01-01", "--to", "2004-01-03"};
  std::vector<std::string> plan{"plan", "--obs", "a.lst", "--obs", "b.lst", "--day", "2004-01-01", "--add", "1",
                                "--kind", "mooring"};
  for (std::vector<std::string>* a : {&whole, &split, &series, &plan}) {
    a->insert(a->end(), common.begin(), common.end());
    EXPECT_EQ(kelvo_cli(*a).status, 0) << a->front();
  }
  fs::current_path(here);
  for (const char* name : {"NsBs_salt_map_20040101.nc", "NsBs_salt_series_20040101_20040103.nc",
                           "NsBs_salt_plan_20040101.nc", "NsBs_salt_plan_20040101.lst"}) {
    EXPECT_TRUE(fs::exists(t.path / name)) << name;
  }
  NcRead one(t.path / "NsBs_salt_map_20040101.nc"), two(t.path / "split.nc");
  NcRead plan_file(t.path / "NsBs_salt_plan_20040101.nc");
  // One set of flag names in every file, a time in each, kinds named.
  const std::string map_flags = one.text("coverage", "flag_meanings");
  EXPECT_EQ(plan_file.text("coverage", "flag_meanings").rfind(map_flags + " ", 0), 0u);
  EXPECT_EQ(one.text("obs_kind", "flag_meanings"), kelvo::kind_flag_meanings());
  EXPECT_EQ(plan_file.text("obs_kind", "flag_meanings"), kelvo::kind_flag_meanings());
  EXPECT_EQ(plan_file.floats("time"), one.floats("time"));
  EXPECT_EQ(one.text("", "metadata_file"), sample_list);
  EXPECT_EQ(two.text("", "metadata_file"), (t.path / "a.lst").string() + ", " + (t.path / "b.lst").string());
  for (const char* v : {"covered_points", "obs_kind"}) EXPECT_EQ(one.ints(v), two.ints(v)) << v;
  EXPECT_EQ(one.bytes("coverage"), two.bytes("coverage"));
  EXPECT_EQ(kelvo_test::read_file(t.path / "NsBs_salt_plan_20040101.lst").rfind(text, 0), 0u);
}

// A CSV table of the same observations as a list gives the same map and the
// same series, value for value: the list's repeating records are rows
// without times, its dated ones rows at their hour.
TEST(KelvoObservations, ACsvTableOfAListGivesItsMapAndSeries) {
  kelvo_test::TempDir t;
  std::string csv = "platform,kind,latitude,longitude,time_start,time_end,parameters\n";
  std::istringstream list(kelvo_test::read_file(sample_list));
  for (std::string l; std::getline(list, l);) {
    const auto col = [&](std::size_t from, std::size_t n) {
      std::string f = l.substr(from, n);
      f.erase(0, f.find_first_not_of(' '));
      return f;
    };
    const double frequency = std::stod("0" + col(27, 5));
    const std::string d = l.substr(17, 10);  // hhddmmyyyy
    const std::string time = frequency > 0 && frequency < 9999
                                 ? ""
                                 : d.substr(6, 4) + "-" + d.substr(4, 2) + "-" + d.substr(2, 2) + "T" + d.substr(0, 2) + ":00";
    const std::string params = std::string(col(46, 2) == "1" ? "TEMP " : "") + (col(48, 2) == "1" ? "PSAL" : "");
    csv += "P," + col(50, 2) + "," + col(0, 8) + "," + col(8, 9) + "," + time + ",," + params + "\n";
  }
  kelvo_test::write_file(t.path / "net.csv", csv);
  for (const char* command : {"map", "series"}) {
    std::vector<std::unique_ptr<NcRead>> files;  // of the list, then of the table
    for (const std::string& obs : {sample_list, (t.path / "net.csv").string()}) {
      const fs::path out = t.path / (std::string(command) + std::to_string(files.size()) + ".nc");
      std::vector<std::string> args{command, "--domain", "NsBs", "--scale-dir", sample_scale, "--param", "salt",
                                    "--layers", "1-3", "--obs", obs, "-o", out.string(), "-q"};
      if (std::string(command) == "map") args.insert(args.end(), {"--day", "2004-01-01"});
      else args.insert(args.end(), {"--from", "2003-12-28", "--to", "2004-01-06"});
      ASSERT_EQ(kelvo_cli(args).status, 0) << command << " " << obs;
      files.push_back(std::make_unique<NcRead>(out));
    }
    SCOPED_TRACE(command);
    EXPECT_EQ(files[0]->ints("covered_points"), files[1]->ints("covered_points"));
    if (std::string(command) == "map") {
      EXPECT_EQ(files[0]->bytes("coverage"), files[1]->bytes("coverage"));
      EXPECT_EQ(files[0]->bytes("obs_present"), files[1]->bytes("obs_present"));
      EXPECT_EQ(files[0]->floats("obs_lat"), files[1]->floats("obs_lat"));
      const std::vector<std::string> ids = files[1]->strings("obs_platform");
      EXPECT_EQ(files[0]->strings("obs_platform"), std::vector<std::string>(ids.size(), ""));
      EXPECT_EQ(ids, std::vector<std::string>(files[0]->dim("obs"), "P"));
    } else {
      EXPECT_EQ(files[0]->floats("covered_days_fraction"), files[1]->floats("covered_days_fraction"));
    }
  }
}

// A station with a span, on every day of a series, covers as a list's
// record would: repeating inside the span, one-time at the nearer end
// within a day of it, dated far away (absent) further out.
TEST(KelvoObservations, AStationsSpanIsTheListOfEachDay) {
  kelvo_test::TempDir t;
  kelvo_test::write_file(t.path / "station.csv", "platform,kind,latitude,longitude,time_start,time_end,parameters\n"
                                                  "ST1,mooring,55.0000,3.0000,2004-01-05,2004-01-10,PSAL\n");
  const std::vector<std::string> common{"--domain", "NsBs", "--scale-dir", sample_scale, "--param", "salt",
                                        "--layers", "1-2", "-q"};
  const auto run = [&](std::vector<std::string> args) {
    args.insert(args.end(), common.begin(), common.end());
    EXPECT_EQ(kelvo_cli(args).status, 0) << args[2];
  };
  run({"series", "--obs", (t.path / "station.csv").string(), "--from", "2004-01-01T12:00", "--to", "2004-01-14T12:00",
       "-o", (t.path / "s.nc").string()});
  const std::vector<std::int32_t> series = NcRead(t.path / "s.nc").ints("covered_points");
  ASSERT_GT(series[2 * 3], series[0]);  // the station covers on day 4, not on day 1
  for (int day = 1; day <= 14; ++day) {
    SCOPED_TRACE(day);
    // The list's record for this day, columns 18-32: the date hhddmmyyyy and the repeat frequency.
    std::string record = "0001011990    0";                      // dated far away: absent
    if (day >= 5 && day <= 10) record = "0001012004    1";         // repeating: in every slot
    if (day == 4) record = "0005012004    0";                      // the span's start, within a day
    if (day == 11) record = "0010012004    0";                     // its end, within a day
    const std::string line = " 55.0000   3.0000" + record + "   0         0 0 1 3\n";  // salinity, a mooring
    kelvo_test::write_file(t.path / "day.lst", line);
    const std::string iso = "2004-01-" + std::string(day < 10 ? "0" : "") + std::to_string(day) + "T12:00";
    run({"map", "--obs", (t.path / "day.lst").string(), "--day", iso, "-o", (t.path / "d.nc").string()});
    const std::vector<std::int32_t> map = NcRead(t.path / "d.nc").ints("covered_points");
    EXPECT_EQ(std::vector<std::int32_t>(series.begin() + 2 * (day - 1), series.begin() + 2 * day), map);
  }
}


// A quarter of a million records as a table (one-time records near the
// day and far from it, spans, records present at every time, every kind):
// kelvo map's decision at water points sampled through two layers is the
// exhaustive evaluation's, every record examined in order.
TEST(KelvoObservations, AQuarterMillionRecordTableGivesTheExhaustiveDecision) {
  kelvo_test::TempDir t;
  std::mt19937 rng(250000u);
  const auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * static_cast<double>(rng() >> 8) / 16777216.0; };
  const auto iso = [](int day, int hour) {
    char text[32];
    std::snprintf(text, sizeof text, "2004-01-%02dT%02d:00", day, hour);
    return std::string(text);
  };
  std::string csv = "platform,kind,latitude,longitude,time_start,time_end,parameters\n";
  char row[160];
  for (int n = 0; n < 250000; ++n) {
    const int kind = 1 + static_cast<int>(rng() % 7), when = static_cast<int>(rng() % 10);
    std::string times = iso(1 + static_cast<int>(rng() % 4), static_cast<int>(rng() % 24)) + ",";  // near the day, or not
    if (when == 0) times = ",";                                                                        // at every time
    if (when == 1) times = iso(5 + static_cast<int>(rng() % 5), 0) + "," + iso(20, 0);                   // a span after it
    if (when == 2) times = "2003-12-20," + iso(1, static_cast<int>(rng() % 24));                          // a span ending near it
    std::snprintf(row, sizeof row, "P%d,%d,%.4f,%.4f,%s,%s\n", n % 5000, kind, uniform(50.0, 61.5), uniform(-4.0, 10.0),
                  times.c_str(), rng() % 3 == 0 ? "TEMP" : "TEMP PSAL");
    csv += row;
  }
  const fs::path table = t.path / "big.csv", map = t.path / "m.nc";
  kelvo_test::write_file(table, csv);
  const auto r = kelvo_cli({"map", "--domain", "NsBs", "--scale-dir", sample_scale, "--param", "salt", "--layers", "1-3",
                            "--day", "2004-01-01", "--obs", table.string(), "-o", map.string(), "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::int8_t> coverage = NcRead(map).bytes("coverage");

  const kelvo::Domain domain = kelvo::io::read_domain_tree(sample_scale + "/", "NsBs", "salt", 1, 3, 1);
  std::vector<kelvo::io::ListReport> reports;
  const kelvo::ObservationSet set =
      kelvo::io::read_observations(std::vector<std::string>{table.string()}, kelvo::salinity, reports);
  ASSERT_GT(set.size(), 150000u);
  const float slot = kelvo::assessment_slot({2004, 1, 1, 0, 0});
  const std::vector<kelvo::Observation> placed = kelvo::place_at(set.records, slot);
  const kelvo::GridAxes grid = domain.axes();
  const std::size_t plane = static_cast<std::size_t>(grid.plane_size());
  int covered = 0, examined = 0;
  for (const std::int32_t layer : {1, 3}) {
    const kelvo::LayerFields fields = domain.fields(layer);
    for (std::size_t q = 0; q < plane; q += 97) {
      if (fields.water[q] != 1) continue;
      const bool exhaustive =
          kelvo::point_covered_exhaustive(grid, fields, placed, slot, static_cast<std::int64_t>(q % grid.nlon()),
                                          static_cast<std::int64_t>(q / grid.nlon()));
      EXPECT_EQ(coverage[static_cast<std::size_t>(layer - 1) * plane + q], exhaustive ? 2 : 1) << layer << " " << q;
      covered += exhaustive ? 1 : 0;
      ++examined;
    }
  }
  EXPECT_GT(covered, 0);
  EXPECT_LT(covered, examined);  // both decisions are sampled
}


// kelvo reads a list of any length; kelvo_brino's limit of 99,999 lines is
// its own.
TEST(KelvoObservations, AListLongerThanKelvoBrinosIsReadWhole) {
  kelvo_test::TempDir t;
  std::string list;
  for (int n = 0; n < 100001; ++n) list += " 55.0000   3.00000001012004    0   0         0 0 1 4\n";
  kelvo_test::write_file(t.path / "long.lst", list);
  const auto r = kelvo_cli({"map", "--domain", "NsBs", "--scale-dir", sample_scale, "--param", "salt", "--layers", "1",
                            "--day", "2004-01-01", "--obs", (t.path / "long.lst").string(), "-o", (t.path / "m.nc").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(100001 observations kept)"), std::string::npos) << r.out;
}


// kelvo domain info: each parameter's water points per layer are those of
// its map; an unknown domain names the domains there.
TEST(KelvoDomain, InfoGivesEachParametersWaterPointsAsItsMap) {
  kelvo_test::TempDir t;
  const auto info = kelvo_cli({"domain", "info", "NsBs", "--scale-dir", sample_scale});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("  parameters: salt temp\n"), std::string::npos) << info.out;
  for (const char* param : {"salt", "temp"}) {
    const fs::path map = t.path / (std::string(param) + ".nc");
    ASSERT_EQ(kelvo_cli({"map", "--domain", "NsBs", "--scale-dir", sample_scale, "--param", param, "--day", "2004-01-01",
                         "--obs", sample_list, "-o", map.string(), "-q"}).status, 0);
    std::istringstream table(info.out.substr(info.out.find(std::string("Parameter ") + param)));
    std::string line;
    for (int header = 0; header < 2; ++header) std::getline(table, line);
    for (const std::int32_t nwater : NcRead(map).ints("nwater")) {
      std::getline(table, line);
      int layer = 0, level = 0, water = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%d %d %d", &layer, &level, &water), 3) << line;
      EXPECT_EQ(water, nwater) << param << " layer " << layer;
    }
  }
  const auto unknown = kelvo_cli({"domain", "info", "NsBx", "--scale-dir", sample_scale});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("domains there: NsBs"), std::string::npos) << unknown.err;
}

}  // namespace
