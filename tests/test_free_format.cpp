// Free-format lines: item layout, real items, and wrapping before column 80.

#include "textio/free_format.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace {

using textio::free_line;
using textio::free_real;

std::string blanks(std::size_t n) { return std::string(n, ' '); }

std::string letters(std::size_t n, char c = 'x') { return std::string(n, c); }

TEST(FreeReal, FixedNotationWithSevenSignificantDigits) {
  struct Case {
    float v;
    std::string_view text;
  };
  const Case cases[] = {
      {1096.0f, "   1096.000    "},
      {2191.0f, "   2191.000    "},
      {-182824.25f, "  -182824.3    "},  // exact tie, rounded half-up
      {0.0f, "   0.000000    "},
      {-0.0f, "   0.000000    "},
      {0.5f, "  0.5000000    "},
      {-0.5f, " -0.5000000    "},
      {0.1f, "  0.1000000    "},
      {1.0f, "   1.000000    "},
      {-1.5f, "  -1.500000    "},
      {10.0f, "   10.00000    "},
      {9.9999997f, "   10.00000    "},  // that decimal is the float 10
      {123456.7f, "   123456.7    "},
      {0.12345679f, "  0.1234568    "},
      {9999999.0f, "   9999999.    "},
      {-9999999.0f, "  -9999999.    "},
      {99.999f, "   99.99900    "},
  };
  for (const Case& c : cases) EXPECT_EQ(free_real(c.v), c.text) << c.v;
}

// The texts of the last values written are kept: repeated and alternating
// values (zero of either sign among them) still give each its own text.
TEST(FreeReal, TextDoesNotDependOnTheValuesBefore) {
  const std::pair<float, std::string_view> known[] = {
      {1.0f, "   1.000000    "}, {0.0f, "   0.000000    "}, {-0.0f, "   0.000000    "},
      {0.5f, "  0.5000000    "}, {1096.0f, "   1096.000    "}, {-0.5f, " -0.5000000    "}};
  for (const std::size_t k : {0, 0, 1, 0, 2, 1, 3, 4, 3, 5, 0, 5, 2, 2, 4}) {
    EXPECT_EQ(free_real(known[k].first), known[k].second) << known[k].first;
  }
}

TEST(FreeReal, ExponentNotationWithEightSignificantDigits) {
  struct Case {
    float v;
    std::string_view text;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {0.05f, "  5.0000001E-02"},
      {0.099999994f, "  9.9999994E-02"},
      {-0.05f, " -5.0000001E-02"},
      {1e7f, "  1.0000000E+07"},
      {-2.5e9f, " -2.5000000E+09"},
      {1e-5f, "  9.9999997E-06"},
      {std::numeric_limits<float>::max(), "  3.4028235E+38"},
      {std::numeric_limits<float>::denorm_min(), "  1.4012985E-45"},
      {-99999000.0f, " -9.9999000E+07"},
      {std::numeric_limits<float>::quiet_NaN(), "            NaN"},
      {inf, "            Inf"},
      {-inf, "           -Inf"},
  };
  for (const Case& c : cases) EXPECT_EQ(free_real(c.v), c.text) << c.v;
}

TEST(FreeLine, ItemsSeparatorsAndWidths) {
  struct Case {
    std::string line;
    std::string expected;
  };
  const Case cases[] = {
      {free_line({}), " \n"},
      {free_line({"From layer ", 3, " to layer ", 12}),
       " From layer " + blanks(1) + "           3" + blanks(1) + " to layer " + blanks(1) +
           "          12\n"},
      {free_line({"allocating with nlon,nlat,nz: ", 120, 90, 40}),
       " allocating with nlon,nlat,nz: " + blanks(1) + "         120" + blanks(1) +
           "          90" + blanks(1) + "          40\n"},
      {free_line({1096.0f, 2191.0f, 1095.0f}),
       " " + std::string("   1096.000    ") + " " + "   2191.000    " + " " +
           "   1095.000    " + "\n"},
      {free_line({"ab", "cd", "ef"}), " abcdef\n"},  // texts are adjacent
      {free_line({1, "x", 2.5f}),
       " " + std::string("           1") + " x " + "   2.500000    " + "\n"},
      {free_line({std::numeric_limits<std::int32_t>::min()}), "  -2147483648\n"},
      {free_line({std::string("full "), std::string_view("view")}), " full view\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.line, c.expected);
}

TEST(FreeLine, WrapsBeforeColumnEightyAndNeverSplitsAnItem) {
  const std::string name255 = letters(40, 'n') + blanks(215);
  const std::string stop = "STOP (write_grid) Error in opening file***";
  ASSERT_EQ(stop.size(), 42u);
  const std::string t40 = letters(40, 'm');
  const std::string t60 = letters(60, 'f');
  struct Case {
    std::string line;
    std::string expected;
  };
  const Case cases[] = {
      {free_line({t40, t60}), " " + t40 + "\n " + t60 + "\n"},
      {free_line({stop, name255}), " " + stop + "\n " + name255 + "\n"},
      // a 78-character text fills the line to 79: no wrap
      {free_line({letters(78)}), " " + letters(78) + "\n"},
      // a text longer than 78 on an empty line stays whole
      {free_line({letters(100)}), " " + letters(100) + "\n"},
      {free_line({letters(100), "ab"}), " " + letters(100) + "\n ab\n"},
      // 1 + 65 + 1 + 12 = 79: fits; one more text column makes 80: wraps and
      // the wrapped number is the first item of its line (no separator)
      {free_line({letters(65), 5}), " " + letters(65) + " " + "           5\n"},
      {free_line({letters(66), 5}), " " + letters(66) + "\n" + "            5\n"},
      {free_line({letters(66), 5, 6}),
       " " + letters(66) + "\n" + "            5 " + "           6\n"},
      // text after text: no separator counts, 1 + 70 + 8 = 79 fits, 9 wraps
      {free_line({letters(70), letters(8, 'y')}), " " + letters(70) + letters(8, 'y') + "\n"},
      {free_line({letters(70), letters(9, 'y')}), " " + letters(70) + "\n " + letters(9, 'y') + "\n"},
      // six integers make 78 columns, a seventh goes to the next line
      {free_line({1, 2, 3, 4, 5, 6}),
       " " + std::string("           1") + " " + "           2" + " " + "           3" + " " +
           "           4" + " " + "           5" + " " + "           6\n"},
      {free_line({1, 2, 3, 4, 5, 6, 7}),
       " " + std::string("           1") + " " + "           2" + " " + "           3" + " " +
           "           4" + " " + "           5" + " " + "           6\n" +
           "            7\n"},
      // five reals: 1 + 15 + 4 * 16 = 80 columns would be too long
      {free_line({1.0f, 2.0f, 3.0f, 4.0f, 5.0f}),
       " " + std::string("   1.000000    ") + " " + "   2.000000    " + " " +
           "   3.000000    " + " " + "   4.000000    \n" + " " + "   5.000000    \n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.line, c.expected);
  }
}

TEST(FreeLine, PutFreeAppends) {
  std::string out = "before\n";
  textio::put_free(out, {"a", 1});
  textio::put_free(out, {"b"});
  EXPECT_EQ(out, "before\n a            1\n b\n");
}

}  // namespace
