// get_grid: the decorrelation scale files of each layer of the range and the
// three exponent files, their summary and name lines on standard output,
// and the lines with which a missing, short or unreadable file ends the run.
//
// Input files are written character by character here. A scale field is 8
// columns with 5 implied decimals ("99.99900" is the no-value marker
// 99.999, " 1.50000" is 1.5).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "legacy/command_line.hpp"
#include "legacy/driver.hpp"
#include "support/hand_lines.hpp"
#include "support/run_support.hpp"

namespace {

using hand::free_lines;
using hand::integer;
using hand::text;

const std::string kMarker = "99.99900";
const std::string kOne = " 1.00000";
const std::string kAllocHead = " allocating with nlon,nlat,nz: ";

// A domain "Tst" with parameter "salt" in a temporary scale directory.
struct ScaleDomain {
  kelvo_test::TestDomain d;
  std::filesystem::path meta = d.metadata({});

  std::string dir() const { return d.dirs().scale_dir; }  // ends in "/"
  std::string scale_name(const std::string& lev2, char comp) const {
    return dir() + "Tst_ASC/Tst_salt_scale_lev" + lev2 + "_" + comp + ".dat";
  }
  std::string power_name(char comp) const { return dir() + "Tst_ASC/Tst_salt_power_" + comp + ".dat"; }

  void grid(int nlon, int nlat, const std::vector<int>& levnum) const {
    kelvo_test::write_file(d.asc_dir() / "Tst_grid_cfg", hand::grid_cfg_text(nlon, nlat, levnum));
  }
  void scale(const std::string& lev2, char comp, const std::vector<std::string>& rows) const {
    kelvo_test::write_file(scale_name(lev2, comp), hand::joined(rows));
  }
  void uniform(const std::string& lev2, char comp, int nlon, int nlat, const std::string& field) const {
    scale(lev2, comp, std::vector<std::string>(static_cast<std::size_t>(nlat), hand::repeat(field, nlon)));
  }
  void power(char comp, const std::string& content) const {
    kelvo_test::write_file(power_name(comp), content);
  }
  std::vector<std::string> args(const std::string& first, const std::string& last) const {
    return {"Tst", "salt", first, last, meta.string(), "t1"};
  }
};

// The scale summary line: mean as fixed(8.3), two blanks, count as int(8),
// one blank, the file name.
std::string summary(const std::string& mean8, int count, const std::string& name) {
  EXPECT_EQ(mean8.size(), 8u);
  return mean8 + "  " + hand::int_w(count, 8) + " " + name + "\n";
}
std::string name_line(const std::string& name) { return free_lines({text(name)}); }
std::string open_failure(const std::string& name) {
  return free_lines({text("STOP (get_grid) Error in opening file***"), text(name)});
}
std::string end_of_file(int ilat, const std::string& name) {
  return free_lines({text("STOP (get_grid) End of file reached, ilat: "), integer(ilat), text(name)});
}
std::string read_error(const std::string& name, int ilat) {
  return free_lines({text("STOP (get_grid) Error when reading file***"), text(name), integer(ilat)});
}

// The stages of a run up to and including get_grid, called on one run
// state so that the scales and exponents can be looked at afterwards.
struct GridStages {
  textio::Console console;
  kelvo::legacy::Printer out{console};
  kelvo::legacy::RunState s;
  int stop_status = -1;  // -1: get_grid returned

  explicit GridStages(const kelvo::legacy::BaseDirs& dirs) : s(dirs) {}

  void run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"kelvo_brino"};
    argv.insert(argv.end(), args.begin(), args.end());
    try {
      kelvo::legacy::get_args(out, s.settings, argv);
      kelvo::legacy::read_layer_bounds(out, s.settings);
      kelvo::legacy::read_grid_cfg(out, s);
      kelvo::check_layer_range(s.grid, s.settings.level_start, s.settings.level_end);
      kelvo::legacy::alloc_domain(out, s);
      kelvo::legacy::get_grid(out, s, 1);
    } catch (const kelvo::Error& e) {
      out.failure(e, s);
      stop_status = kelvo::exit_status_of(e);
    }
  }
  // Scale (i, j) (from 1) of layer k, component m (1 x, 2 y, 3 t); the
  // marker for a layer that was not read.
  float scale(int i, int j, std::int32_t k, int m) const {
    const std::int32_t first = s.scales.first_layer;
    if (k < first || k >= first + s.scales.layers) return kelvo::no_value;
    return s.scales.plane(k, m - 1)[static_cast<std::size_t>((i - 1) + s.grid.nlon * (j - 1))];
  }
  float power(std::int32_t k, int m) const {
    const kelvo::Exponents& e = s.scales.exponents[static_cast<std::size_t>(k - 1)];
    return m == 1 ? e.px : (m == 2 ? e.py : e.pt);
  }
  // What get_grid printed: everything after the allocation line.
  std::string grid_output() const { return hand::after_line(console.out, kAllocHead); }
};

// ------------------------------------------------------------ summary line

struct SummaryCase {
  const char* what;
  std::vector<std::string> x_rows;  // the x-scale file of a 3 x 2 grid
  std::string mean8;
  int count;
  std::vector<float> stored;        // scale(i, j, 1, x), i fastest
};

constexpr float M = kelvo::no_value;

TEST(ScaleFields, SummaryLineCountsOnlyValuesThatDifferFromTheMarker) {
  const std::vector<SummaryCase> cases = {
      // 99.99900 is the marker: out of count and mean, stored as the marker.
      // 99.99899 is a value. Sum i fastest then j: 99.99899 + 2 + 1 + 3 =
      // 105.99899, over 4 values = 26.49975, which rounds to 26.500.
      {"marker written as 99.99900, value 99.99899",
       {kMarker + "99.99899 2.00000", kOne + kMarker + " 3.00000"},
       "  26.500", 4, {M, 99.99899f, 2.0f, 1.0f, M, 3.0f}},
      // Row 1 holds one field: columns 2 and 3 read as 0, which is a value,
      // so 6 values summing to 4 x 1.5 = 6.0, mean 1.000.
      {"short line reads zeros", {" 1.50000", hand::repeat(" 1.50000", 3)}, "   1.000", 6,
       {1.5f, 0.0f, 0.0f, 1.5f, 1.5f, 1.5f}},
      // 1.5 at three points, the marker elsewhere: mean 4.5 / 3 = 1.500.
      {"three values of 1.5", {" 1.50000 1.50000" + kMarker, kMarker + " 1.50000" + kMarker}, "   1.500", 3,
       {1.5f, 1.5f, M, M, 1.5f, M}},
      // No value: count 0 and 0 / 0, not a number, shown as NaN.
      {"only the marker", {hand::repeat(kMarker, 3), hand::repeat(kMarker, 3)}, "     NaN", 0, {M, M, M, M, M, M}},
      // A fourth field and a third line lie outside the 3 x 2 grid:
      // 1 + 2 + ... + 6 = 21 over 6 = 3.500.
      {"columns after nlon and lines after nlat are ignored",
       {" 1.00000 2.00000 3.00000 7.00000", " 4.00000 5.00000 6.00000", " 9.00000 9.00000 9.00000"},
       "   3.500", 6, {1, 2, 3, 4, 5, 6}},
      // Digits without a point carry five implied decimals: 150000 is 1.5.
      {"implied decimals", {"  150000  150000  150000", "  150000  150000  150000"}, "   1.500", 6,
       {1.5f, 1.5f, 1.5f, 1.5f, 1.5f, 1.5f}},
  };
  for (const SummaryCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScaleDomain sd;
    sd.grid(3, 2, {1});
    sd.scale("01", 'x', c.x_rows);
    sd.uniform("01", 'y', 3, 2, kOne);
    sd.uniform("01", 't', 3, 2, kOne);
    for (char comp : {'x', 'y', 't'}) sd.power(comp, kOne + "\n");

    GridStages st(sd.d.dirs());
    st.run(sd.args("1", "1"));
    ASSERT_EQ(st.stop_status, -1) << st.console.out;
    // y and t: six values of 1.0, mean 1.000.
    const std::string expected = summary(c.mean8, c.count, sd.scale_name("01", 'x')) +
                                 summary("   1.000", 6, sd.scale_name("01", 'y')) +
                                 summary("   1.000", 6, sd.scale_name("01", 't')) +
                                 name_line(sd.power_name('x')) + name_line(sd.power_name('y')) +
                                 name_line(sd.power_name('t'));
    EXPECT_EQ(st.grid_output(), expected);
    for (int j = 1; j <= 2; ++j) {
      for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(st.scale(i, j, 1, 1), c.stored[static_cast<std::size_t>((i - 1) + 3 * (j - 1))])
            << "point (" << i << ", " << j << ")";
      }
    }
  }
}

// ------------------------------------------------------------ whole sequence

// Two layers with level numbers 5 and 12: the level text is two digits,
// zero-filled. Output: x, y, t of layer 1, then of layer 2, then the three
// exponent file names; every file lands in its own place.
TEST(ScaleFields, EveryLayerInOrderThenTheExponentFiles) {
  ScaleDomain sd;
  sd.grid(2, 2, {5, 12});
  sd.uniform("05", 'x', 2, 2, " 1.00000");
  sd.uniform("05", 'y', 2, 2, " 2.00000");
  sd.uniform("05", 't', 2, 2, " 3.00000");
  sd.uniform("12", 'x', 2, 2, " 4.00000");
  sd.uniform("12", 'y', 2, 2, " 5.00000");
  sd.uniform("12", 't', 2, 2, " 6.00000");
  sd.power('x', " 1.00000 2.00000\n");
  sd.power('y', " 3.00000 4.00000\n");
  sd.power('t', " 0.50000 0.25000\n");

  GridStages st(sd.d.dirs());
  st.run(sd.args("1", "2"));
  ASSERT_EQ(st.stop_status, -1) << st.console.out;
  const std::string expected =
      summary("   1.000", 4, sd.scale_name("05", 'x')) + summary("   2.000", 4, sd.scale_name("05", 'y')) +
      summary("   3.000", 4, sd.scale_name("05", 't')) + summary("   4.000", 4, sd.scale_name("12", 'x')) +
      summary("   5.000", 4, sd.scale_name("12", 'y')) + summary("   6.000", 4, sd.scale_name("12", 't')) +
      name_line(sd.power_name('x')) + name_line(sd.power_name('y')) + name_line(sd.power_name('t'));
  EXPECT_EQ(st.grid_output(), expected);

  for (int k = 1; k <= 2; ++k) {
    for (int m = 1; m <= 3; ++m) {
      const float want = static_cast<float>(3 * (k - 1) + m);
      for (int j = 1; j <= 2; ++j) {
        for (int i = 1; i <= 2; ++i) EXPECT_EQ(st.scale(i, j, k, m), want) << k << " " << m;
      }
    }
  }
  EXPECT_EQ(st.power(1, 1), 1.0f);
  EXPECT_EQ(st.power(2, 1), 2.0f);
  EXPECT_EQ(st.power(1, 2), 3.0f);
  EXPECT_EQ(st.power(2, 2), 4.0f);
  EXPECT_EQ(st.power(1, 3), 0.5f);
  EXPECT_EQ(st.power(2, 3), 0.25f);
}

// Layers 3 to 2: no scale file exists, none may be opened, no summary line
// is printed, every scale stays the marker, and the exponents are read.
TEST(ScaleFields, EmptyLayerRangeReadsOnlyTheExponentFiles) {
  ScaleDomain sd;
  sd.grid(2, 2, {1, 2, 3});
  sd.power('x', " 1.00000 2.00000 3.00000\n");
  sd.power('y', " 4.00000 5.00000 6.00000\n");
  sd.power('t', " 7.00000 8.00000 9.00000\n");

  GridStages st(sd.d.dirs());
  st.run(sd.args("3", "2"));
  ASSERT_EQ(st.stop_status, -1) << st.console.out;
  EXPECT_EQ(st.grid_output(),
            name_line(sd.power_name('x')) + name_line(sd.power_name('y')) + name_line(sd.power_name('t')));
  for (int k = 1; k <= 3; ++k) {
    for (int m = 1; m <= 3; ++m) {
      for (int j = 1; j <= 2; ++j) {
        for (int i = 1; i <= 2; ++i) EXPECT_EQ(st.scale(i, j, k, m), M);
      }
      EXPECT_EQ(st.power(k, m), static_cast<float>(3 * (m - 1) + k));
    }
  }
}

// Only the first line of an exponent file is read: an empty first line
// gives 0 for every layer, a first line with fewer than nz fields gives 0
// for the missing ones, and a second line is ignored.
TEST(ScaleFields, ExponentFileEmptyOrShortFirstLineReadsZeros) {
  ScaleDomain sd;
  sd.grid(1, 1, {1, 2});
  sd.uniform("01", 'x', 1, 1, kOne);
  sd.uniform("01", 'y', 1, 1, kOne);
  sd.uniform("01", 't', 1, 1, kOne);
  sd.power('x', " 1.00000 2.00000\n 8.00000 8.00000\n");
  sd.power('y', "\n 8.00000 8.00000\n");
  sd.power('t', " 3.00000\n");

  GridStages st(sd.d.dirs());
  st.run(sd.args("1", "1"));
  ASSERT_EQ(st.stop_status, -1) << st.console.out;
  EXPECT_EQ(hand::count_of(st.grid_output(), "STOP"), 0u);
  EXPECT_EQ(st.power(1, 1), 1.0f);
  EXPECT_EQ(st.power(2, 1), 2.0f);
  EXPECT_EQ(st.power(1, 2), 0.0f);
  EXPECT_EQ(st.power(2, 2), 0.0f);
  EXPECT_EQ(st.power(1, 3), 3.0f);
  EXPECT_EQ(st.power(2, 3), 0.0f);
}

// ------------------------------------------------------------ failures

// A 2 x 12 grid of one layer (level number 1) whose files all hold 1.0:
// each complete scale file prints mean 1.000 over 24 values.
struct FailureCase {
  const char* what;
  std::vector<int> levnum;
  std::string first, last;  // layer range
  std::function<void(const ScaleDomain&)> spoil;
  std::function<std::string(const ScaleDomain&)> expected;  // after the allocation line
};

std::string ok(const ScaleDomain& sd, char comp) { return summary("   1.000", 24, sd.scale_name("01", comp)); }
std::string ok_xyt(const ScaleDomain& sd) { return ok(sd, 'x') + ok(sd, 'y') + ok(sd, 't'); }

// Rows of 1.0 with an unreadable second field in row `bad` (1-based).
std::vector<std::string> rows_with_bad_field(int nrows, int bad) {
  std::vector<std::string> rows(static_cast<std::size_t>(nrows), kOne + kOne);
  rows[static_cast<std::size_t>(bad - 1)] = kOne + " 1.0#000";
  return rows;
}
std::vector<std::string> ten_rows() { return std::vector<std::string>(10, kOne + kOne); }

TEST(ScaleFields, FailuresEndTheRunWithTheirLineAndStatusTwo) {
  const std::vector<FailureCase> cases = {
      {"missing y-scale file", {1}, "1", "1",
       [](const ScaleDomain& sd) { std::filesystem::remove(sd.scale_name("01", 'y')); },
       [](const ScaleDomain& sd) { return ok(sd, 'x') + open_failure(sd.scale_name("01", 'y')); }},
      // Lines 1..10 read; the 11th is missing.
      {"y-scale file of 10 lines on 12 rows", {1}, "1", "1",
       [](const ScaleDomain& sd) { sd.scale("01", 'y', ten_rows()); },
       [](const ScaleDomain& sd) { return ok(sd, 'x') + end_of_file(11, sd.scale_name("01", 'y')); }},
      {"t-scale file of 10 lines on 12 rows", {1}, "1", "1",
       [](const ScaleDomain& sd) { sd.scale("01", 't', ten_rows()); },
       [](const ScaleDomain& sd) {
         return ok(sd, 'x') + ok(sd, 'y') + end_of_file(11, sd.scale_name("01", 't'));
       }},
      // The x-scale file is handled like the y and t files.
      {"x-scale file of 10 lines on 12 rows", {1}, "1", "1",
       [](const ScaleDomain& sd) { sd.scale("01", 'x', ten_rows()); },
       [](const ScaleDomain& sd) { return end_of_file(11, sd.scale_name("01", 'x')); }},
      {"unreadable field in row 3 of the x-scale file", {1}, "1", "1",
       [](const ScaleDomain& sd) { sd.scale("01", 'x', rows_with_bad_field(12, 3)); },
       [](const ScaleDomain& sd) { return read_error(sd.scale_name("01", 'x'), 3); }},
      {"unreadable field in row 3 of the y-scale file", {1}, "1", "1",
       [](const ScaleDomain& sd) { sd.scale("01", 'y', rows_with_bad_field(12, 3)); },
       [](const ScaleDomain& sd) { return ok(sd, 'x') + read_error(sd.scale_name("01", 'y'), 3); }},
      {"unreadable field in the last row of the t-scale file", {1}, "1", "1",
       [](const ScaleDomain& sd) { sd.scale("01", 't', rows_with_bad_field(12, 12)); },
       [](const ScaleDomain& sd) {
         return ok(sd, 'x') + ok(sd, 'y') + read_error(sd.scale_name("01", 't'), 12);
       }},
      // ilat keeps the value the last scale file left: nlat + 1 = 13.
      {"unreadable field in the x-exponent file", {1}, "1", "1",
       [](const ScaleDomain& sd) { sd.power('x', " 1.0#000\n"); },
       [](const ScaleDomain& sd) {
         return ok_xyt(sd) + name_line(sd.power_name('x')) + read_error(sd.power_name('x'), 13);
       }},
      {"y-exponent file with no line", {1}, "1", "1", [](const ScaleDomain& sd) { sd.power('y', ""); },
       [](const ScaleDomain& sd) {
         return ok_xyt(sd) + name_line(sd.power_name('x')) + name_line(sd.power_name('y')) +
                end_of_file(13, sd.power_name('y'));
       }},
      // The name line comes before the file is opened.
      {"missing t-exponent file", {1}, "1", "1",
       [](const ScaleDomain& sd) { std::filesystem::remove(sd.power_name('t')); },
       [](const ScaleDomain& sd) {
         return ok_xyt(sd) + name_line(sd.power_name('x')) + name_line(sd.power_name('y')) +
                name_line(sd.power_name('t')) + open_failure(sd.power_name('t'));
       }},
      // No scale file read: ilat still holds its starting value 0.
      {"x-exponent file with no line, empty layer range", {1}, "1", "0",
       [](const ScaleDomain& sd) { sd.power('x', ""); },
       [](const ScaleDomain& sd) { return name_line(sd.power_name('x')) + end_of_file(0, sd.power_name('x')); }},
      {"unreadable y-exponent file, empty layer range", {1}, "1", "0",
       [](const ScaleDomain& sd) { sd.power('y', " 1.0#000\n"); },
       [](const ScaleDomain& sd) {
         return name_line(sd.power_name('x')) + name_line(sd.power_name('y')) + read_error(sd.power_name('y'), 0);
       }},
      // 123 does not fit two digits: the level text is "**" and that file
      // does not exist (the files of level 1 are there).
      {"level number 123", {123}, "1", "1", [](const ScaleDomain&) {},
       [](const ScaleDomain& sd) { return open_failure(sd.scale_name("**", 'x')); }},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScaleDomain sd;
    sd.grid(2, 12, c.levnum);
    for (char comp : {'x', 'y', 't'}) {
      sd.uniform("01", comp, 2, 12, kOne);
      sd.power(comp, kOne + "\n");
    }
    c.spoil(sd);
    const kelvo_test::RunResult r = kelvo_test::run_tool(sd.args(c.first, c.last), sd.d.dirs());
    EXPECT_EQ(r.status, 2);
    // Nothing follows the stop line: no later stage runs.
    EXPECT_EQ(hand::after_line(r.out, kAllocHead), c.expected(sd));
    EXPECT_EQ(r.err, "");
  }
}

}  // namespace
