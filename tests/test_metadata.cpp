// read_metadata: the metadata list read into the record table, filtered by
// parameter, placed on the one-slot time axis (day 1096.0, 1 January 2004)
// and assigned to layers, with every line it prints in its order.
//
// A list line has nine fields in columns 1-8 (latitude, 4 implied
// decimals), 9-17 (longitude), 18-27 (date text hhddmmyyyy), 28-32 (repeat
// frequency), 33-36, 37-46 (unused), 47-48 (temperature flag), 49-50
// (salinity flag) and 51-52 (kind code). The lines are written character by
// character here.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <random>

#include "core/calendar.hpp"
#include "io/metadata_list.hpp"
#include "legacy/driver.hpp"
#include "support/hand_lines.hpp"
#include "textio/fields.hpp"
#include "support/run_support.hpp"

namespace {

using hand::free_lines;
using hand::integer;
using hand::real15;
using hand::text;

// ------------------------------------------------------------ list lines

struct Rec {
  std::string lat = " 43.5000";    // 8 columns
  std::string lon = "  -5.2500";   // 9 columns
  std::string date = "0001012004"; // 10 columns
  int freq = 0;                    // one-time by default
  int temp = 0;
  int salt = 1;
  int kind = 1;

  std::string line() const {
    std::string s = lat + lon + date + hand::int_w(freq, 5) + "   0" + "         0" + hand::int_w(temp, 2) +
                    hand::int_w(salt, 2) + hand::int_w(kind, 2);
    EXPECT_EQ(s.size(), 52u) << s;
    return s;
  }
};

Rec one_time(const std::string& date) {
  Rec r;
  r.date = date;
  return r;
}
Rec repeating(int freq) {
  Rec r;
  r.freq = freq;
  return r;
}

std::vector<std::string> lines_of(const std::vector<Rec>& recs) {
  std::vector<std::string> lines;
  for (const Rec& r : recs) lines.push_back(r.line());
  return lines;
}

std::string padded100(const std::string& s) { return s + std::string(100 - s.size(), ' '); }

// ------------------------------------------------------------ expected lines

// Reals in free format (15 columns): 7 significant digits right-aligned in
// 11 columns, then 4 blanks.
const std::string k0 = "   0.000000    ";     // 0 is written with 6 decimals
const std::string k1 = "   1.000000    ";
const std::string k1095 = "   1095.000    ";
const std::string k1096 = "   1096.000    ";
const std::string k1097 = "   1097.000    ";
const std::string k1462 = "   1462.000    ";     // 1 January 2005: 1096 + 366 (2004 is a leap year)
const std::string k1627_25 = "   1627.250    ";  // 15 June 2005 06:00: 1462 + 165 + 0.25
const std::string kMinus730883 = "  -730883.0    ";

std::string nobs_line(int n) { return free_lines({text("Nobs in metadata "), integer(n)}); }
std::string no_match(int i, const std::string& f7, const std::string& f8, const std::string& param) {
  return free_lines({text("No par match in metadata: i,salt,temp,param:"), integer(i), real15(f7), real15(f8),
                     text(param)});
}
std::string times_error(const std::string& jday) {
  return free_lines({text("Error in times: jday , jdayaxis(min)"), real15(jday), real15(k1096)});
}
std::string no_depth(int itype, int row) {
  return free_lines({text(" No depth assignment"), integer(itype), integer(row)});
}
const std::string kYear0 = free_lines({text("There are no year 0!!")});

// ------------------------------------------------------------ direct calls

// read_metadata on a run state that holds the parameter and the time
// slot of day 1096.0; the kept observations placed at it.
struct MetaRun {
  textio::Console console;
  kelvo::legacy::Printer out{console};
  kelvo::legacy::RunState s{kelvo::legacy::BaseDirs{}};
  std::vector<kelvo::Observation> obs;
  int stop_status = -1;  // -1: read_metadata returned
  std::int32_t result = -1;

  explicit MetaRun(const std::string& param) {
    s.settings.param = padded100(param);
    s.slot = 1096.0f;
  }
  void read(const std::filesystem::path& list) {
    try {
      s.settings.metadata_file = padded100(list.string());
      kelvo::legacy::read_metadata(out, s);
      result = static_cast<std::int32_t>(s.observations.size());
      obs = kelvo::place_at(s.observations.records, s.slot);
    } catch (const kelvo::Error& e) {
      out.failure(e, s);
      stop_status = kelvo::exit_status_of(e);
    }
  }
  bool repeating(std::size_t k) const { return s.observations.records[k].time.is_always(); }
  float jday(int k) const { return obs[static_cast<std::size_t>(k - 1)].time; }
};

constexpr float kAbsent = -99999.0f;

TEST(Metadata, EmptyListPrintsOnlyTheCount) {
  kelvo_test::TestDomain d;
  const auto list = d.metadata({});
  MetaRun run("salt");
  run.read(list);
  ASSERT_EQ(run.stop_status, -1);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.console.out, nobs_line(0));
  EXPECT_EQ(run.console.err, "");
  EXPECT_TRUE(run.obs.empty());
  EXPECT_TRUE(run.s.observations.records.empty());
}

// One-time observations against the slot at day 1096.0. The time of day
// survives only to a quarter day: 00:00 adds 0, 20:00 adds 0.75, 21:00 and
// 23:00 add a full day. A distance of 1.0 or more is an error in times.
TEST(Metadata, OneTimeObservationsArePlacedByTheirDate) {
  struct DateCase {
    const char* date;
    std::vector<std::string> lines;  // printed for it, in order
    float placed;                    // obs_jday at the slot
  };
  const std::vector<DateCase> cases = {
      {"0001012004", {"hr=00dy= 1mn= 1yr=2004\n"}, 1096.0f},                           // day 1096.0
      {"2001012004", {"hr=20dy= 1mn= 1yr=2004\n"}, 1096.0f},                           // 1096.75
      {"2101012004", {"hr=21dy= 1mn= 1yr=2004\n", times_error(k1097)}, kAbsent},       // 1097.0
      {"2331122003", {"hr=23dy=31mn=12yr=2003\n"}, 1096.0f},                           // 1095 + 1
      {"0031122003", {"hr=00dy=31mn=12yr=2003\n", times_error(k1095)}, kAbsent},       // 1095.0
      {"0615062005", {"hr=06dy=15mn= 6yr=2005\n", times_error(k1627_25)}, kAbsent},    // 1627.25
      // Blank: hour, day, month and year 0; the year-0 line comes between
      // the date line and the error line.
      {"          ", {"hr=00dy= 0mn= 0yr=   0\n", kYear0, times_error(kMinus730883)}, kAbsent},
  };
  kelvo_test::TestDomain d;
  std::vector<Rec> recs;
  std::string expected = nobs_line(static_cast<int>(cases.size()));
  for (const DateCase& c : cases) {
    recs.push_back(one_time(c.date));
    for (const auto& l : c.lines) expected += l;
  }
  MetaRun run("salt");
  run.read(d.metadata(lines_of(recs)));
  ASSERT_EQ(run.stop_status, -1) << run.console.out;
  EXPECT_EQ(run.result, static_cast<int>(cases.size()));
  EXPECT_EQ(run.console.out, expected);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    EXPECT_EQ(run.jday(static_cast<int>(k + 1)), cases[k].placed) << cases[k].date;
  }
}

// A frequency strictly between 0 and 9999 makes a repeating observation:
// no date line, slot 1 always set (52 -> step 7, 12 -> 30, 400 -> 1). Any
// other value makes it one-time; all records are dated 1 January 2005,
// 366 days from the slot, so a one-time one prints its date line and an
// error in times and stays off the slot.
TEST(Metadata, RepeatFrequencySelectsRepeatingOrOneTime) {
  struct FreqCase {
    int freq;
    bool repeating;
  };
  const std::vector<FreqCase> cases = {{52, true}, {12, true},    {400, true},    {0, false},
                                       {-1, false}, {9999, false}, {20000, false}, {9998, true}};
  kelvo_test::TestDomain d;
  std::vector<Rec> recs;
  std::string expected = nobs_line(static_cast<int>(cases.size()));
  for (const FreqCase& c : cases) {
    Rec r = repeating(c.freq);
    r.date = "0001012005";
    recs.push_back(r);
    if (!c.repeating) expected += "hr=00dy= 1mn= 1yr=2005\n" + times_error(k1462);
  }
  MetaRun run("salt");
  run.read(d.metadata(lines_of(recs)));
  ASSERT_EQ(run.stop_status, -1) << run.console.out;
  EXPECT_EQ(run.console.out, expected);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    EXPECT_EQ(run.jday(static_cast<int>(k + 1)), cases[k].repeating ? 1096.0f : kAbsent) << cases[k].freq;
  }
}

// Four repeating records (no date lines):
//   line 1 temp 0 salt 1, latitude written 435000 (implied decimals: 43.5)
//   line 2 temp 1 salt 0, latitude 10
//   line 3 temp 1 salt 1, latitude 50
//   line 4 temp 0 salt 0, latitude 20
// The comparison of the parameter is exact: "Salt" and "TEMP" keep nothing.
TEST(Metadata, ParameterFlagsSelectTheRecords) {
  struct ParamCase {
    std::string param;
    std::vector<float> kept_lat;
    std::vector<int> dropped;  // list lines
  };
  const std::vector<ParamCase> cases = {
      {"salt", {43.5f, 50.0f}, {2, 4}},
      {"temp", {10.0f, 50.0f}, {1, 4}},
      {"Salt", {}, {1, 2, 3, 4}},
      {"TEMP", {}, {1, 2, 3, 4}},
  };
  const int temp[4] = {0, 1, 1, 0};
  const int salt[4] = {1, 0, 1, 0};
  const char* lat[4] = {"  435000", " 10.0000", " 50.0000", " 20.0000"};
  std::vector<Rec> recs;
  for (int n = 0; n < 4; ++n) {
    Rec r = repeating(12);
    r.temp = temp[n];
    r.salt = salt[n];
    r.lat = lat[n];
    recs.push_back(r);
  }
  for (const ParamCase& c : cases) {
    SCOPED_TRACE(c.param);
    kelvo_test::TestDomain d;
    MetaRun run(c.param);
    run.read(d.metadata(lines_of(recs)));
    ASSERT_EQ(run.stop_status, -1) << run.console.out;
    std::string expected = nobs_line(4);
    for (int i : c.dropped) {
      expected += no_match(i, temp[i - 1] ? k1 : k0, salt[i - 1] ? k1 : k0, c.param);
    }
    EXPECT_EQ(run.console.out, expected);
    ASSERT_EQ(run.result, static_cast<int>(c.kept_lat.size()));
    EXPECT_EQ(run.obs.size(), static_cast<std::size_t>(run.result));
    for (std::size_t k = 0; k < c.kept_lat.size(); ++k) {
      EXPECT_EQ(run.obs[k].lat, c.kept_lat[k]);
      EXPECT_EQ(run.obs[k].lon, -5.25f);
      EXPECT_TRUE(run.repeating(k));  // frequency 12
    }
  }
}

// A slash in the date columns of line 3 ends the list there: two records,
// line 4 is never read. Standard output keeps only its count line; one
// line on standard error names the file and line 3.
TEST(Metadata, UnreadableLineEndsTheListAndIsReportedOnStandardError) {
  kelvo_test::TestDomain d;
  Rec bad = repeating(12);
  bad.date = "00/1012004";
  const auto list = d.metadata(lines_of({repeating(12), repeating(12), bad, repeating(12)}));
  MetaRun run("salt");
  run.read(list);
  ASSERT_EQ(run.stop_status, -1) << run.console.out;
  EXPECT_EQ(run.result, 2);
  EXPECT_EQ(run.console.out, nobs_line(2));
  const std::string& err = run.console.err;
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(hand::count_of(err, "\n"), 1u) << err;
  EXPECT_EQ(err.back(), '\n');
  const std::size_t at = err.find(list.string());
  ASSERT_NE(at, std::string::npos) << err;
  std::string rest = err;
  rest.erase(at, list.string().size());
  EXPECT_EQ(hand::digit_runs(rest), std::vector<std::string>{"3"}) << err;
}

// An empty line is a record of zeros: both flags 0, so it is dropped with a
// no-match line giving its list line 2.
TEST(Metadata, EmptyLineIsARecordOfZeros) {
  kelvo_test::TestDomain d;
  Rec a = repeating(12);
  Rec b = repeating(12);
  b.lat = " 60.0000";
  MetaRun run("salt");
  run.read(d.metadata({a.line(), "", b.line()}));
  ASSERT_EQ(run.stop_status, -1) << run.console.out;
  EXPECT_EQ(run.console.out, nobs_line(3) + no_match(2, k0, k0, "salt"));
  ASSERT_EQ(run.result, 2);
  EXPECT_EQ(run.obs[0].lat, 43.5f);
  EXPECT_EQ(run.obs[1].lat, 60.0f);
}

// Kind 2 counts for layer 1 only, 1 and 3-7 for every layer (-9), any other
// kind for no layer (0) with a no-depth line giving the kind and the row.
TEST(Metadata, KindCodeGivesTheLayerAssignment) {
  struct KindCase {
    int kind;
    int layer;
  };
  const std::vector<KindCase> cases = {{0, 0},  {1, -9}, {2, 1},  {3, -9}, {4, -9},
                                       {5, -9}, {6, -9}, {7, -9}, {8, 0},  {-1, 0}};
  kelvo_test::TestDomain d;
  std::vector<Rec> recs;
  std::string expected = nobs_line(static_cast<int>(cases.size()));
  for (std::size_t n = 0; n < cases.size(); ++n) {
    Rec r = repeating(12);
    r.kind = cases[n].kind;
    recs.push_back(r);
    if (cases[n].layer == 0) expected += no_depth(cases[n].kind, static_cast<int>(n + 1));
  }
  MetaRun run("salt");
  run.read(d.metadata(lines_of(recs)));
  ASSERT_EQ(run.stop_status, -1) << run.console.out;
  EXPECT_EQ(run.console.out, expected);
  ASSERT_EQ(run.obs.size(), cases.size());
  for (std::size_t n = 0; n < cases.size(); ++n) {
    EXPECT_EQ(run.obs[n].layer, cases[n].layer) << "kind " << cases[n].kind;
  }
}

// The lines come stage by stage, not record by record: the count, the
// no-match lines (numbered by list line), the date and error lines of the
// one-time observations, then the no-depth lines (numbered by row among the
// kept observations).
//   line 1: temperature only            -> no match, i = 1
//   line 2: one-time 1 Jan 2004, kind 8 -> row 1, placed, no depth (8, 1)
//   line 3: one-time 1 Jan 2005, kind 1 -> row 2, error in times
//   line 4: temperature only            -> no match, i = 4
//   line 5: repeating, kind 0           -> row 3, no depth (0, 3)
TEST(Metadata, ReportLinesComeInStageOrderWithTheirNumbers) {
  Rec l1 = one_time("0001012004");
  l1.temp = 1;
  l1.salt = 0;
  Rec l2 = one_time("0001012004");
  l2.kind = 8;
  Rec l3 = one_time("0001012005");
  Rec l4 = l1;
  Rec l5 = repeating(12);
  l5.kind = 0;
  kelvo_test::TestDomain d;
  MetaRun run("salt");
  run.read(d.metadata(lines_of({l1, l2, l3, l4, l5})));
  ASSERT_EQ(run.stop_status, -1) << run.console.out;
  EXPECT_EQ(run.console.out, nobs_line(5) + no_match(1, k1, k0, "salt") + no_match(4, k1, k0, "salt") +
                                 "hr=00dy= 1mn= 1yr=2004\n" + "hr=00dy= 1mn= 1yr=2005\n" + times_error(k1462) +
                                 no_depth(8, 1) + no_depth(0, 3));
  ASSERT_EQ(run.result, 3);
  EXPECT_EQ(run.jday(1), 1096.0f);
  EXPECT_EQ(run.jday(2), kAbsent);
  EXPECT_EQ(run.jday(3), 1096.0f);
  EXPECT_EQ(run.obs[0].layer, 0);
  EXPECT_EQ(run.obs[1].layer, -9);
  EXPECT_EQ(run.obs[2].layer, 0);
}

// 99999 one-time records (the most the table holds) are all read, kept and
// placed; the last one is the 99999th line. The time of the call is
// measured and recorded.
TEST(Metadata, ListOf99999LinesIsReadWhole) {
  constexpr int n = 99999;
  kelvo_test::TestDomain d;
  std::vector<std::string> lines(n, one_time("0001012004").line());
  Rec last = one_time("0001012004");
  last.lat = " 12.0000";
  lines.back() = last.line();
  const auto list = d.metadata(lines);

  MetaRun run("salt");
  const auto t0 = std::chrono::steady_clock::now();
  run.read(list);
  const auto t1 = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(t1 - t0).count();
  ::testing::Test::RecordProperty("read_metadata_99999_one_time_seconds", std::to_string(seconds));
  std::cout << "[ timing   ] read_metadata of 99999 one-time records: " << seconds << " s\n";

  ASSERT_EQ(run.stop_status, -1);
  EXPECT_EQ(run.result, n);
  std::string expected = nobs_line(n);
  for (int k = 0; k < n; ++k) expected += "hr=00dy= 1mn= 1yr=2004\n";
  EXPECT_TRUE(run.console.out == expected) << run.console.out.substr(0, 400);
  EXPECT_EQ(run.console.err, "");
  EXPECT_EQ(run.obs[static_cast<std::size_t>(n - 1)].lat, 12.0f);
  int placed = 0;
  for (int k = 1; k <= n; ++k) placed += run.jday(k) == 1096.0f ? 1 : 0;
  EXPECT_EQ(placed, n);
  EXPECT_LT(seconds, 2.0);
}

// ------------------------------------------------------------ whole runs

// A domain "Tst" of one point and one layer whose scales are all 1.0, so
// that a run gets as far as the metadata list.
struct OnePointDomain {
  kelvo_test::TestDomain d;
  OnePointDomain() {
    kelvo_test::write_file(d.asc_dir() / "Tst_grid_cfg", hand::grid_cfg_text(1, 1, {1}));
    for (char comp : {'x', 'y', 't'}) {
      kelvo_test::write_file(d.asc_dir() / (std::string("Tst_salt_scale_lev01_") + comp + ".dat"), " 1.00000\n");
      kelvo_test::write_file(d.asc_dir() / (std::string("Tst_salt_power_") + comp + ".dat"), " 1.00000\n");
    }
  }
  kelvo_test::RunResult run(const std::vector<std::string>& more) const {
    std::vector<std::string> args{"Tst", "salt", "1", "1"};
    args.insert(args.end(), more.begin(), more.end());
    return kelvo_test::run_tool(args, d.dirs());
  }
};

// What the run printed after get_grid's last line (the t-exponent name).
std::string after_grid(const std::string& out) {
  const std::size_t p = out.find("Tst_salt_power_t.dat\n");
  return p == std::string::npos ? std::string() : out.substr(p + 21);
}

// 100000 lines: the table-full test comes before the read of line 100001
// and ends the run; no count line is printed. The 66-character text and the
// first integer would make an 80-character line, so the two integers go to
// a second line.
TEST(Metadata, ListOf100000LinesEndsTheRunTableFull) {
  OnePointDomain od;
  const auto list = od.d.metadata(std::vector<std::string>(100000, repeating(12).line()));
  const kelvo_test::RunResult r = od.run({list.string(), "tf"});
  EXPECT_EQ(r.status, 2);
  const std::string expected = free_lines(
      {text("Error !! Too many files in list, tmp array limit reached: i,maxnf "), integer(100001), integer(100000)});
  EXPECT_EQ(expected,
            " Error !! Too many files in list, tmp array limit reached: i,maxnf \n       100001       100000\n");
  EXPECT_EQ(after_grid(r.out), expected);
}

// A list that cannot be opened: the stop line with the 100 characters of
// the setting, trailing blanks included, which wrap to a second line. With
// four arguments the setting is all blanks.
TEST(Metadata, ListThatCannotBeOpenedEndsTheRun) {
  OnePointDomain od;
  const std::string missing = (od.d.root.path / "no_such.lst").string();
  struct OpenCase {
    const char* what;
    std::vector<std::string> more;
    std::string setting;
  };
  const std::vector<OpenCase> cases = {
      {"four arguments: blank setting", {}, std::string(100, ' ')},
      {"file that does not exist", {missing, "op"}, padded100(missing)},
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.what);
    const kelvo_test::RunResult r = od.run(c.more);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(after_grid(r.out), " STOP (read_metadata) Error in opening file***\n " + c.setting + "\n");
  }
}

// A date text that is a number for the first pass (00010.2004) but not four
// integers (its month columns hold "0.") ends the run with a stop line
// naming the file and the record, after the date line of the record before.
TEST(Metadata, DateTextThatIsNotFourIntegersEndsTheRun) {
  OnePointDomain od;
  Rec good = one_time("0001012004");
  Rec bad = one_time("00010.2004");
  const auto list = od.d.metadata(lines_of({good, bad}));
  const kelvo_test::RunResult r = od.run({list.string(), "dt"});
  EXPECT_EQ(r.status, 2);
  const std::string tail = after_grid(r.out);
  const std::string head = nobs_line(2) + "hr=00dy= 1mn= 1yr=2004\n";
  ASSERT_EQ(tail.substr(0, head.size()), head) << tail;
  const std::string stop = tail.substr(head.size());
  EXPECT_EQ(stop.rfind(" STOP (read_metadata)", 0), 0u) << stop;
  ASSERT_NE(stop.find(list.string()), std::string::npos) << stop;
  std::string rest = stop;
  rest.erase(rest.find(list.string()), list.string().size());
  const auto numbers = hand::digit_runs(rest);
  const bool names_record = rest.find("00010.2004") != std::string::npos ||
                            std::find(numbers.begin(), numbers.end(), "2") != numbers.end();
  EXPECT_TRUE(names_record) << stop;
  EXPECT_EQ(hand::count_of(r.out, "ilayer, Npoints"), 0u);
}

// The list read against a reference that reads each line field by field
// with the general readers: random lines of plain, signed, exponent and
// blank-padded fields, platform ids with and without leading zeros, and
// now and then a line that cannot be read, which ends the list.
TEST(Metadata, RecordsAreThoseOfTheGeneralFieldReaders) {
  std::mt19937 rng(2004u);
  const auto pick = [&](std::initializer_list<const char*> v) { return std::string(v.begin()[rng() % v.size()]); };
  kelvo_test::TempDir tmp;
  std::size_t all_kept = 0;
  for (int list = 0; list < 20; ++list) {
    std::string text;
    for (int n = 0; n < 400; ++n) {
      std::string line =
          pick({" 43.5000", "  -4.125", "43.5E+00", "   435.1", "-0.00001", " 4 3.5  "}) +
              pick({"  -5.2500", " 12.25   ", "  1.2-001", "    -0.5 ", "-.5      "}) +
              pick({"0001012004", " 0 1 12004", "2331122003", "1205 52004", "00010120 4"}) +
              pick({"    0", "   12", "99999", " 1E 1", "  -3 "}) + pick({"    ", "  12"}) +
              pick({"   6900123", "0000000042", "        42", "  1.5E+3  "}) + pick({" 1", " 0"}) +
              pick({" 1", " 0", "+1", "1."}) + pick({" 1", " 2", " 9", "-3", " 4"}) +
              pick({"", "  GL_PR_PF_6900123.nc", "\r"});
      if (rng() % 500 == 0) line[rng() % 52] = '#';
      text += line + "\n";
    }
    const std::filesystem::path path = tmp.path / ("l" + std::to_string(list) + ".lst");
    kelvo_test::write_file(path, text);
    kelvo::io::ListReport report;
    const kelvo::ObservationSet set = kelvo::io::read_list(path.string(), kelvo::salinity, &report);
    std::size_t kept = 0, at = 0;
    for (std::int64_t line = 1; at < text.size(); ++line) {
      const std::size_t end = text.find('\n', at);
      std::string_view l = std::string_view(text).substr(at, end - at);
      if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
      at = end + 1;
      textio::LineCursor cur{l.substr(0, 52)};
      float v[9];
      const int width[9] = {8, 9, 10, 5, 4, 10, 2, 2, 2};
      for (int f = 0; f < 9; ++f) v[f] = textio::read_fixed(cur, width[f], f < 2 ? 4 : 0);
      if (!cur.ok) {
        EXPECT_EQ(report.unreadable_line, line);
        break;
      }
      if (v[7] != 1.0f) continue;
      ASSERT_LT(kept, set.records.size()) << "line " << line;
      const kelvo::ObservationRecord& r = set.records[kept++];
      EXPECT_EQ(r.line, line);
      EXPECT_EQ(std::bit_cast<std::uint32_t>(r.lat), std::bit_cast<std::uint32_t>(v[0])) << l;
      EXPECT_EQ(std::bit_cast<std::uint32_t>(r.lon), std::bit_cast<std::uint32_t>(v[1])) << l;
      EXPECT_EQ(r.kind, static_cast<std::int32_t>(v[8]));
      const std::string_view id = textio::trim_right(l.substr(32, 4)).empty() ? l.substr(36, 10) : "";
      const std::string_view digits = id.substr(std::min(id.find_first_not_of(' '), id.size()));
      EXPECT_EQ(set.platforms[r.platform], kelvo::io::list_can_hold_platform(digits) ? digits : "") << l;
      if (v[3] > 0.0f && v[3] < 9999.0f) {
        EXPECT_TRUE(r.time.is_always());
        continue;
      }
      textio::LineCursor date{l.substr(17, 10)};
      const std::int32_t hour = textio::read_int(date, 2), day = textio::read_int(date, 2),
                         month = textio::read_int(date, 2), year = textio::read_int(date, 4);
      EXPECT_EQ(r.time.start, kelvo::day_number(month, day, year, hour, 0)) << l;
    }
    EXPECT_EQ(kept, set.records.size());
    all_kept += kept;
  }
  EXPECT_GT(all_kept, 2000u);
}

}  // namespace
