// Reading fixed-column fields: integers, reals with implied decimals and
// exponents, texts, and the line cursor.

#include "textio/fields.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

using textio::LineCursor;
using textio::parse_fixed;
using textio::parse_int;

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

// ---------------------------------------------------------------- integers

struct IntCase {
  std::string_view field;
  bool ok;
  std::int32_t value;
};

TEST(ParseInt, AcceptsBlanksSignsAndDigits) {
  const IntCase cases[] = {
      {"", true, 0},
      {"    ", true, 0},
      {"12", true, 12},
      {" 1 2", true, 12},
      {"12  ", true, 12},
      {"05", true, 5},
      {" 7", true, 7},
      {"-3", true, -3},
      {"+7", true, 7},
      {"- 3", true, -3},
      {"  -0", true, 0},
      {"2147483647", true, std::numeric_limits<std::int32_t>::max()},
      {"-2147483648", true, std::numeric_limits<std::int32_t>::min()},
      {"00000000000000000000042", true, 42},
  };
  for (const IntCase& c : cases) {
    std::int32_t value = -999;
    EXPECT_TRUE(parse_int(c.field, value)) << '"' << c.field << '"';
    EXPECT_EQ(value, c.value) << '"' << c.field << '"';
  }
}

TEST(ParseInt, RejectsAnythingElseAndLeavesValueUntouched) {
  using namespace std::string_view_literals;
  const std::string_view cases[] = {
      "-", "+", " - ", "1-", "--1", "+-1", "1+2", "1.", "1.5", "ab", "1e2", "1\t", "\t1",
      "1\0"sv, "\xC3\xA9", "2147483648", "-2147483649", "99999999999999999999999",
  };
  for (const std::string_view field : cases) {
    std::int32_t value = -999;
    EXPECT_FALSE(parse_int(field, value)) << '"' << field << '"';
    EXPECT_EQ(value, -999) << '"' << field << '"';
  }
}

// ---------------------------------------------------------------- reals

struct FixedCase {
  std::string_view field;
  int d;
  float value;
};

void expect_fixed(const FixedCase& c) {
  float value = -999.0f;
  ASSERT_TRUE(parse_fixed(c.field, c.d, value)) << '"' << c.field << "\" d=" << c.d;
  EXPECT_EQ(bits(value), bits(c.value))
      << '"' << c.field << "\" d=" << c.d << " gave " << value << " want " << c.value;
}

TEST(ParseFixed, ImpliedDecimalsBlanksAndSigns) {
  const FixedCase cases[] = {
      {"", 2, 0.0f},
      {"     ", 2, 0.0f},
      {"  1.5", 2, 1.5f},
      {"1.5  ", 2, 1.5f},
      {" 1 . 5", 2, 1.5f},
      {"150", 2, 1.50f},
      {"  150", 2, 1.50f},
      {"125", 5, 0.00125f},
      {"1", 0, 1.0f},
      {"1", 3, 0.001f},
      {"1.", 3, 1.0f},
      {".5", 3, 0.5f},
      {"+1.5", 2, 1.5f},
      {"-1.5", 2, -1.5f},
      {"- 1.5", 2, -1.5f},
      {"  -150", 2, -1.5f},
      {"99.99900", 5, 99.999f},
      {"  1.50000", 5, 1.5f},
      {"    1111", 3, 1.111f},
      {"0.000", 3, 0.0f},
      {"-0", 0, -0.0f},
      {"-0.000", 3, -0.0f},
      {"007", 1, 0.7f},
      {"0.0001", 0, 0.0001f},
      {"1", 11, 1e-11f},
      {"123456789", 0, 123456789.0f},
      {"12345678", 12, 12345678e-12f},
  };
  for (const FixedCase& c : cases) expect_fixed(c);
}

TEST(ParseFixed, ExponentForms) {
  const FixedCase cases[] = {
      {"1.5E3", 5, 1500.0f},
      {"1.5e3", 5, 1500.0f},
      {"1.5D3", 5, 1500.0f},
      {"1.5d-3", 5, 0.0015f},
      {"1.5E+3", 5, 1500.0f},
      {"1.5E+03", 5, 1500.0f},
      {"1.5+3", 5, 1500.0f},
      {"1.5-3", 5, 0.0015f},
      {"-1.5-3", 5, -0.0015f},
      {"1.5 E 3", 5, 1500.0f},
      {"15E-1", 5, 15e-6f},     // the implied decimals still apply
      {"15+2", 2, 15.0f},
      {"15E0", 0, 15.0f},
      {"1.E2", 3, 100.0f},
      {".5E1", 3, 5.0f},
      {"1E38", 0, 1e38f},
      {"1E-45", 0, 1e-45f},     // subnormal
      {"3.4028235E38", 0, std::numeric_limits<float>::max()},
      {"1E39", 0, std::numeric_limits<float>::infinity()},
      {"-1E39", 0, -std::numeric_limits<float>::infinity()},
      {"1E999999999999999999999", 0, std::numeric_limits<float>::infinity()},
      {"1E-50", 0, 0.0f},
      {"-1E-50", 0, -0.0f},
      {"-1E-999999999999999999999", 0, -0.0f},
      {"0E999999", 0, 0.0f},
  };
  for (const FixedCase& c : cases) expect_fixed(c);
}

TEST(ParseFixed, RejectsMalformedFieldsAndLeavesValueUntouched) {
  using namespace std::string_view_literals;
  const std::string_view cases[] = {
      "1.5x", "-", "+", ".", "-.", " - . ", "1.5E", "1.5E+", "1.5E-", "1..5", "1.5.", "1-",
      "1.5-", "1.5+", "E3", ".E3", "-E3", "--1", "1.5E3.0", "1.5E3E2", "1.5E+-3", "+-3",
      "1.5-3-", "1,5", "1:5", "1/5", "9:", "/9", "1\t", "\t1", "1.5\0"sv, "\xC3", "1.5f", "inf", "nan", "1.5E3 x",
  };
  for (const std::string_view field : cases) {
    float value = -999.0f;
    EXPECT_FALSE(parse_fixed(field, 2, value)) << '"' << field << '"';
    EXPECT_EQ(value, -999.0f) << '"' << field << '"';
  }
}

TEST(ParseFixed, RoundsCorrectlyWhereShortcutsWouldNot) {
  const float tenth = 0.1f;                                  // 13421773 x 2^-27
  const float tenth_up1 = std::nextafter(tenth, 1.0f);       // 13421774 x 2^-27 (even)
  const float tenth_up2 = std::nextafter(tenth_up1, 1.0f);   // 13421775 x 2^-27
  const std::string zeros(270, '0');
  const std::string many_int_digits = "1" + std::string(220, '0');
  const std::string long_fields[] = {
      // a long digit string close to 0.1f
      "0.1000000014901161193847656250000001",
      // exactly halfway between 0.1f and the next float: ties to even (up)
      "0.1000000052154064178466796875",
      // just below that halfway point: a double detour would land on the
      // halfway point and then round up
      "0.10000000521540641784667968749999999",
      // just above it
      "0.10000000521540641784667968750000001",
      // halfway between tenth_up1 (even) and tenth_up2: ties down
      "0.1000000126659870147705078125",
      // the same plus a non-zero digit far beyond 200 significant digits
      "0.1000000126659870147705078125" + zeros + "1",
      // the same with only zeros after it: still the tie
      "0.1000000126659870147705078125" + zeros,
      // the implied decimals applied to a long integer
      "1000000052154064178466796875",
      // 2^24 + 1 is a tie between 2^24 and 2^24 + 2 (ties to even)
      "16777217",
      "16777217.000001",
      "167772170",
      // more than 200 digits before an implied point
      many_int_digits,
  };
  const int ds[] = {0, 0, 0, 0, 0, 0, 0, 28, 0, 0, 1, 200};
  const float expected[] = {tenth,     tenth_up1,   tenth,         tenth_up1,
                            tenth_up1, tenth_up2,   tenth_up1,     tenth_up1,
                            16777216.0f, 16777218.0f, 16777216.0f, 1e20f};
  for (std::size_t i = 0; i < std::size(long_fields); ++i)
    expect_fixed({long_fields[i], ds[i], expected[i]});
}

// Builds the same decimal value in the plain notation the standard library
// reads, so the two conversions can be compared.
struct RandomField {
  std::string field;     // as it would stand in a file
  std::string plain;     // "-digits.digitse<exp>" for std::from_chars
  int d = 0;
};

RandomField random_field(std::mt19937& rng) {
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  RandomField r;
  r.d = pick(0, 9);
  const bool negative = pick(0, 1) == 1;
  const int digit_count = pick(1, pick(0, 3) == 0 ? 40 : 9);
  std::string digits;
  for (int i = 0; i < digit_count; ++i) digits.push_back(static_cast<char>('0' + pick(0, 9)));
  const bool point = pick(0, 1) == 1;
  const int point_at = pick(0, digit_count);
  int exponent = 0;
  const int exponent_style = pick(0, 5);  // 0..1: none, 2..4: letter, 5: sign only
  if (exponent_style >= 2) exponent = pick(-30, 30);

  if (pick(0, 3) == 0) r.field.append(static_cast<std::size_t>(pick(1, 3)), ' ');
  if (negative) r.field.push_back('-');
  else if (pick(0, 4) == 0) r.field.push_back('+');
  if (point) {
    r.field += digits.substr(0, static_cast<std::size_t>(point_at)) + "." +
               digits.substr(static_cast<std::size_t>(point_at));
  } else {
    r.field += digits;
  }
  if (exponent_style >= 2) {
    if (exponent_style < 5) r.field.push_back("EeDd"[pick(0, 3)]);
    if (exponent < 0) r.field.push_back('-');
    else if (exponent_style == 5 || pick(0, 1) == 1) r.field.push_back('+');
    r.field += std::to_string(exponent < 0 ? -exponent : exponent);
  }

  const int decimals = point ? digit_count - point_at : r.d;
  r.plain = (negative ? "-" : "") + digits + "e" + std::to_string(exponent - decimals);
  return r;
}

TEST(ParseFixed, AgreesWithCorrectlyRoundedLibraryConversion) {
  std::mt19937 rng(20040101u);
  int compared = 0;
  for (int i = 0; i < 20000; ++i) {
    const RandomField r = random_field(rng);
    float expected = 0.0f;
    const auto result =
        std::from_chars(r.plain.data(), r.plain.data() + r.plain.size(), expected);
    if (result.ec != std::errc{}) continue;  // out of float range
    float value = 0.0f;
    ASSERT_TRUE(parse_fixed(r.field, r.d, value)) << '"' << r.field << '"';
    ASSERT_EQ(bits(value), bits(expected))
        << '"' << r.field << "\" d=" << r.d << " reference " << r.plain;
    ++compared;
  }
  EXPECT_GT(compared, 19000);
}

// Short fields from a handful of characters, checked against the rules
// applied the slow way: drop the blanks; then an optional sign, digits with
// at most one point and at least one digit, optionally "E", a sign or "E"
// and a sign, then the digits of an exponent; anything else is a read error.
struct ShortFieldReference {
  bool ok = false;
  std::string plain;  // for std::from_chars
};

ShortFieldReference reference_for_short_field(std::string_view field, int d) {
  std::string packed;
  for (const char c : field)
    if (c != ' ') packed.push_back(c);
  ShortFieldReference ref;
  if (packed.empty()) {
    ref.ok = true;
    ref.plain = "0";
    return ref;
  }
  std::size_t i = 0;
  std::string sign;
  if (packed[0] == '-' || packed[0] == '+') {
    if (packed[0] == '-') sign = "-";
    i = 1;
  }
  std::string digits;
  int points = 0;
  int decimals = 0;
  auto exponent_start = [](char c) { return c == '+' || c == '-' || c == 'E'; };
  for (; i < packed.size() && !exponent_start(packed[i]); ++i) {
    const char c = packed[i];
    if (c >= '0' && c <= '9') {
      digits.push_back(c);
      if (points == 1) ++decimals;
    } else if (c == '.') {
      ++points;
    } else {
      return ref;
    }
  }
  if (digits.empty() || points > 1) return ref;
  int exponent = 0;
  if (i < packed.size()) {
    if (packed[i] == 'E' && i + 1 < packed.size() && (packed[i + 1] == '+' || packed[i + 1] == '-'))
      ++i;
    const bool negative_exponent = packed[i] == '-';
    const std::string exponent_digits = packed.substr(i + 1);
    if (exponent_digits.empty() || exponent_digits.find_first_not_of("0123456789") != std::string::npos)
      return ref;
    for (const char c : exponent_digits) exponent = std::min(exponent * 10 + (c - '0'), 1000000);
    if (negative_exponent) exponent = -exponent;
  }
  ref.ok = true;
  ref.plain = sign + digits + "e" + std::to_string(exponent - (points == 1 ? decimals : d));
  return ref;
}

TEST(ParseFixed, ShortFieldsFollowTheRulesCharacterByCharacter) {
  std::mt19937 rng(1995u);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const std::string alphabet = "          0123456789012345678901234567890123456789...--+:/xE";
  int valid = 0;
  int invalid = 0;
  for (int i = 0; i < 40000; ++i) {
    std::string field;
    const int width = pick(1, 12);
    if (i % 2 == 0) {
      // a right-aligned number as the files hold them, sometimes spoiled
      std::string number;
      if (pick(0, 3) == 0) number.push_back('-');
      const int digits = pick(1, 8);
      const int point_at = pick(-1, digits);
      for (int k = 0; k < digits; ++k) {
        if (k == point_at) number.push_back('.');
        number.push_back(static_cast<char>('0' + pick(0, 9)));
      }
      if (point_at == digits) number.push_back('.');
      if (pick(0, 9) == 0) number[static_cast<std::size_t>(pick(0, static_cast<int>(number.size()) - 1))] = alphabet[static_cast<std::size_t>(pick(0, static_cast<int>(alphabet.size()) - 1))];
      field = std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(number.size()))), ' ') + number;
    } else {
      for (int k = 0; k < width; ++k)
        field.push_back(alphabet[static_cast<std::size_t>(pick(0, static_cast<int>(alphabet.size()) - 1))]);
    }
    const int d = pick(0, 6);
    const ShortFieldReference ref = reference_for_short_field(field, d);
    float value = -999.0f;
    const bool ok = parse_fixed(field, d, value);
    ASSERT_EQ(ok, ref.ok) << '"' << field << "\" d=" << d;
    if (!ok) {
      ++invalid;
      continue;
    }
    float expected = 0.0f;
    const auto result = std::from_chars(ref.plain.data(), ref.plain.data() + ref.plain.size(), expected);
    if (result.ec == std::errc::result_out_of_range) {
      // beyond the float range: an infinity or a zero of the same sign
      ASSERT_TRUE(std::isinf(value) || value == 0.0f) << '"' << field << '"';
      ASSERT_EQ(std::signbit(value), ref.plain[0] == '-') << '"' << field << '"';
      ++valid;
      continue;
    }
    ASSERT_EQ(bits(value), bits(expected)) << '"' << field << "\" d=" << d << " reference " << ref.plain;
    ++valid;
  }
  EXPECT_GT(valid, 15000);
  EXPECT_GT(invalid, 2000);
}

TEST(ParseFixed, AgreesOnFloatHalfwayPoints) {
  // The exact decimal of the point halfway between a float and its upper
  // neighbour (exact as a double), and that text cut short (below it).
  std::mt19937 rng(7u);
  std::uniform_int_distribution<std::uint32_t> finite_bits(0x00800000u, 0x7f7ffffeu);
  for (int i = 0; i < 3000; ++i) {
    const float low = std::bit_cast<float>(finite_bits(rng));
    const float high = std::nextafter(low, std::numeric_limits<float>::infinity());
    const double halfway = (static_cast<double>(low) + static_cast<double>(high)) / 2.0;
    // 121 significant digits are enough for the exact value of any such
    // point (at most 112 are needed, near the smallest normal floats).
    char exact[200];
    std::snprintf(exact, sizeof exact, "%.120e", halfway);
    const float even = (bits(low) & 1u) == 0 ? low : high;
    float value = 0.0f;
    ASSERT_TRUE(parse_fixed(exact, 0, value)) << exact;
    ASSERT_EQ(bits(value), bits(even)) << exact;

    const std::string text(exact);
    const std::size_t e = text.find('e');
    if (text.find_first_not_of('0', 12) == e) continue;  // the cut would be the point itself
    const std::string cut = text.substr(0, 12) + text.substr(e);  // d.dddddddddd, below it
    ASSERT_TRUE(parse_fixed(cut, 0, value)) << cut;
    ASSERT_EQ(bits(value), bits(low)) << cut;
  }
}

// ---------------------------------------------------------------- cursor

// The list reader's shortcut against the general reader: on random fields
// of a list's characters, wherever it reads a field it reads parse_fixed's
// very value, and it leaves the value alone where it declines.
TEST(ParsePlainFixed, GivesParseFixedsValueOrDeclines) {
  std::mt19937 rng(52u);
  const std::string alphabet = "      0123456789012345678901234567890123456789..-+E";
  int read = 0;
  for (int i = 0; i < 200000; ++i) {
    const int width = static_cast<int>(rng() % 13);
    const int d = static_cast<int>(rng() % 5);
    std::string field;
    for (int c = 0; c < width; ++c) field.push_back(alphabet[rng() % alphabet.size()]);
    float plain = 7.0f, general = 0.0f;
    if (!textio::parse_plain_fixed(field, d, plain)) {
      ASSERT_EQ(bits(plain), bits(7.0f)) << '"' << field << '"';
      continue;
    }
    ++read;
    ASSERT_TRUE(parse_fixed(field, d, general)) << '"' << field << '"';
    ASSERT_EQ(bits(plain), bits(general)) << '"' << field << "\" d=" << d;
  }
  EXPECT_GT(read, 20000);
}

TEST(LineCursor, ReadsFieldsInOrderAndBlanksPastTheEnd) {
  LineCursor cur{"  12  1.5 150abcdef"};
  EXPECT_EQ(textio::read_int(cur, 4), 12);
  EXPECT_EQ(textio::read_fixed(cur, 5, 2), 1.5f);
  EXPECT_EQ(textio::read_fixed(cur, 4, 2), 1.5f);
  textio::read_skip(cur, 1);
  EXPECT_EQ(textio::read_text(cur, 3, 3), "bcd");
  EXPECT_EQ(textio::read_text(cur, 4, 4), "ef  ");  // runs past the end
  EXPECT_EQ(textio::read_int(cur, 3), 0);           // wholly past the end
  EXPECT_EQ(textio::read_fixed(cur, 8, 3), 0.0f);
  EXPECT_EQ(textio::read_text(cur, 2, 3), "   ");
  EXPECT_TRUE(cur.ok);
  EXPECT_EQ(cur.col, 4u + 5 + 4 + 1 + 3 + 4 + 3 + 8 + 2);
}

TEST(LineCursor, TakeColumnsIsCutAtTheLineEnd) {
  LineCursor cur{"abcde"};
  EXPECT_EQ(textio::take_columns(cur, 3), "abc");
  EXPECT_EQ(textio::take_columns(cur, 3), "de");
  EXPECT_EQ(textio::take_columns(cur, 3), "");
  EXPECT_EQ(cur.col, 9u);
  EXPECT_EQ(textio::take_columns(cur, 0), "");
  EXPECT_EQ(cur.col, 9u);
}

TEST(LineCursor, ReadErrorReadsZeroAndStaysFailed) {
  LineCursor cur{"ab 12 x.5  7"};
  EXPECT_EQ(textio::read_int(cur, 2), 0);
  EXPECT_FALSE(cur.ok);
  EXPECT_EQ(textio::read_int(cur, 3), 12);  // later fields still advance
  EXPECT_FALSE(cur.ok);
  EXPECT_EQ(textio::read_fixed(cur, 4, 1), 0.0f);
  EXPECT_EQ(textio::read_int(cur, 3), 7);
  EXPECT_FALSE(cur.ok);

  LineCursor real_error{"1.5x"};
  EXPECT_EQ(textio::read_fixed(real_error, 4, 1), 0.0f);
  EXPECT_FALSE(real_error.ok);
}

TEST(LineCursor, TextFieldIntoVariableOfOtherLength) {
  struct Case {
    std::string_view line;
    int w;
    std::size_t length;
    std::string_view stored;
  };
  const Case cases[] = {
      {"abcdef", 6, 3, "def"},    // w >= L: the rightmost L columns
      {"abcdef", 6, 6, "abcdef"},
      {"abcdef", 3, 5, "abc  "},  // w < L: padded
      {"ab", 4, 4, "ab  "},
      {"ab", 4, 2, "  "},         // rightmost 2 of "ab  "
      {"", 3, 2, "  "},
      {"abc", 0, 2, "  "},
  };
  for (const Case& c : cases) {
    LineCursor cur{c.line};
    EXPECT_EQ(textio::read_text(cur, c.w, c.length), c.stored)
        << '"' << c.line << "\" w=" << c.w << " L=" << c.length;
  }
}

TEST(Texts, PaddedAndTrimRight) {
  EXPECT_EQ(textio::padded("NsBs", 6), "NsBs  ");
  EXPECT_EQ(textio::padded("100", 2), "10");
  EXPECT_EQ(textio::padded("", 3), "   ");
  EXPECT_EQ(textio::padded("ab", 0), "");
  EXPECT_EQ(textio::trim_right("salt   "), "salt");
  EXPECT_EQ(textio::trim_right("  a b  "), "  a b");
  EXPECT_EQ(textio::trim_right("    "), "");
  EXPECT_EQ(textio::trim_right(""), "");
  EXPECT_EQ(textio::trim_right("x\t"), "x\t");  // only blanks are trailing padding
}

}  // namespace
