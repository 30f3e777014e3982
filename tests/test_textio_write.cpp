// Writing fixed-column fields: int(w), int(w.m), fixed(w.d), text(w), skip(n).

#include "textio/fields.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>

namespace {

std::string int_field(std::int64_t v, int w, int m = 1) {
  std::string out;
  textio::put_int(out, v, w, m);
  return out;
}

std::string fixed_field(float v, int w, int d) {
  std::string out;
  textio::put_fixed(out, v, w, d);
  return out;
}

TEST(PutInt, RightAlignedZeroFilledOrAsterisks) {
  struct Case {
    std::int64_t v;
    int w, m;
    std::string_view text;
  };
  const Case cases[] = {
      {123, 2, 1, "**"},
      {-5, 2, 1, "-5"},
      {3, 2, 2, "03"},
      {7, 3, 3, "007"},
      {1, 2, 1, " 1"},
      {10, 2, 1, "10"},
      {0, 3, 1, "  0"},
      {42, 5, 1, "   42"},
      {-7, 4, 3, "-007"},
      {-7, 3, 3, "***"},
      {-10, 2, 1, "**"},
      {12345, 5, 3, "12345"},
      {5, 6, 4, "  0005"},
      {std::numeric_limits<std::int64_t>::min(), 20, 1, "-9223372036854775808"},
      {std::numeric_limits<std::int64_t>::min(), 19, 1, "*******************"},
      {std::numeric_limits<std::int32_t>::max(), 12, 1, "  2147483647"},
      {5, 2, 1000000, "**"},
      {5, 0, 1, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(int_field(c.v, c.w, c.m), c.text) << c.v << " int(" << c.w << "." << c.m << ")";
}

TEST(PutInt, DefaultsToOneDigitAndAppends) {
  std::string out = "x";
  textio::put_int(out, 0, 2);
  textio::put_int(out, -1, 3);
  EXPECT_EQ(out, "x 0 -1");
}

TEST(PutFixed, RoundsHalfUpOnSixteenDigits) {
  struct Case {
    float v;
    int w, d;
    std::string_view text;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {99.9996f, 8, 3, " 100.000"},  // carries into a new digit
      {-12.5f, 5, 2, "*****"},
      {0.125f, 5, 2, " 0.13"},       // a tie rounds the magnitude up
      {-0.125f, 5, 2, "-0.13"},
      {0.375f, 5, 2, " 0.38"},
      {2.5f, 4, 0, "  3."},
      {0.05f, 6, 1, "   0.1"},
      {1.5f, 5, 2, " 1.50"},
      {99.999f, 8, 3, "  99.999"},
      {99.999f, 8, 5, "99.99900"},
      {-1.25f, 8, 1, "    -1.3"},
      {1234.5f, 6, 0, " 1235."},
      {3.0f, 4, 0, "  3."},
      {0.4f, 2, 0, "0."},
      {0.6f, 2, 0, "1."},
      // 0.1f is 0.1000000014901161193...: beyond 16 digits only zeros
      {0.1f, 24, 20, "  0.10000000149011610000"},
      {0.1f, 17, 15, "0.100000001490116"},
      {1e10f, 13, 1, "10000000000.0"},
      {1e10f, 12, 1, "************"},
      {std::numeric_limits<float>::max(), 41, 1, "340282346638528900000000000000000000000.0"},
      {1e-45f, 6, 3, " 0.000"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fixed_field(c.v, c.w, c.d), c.text) << c.v << " fixed(" << c.w << "." << c.d << ")";

  const Case specials[] = {
      {nan, 5, 2, "  NaN"}, {nan, 3, 1, "NaN"},   {nan, 2, 1, "**"},
      {inf, 5, 2, "  Inf"}, {-inf, 5, 2, " -Inf"}, {-inf, 4, 2, "-Inf"},
      {-inf, 3, 2, "***"},  {inf, 2, 0, "**"},
  };
  for (const Case& c : specials)
    EXPECT_EQ(fixed_field(c.v, c.w, c.d), c.text) << c.v << " fixed(" << c.w << "." << c.d << ")";
}

TEST(PutFixed, LeadingZeroAndSignBelowOne) {
  struct Case {
    float v;
    int w, d;
    std::string_view text;
  };
  const Case cases[] = {
      {0.5f, 8, 3, "   0.500"},
      {0.5f, 5, 3, "0.500"},
      {0.5f, 4, 3, ".500"},    // one column short: the zero is left out
      {0.5f, 3, 3, "***"},
      {-0.5f, 6, 3, "-0.500"},
      {-0.5f, 5, 3, "-.500"},
      {-0.5f, 4, 3, "****"},
      {-0.0001f, 8, 3, "  -0.000"},  // rounds to zero, keeps its sign
      {-0.0004f, 5, 3, "-.000"},
      {-0.0004f, 4, 3, "****"},
      {-0.0f, 8, 3, "   0.000"},   // a negative zero has none
      {0.0f, 5, 3, "0.000"},
      {0.0f, 4, 3, ".000"},
      {0.0f, 3, 3, "***"},
      {0.9996f, 6, 3, " 1.000"},     // rounds up to 1: the zero rule no longer applies
      {0.9996f, 5, 3, "1.000"},
      {0.9996f, 4, 3, "****"},
      {0.3f, 1, 0, "."},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fixed_field(c.v, c.w, c.d), c.text) << c.v << " fixed(" << c.w << "." << c.d << ")";
}

// Every fixed(w.d) field is exactly w characters, and any field that holds
// a digit reads back within half a unit of its last decimal. (A value below
// one in fixed(1.0) or fixed(2.0) can come out as "." or "-.", which holds
// no digit and would not read back.)
TEST(PutFixed, AlwaysFillsTheFieldAndReadsBack) {
  std::mt19937 rng(1096u);
  std::uniform_int_distribution<std::uint32_t> any_bits;
  std::uniform_int_distribution<int> width(1, 24);
  std::uniform_int_distribution<int> decimals(0, 8);
  std::uniform_real_distribution<float> moderate(-5000.0f, 5000.0f);
  int read_back = 0;
  for (int i = 0; i < 20000; ++i) {
    const float v = (i % 2 == 0) ? std::bit_cast<float>(any_bits(rng)) : moderate(rng);
    const int w = width(rng);
    const int d = decimals(rng);
    const std::string text = fixed_field(v, w, d);
    ASSERT_EQ(text.size(), static_cast<std::size_t>(w)) << v << " fixed(" << w << "." << d << ")";
    if (!std::isfinite(v) || text.find('*') != std::string::npos) continue;
    if (text.find_first_of("0123456789") == std::string::npos) continue;
    float back = 0.0f;
    ASSERT_TRUE(textio::parse_fixed(text, d, back)) << '"' << text << '"';
    const double error = std::fabs(static_cast<double>(back) - static_cast<double>(v));
    const double half_unit = 0.5 * std::pow(10.0, -d);
    const double float_slack = std::fabs(static_cast<double>(v)) * 1.2e-7;
    ASSERT_LE(error, half_unit * (1.0 + 1e-9) + float_slack)
        << v << " fixed(" << w << "." << d << ") wrote \"" << text << '"';
    ++read_back;
  }
  EXPECT_GT(read_back, 1000);
}

TEST(PutText, CutOrRightAligned) {
  struct Case {
    std::string_view v;
    int w;
    std::string_view text;
  };
  const Case cases[] = {
      {"abc", 5, "  abc"}, {"abcdef", 3, "abc"}, {"abc", 3, "abc"},
      {"", 2, "  "},       {"abc", 0, ""},       {"a b ", 6, "  a b "},
  };
  for (const Case& c : cases)
    EXPECT_EQ([&] { std::string o; textio::put_text(o, c.v, c.w); return o; }(), c.text)
        << '"' << c.v << "\" text(" << c.w << ")";
}

TEST(PutSkip, WritesBlanksAfterWhatIsThere) {
  std::string out = "a";
  textio::put_skip(out, 3);
  textio::put_skip(out, 0);
  out += "b";
  EXPECT_EQ(out, "a   b");
}

}  // namespace

namespace {

// The nearest text of a field reads back as the value whenever some text of
// the field does (values read from such fields come back exactly), and
// otherwise no worse than put_fixed's: checked on the values of 8.5 and 9.5
// texts, and on random floats against every candidate width of decimals.
TEST(PutNearestFixed, ReadsBackAsTheValueWhereAnyTextOfTheFieldDoes) {
  struct Row {
    std::string_view text;
    int w;
  };
  for (const Row& r : {Row{"99.99900", 8}, {" 0.00453", 8}, {"1.234E-5", 8}, {"1.2345-7", 8}, {"-180.0000", 9},
                       {"  0.08333", 9}, {"12345.678", 9}, {"     -0.5", 9}}) {
    float value = 0.0f;
    ASSERT_TRUE(textio::parse_fixed(r.text, 5, value)) << r.text;
    std::string out;
    EXPECT_TRUE(textio::put_nearest_fixed(out, value, r.w, 5)) << r.text;
    ASSERT_EQ(out.size(), static_cast<std::size_t>(r.w));
    float back = 0.0f;
    ASSERT_TRUE(textio::parse_fixed(out, 5, back)) << out;
    EXPECT_EQ(back, value) << r.text << " -> " << out;
  }
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> exponent(-9.0, 4.0);
  for (int n = 0; n < 2000; ++n) {
    const float value = static_cast<float>(std::pow(10.0, exponent(gen)));
    std::string nearest, plain;
    textio::put_nearest_fixed(nearest, value, 8, 5);
    textio::put_fixed(plain, value, 8, 5);
    float a = 0.0f, b = 0.0f;
    ASSERT_TRUE(textio::parse_fixed(nearest, 5, a)) << nearest;
    if (!textio::parse_fixed(plain, 5, b)) continue;  // asterisks: no text at all
    EXPECT_LE(std::fabs(static_cast<double>(a) - value), std::fabs(static_cast<double>(b) - value)) << value;
    EXPECT_LE(std::fabs(static_cast<double>(a) - value), 1e-4 * value) << value << " " << nearest;
  }
}

}  // namespace
