// Writing fixed-column fields: integers, reals rounded to d decimals, texts.

#include "textio/fields.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace textio {

namespace {

void put_stars(std::string& out, int w) {
  if (w > 0) out.append(static_cast<std::size_t>(w), '*');
}

// `text` right-aligned in w columns, or w asterisks when it is too long.
void put_right(std::string& out, std::string_view text, int w) {
  if (w <= 0) return;
  const std::size_t width = static_cast<std::size_t>(w);
  if (text.size() > width) {
    put_stars(out, w);
    return;
  }
  out.append(width - text.size(), ' ');
  out.append(text);
}

std::string_view without_leading_zeros(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
}

}  // namespace

// ---------------------------------------------------------------- decimal digits

Expansion16 expand16(float value) {
  Expansion16 x{};
  // The scientific form with 15 decimals of the exact binary value (the text
  // of printf's "%.15e", without its multi-precision cost) gives 16 correctly
  // rounded significant digits: d.ddddddddddddddde[+-]xx
  char text[40] = {};
  std::to_chars(text, text + sizeof text - 1, std::fabs(static_cast<double>(value)), std::chars_format::scientific,
                15);
  x.digits[0] = text[0];
  for (int i = 1; i < 16; ++i) x.digits[i] = text[i + 1];
  const char* exponent_begin = text + 18;  // after "d.<15 digits>e"
  if (*exponent_begin == '+') ++exponent_begin;
  std::from_chars(exponent_begin, text + sizeof text, x.exponent);
  if (x.digits[0] == '0') x.exponent = 0;
  return x;
}

std::string rounded_digits(const Expansion16& x, std::int64_t keep) {
  if (keep <= 0) return (keep == 0 && x.digits[0] >= '5') ? "1" : "0";
  if (keep >= 16) {
    std::string digits(x.digits, 16);
    digits.append(static_cast<std::size_t>(keep - 16), '0');
    return digits;
  }
  const std::size_t kept = static_cast<std::size_t>(keep);
  std::string digits(x.digits, kept);
  if (x.digits[kept] < '5') return digits;
  // Round the magnitude up: carry through trailing nines.
  std::size_t i = kept;
  while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
  if (i == 0) return "1" + digits;
  ++digits[i - 1];
  return digits;
}

// ---------------------------------------------------------------- writers

void put_int(std::string& out, std::int64_t value, int w, int m) {
  if (w <= 0) return;
  // Magnitude as unsigned so that the most negative value has one too.
  const std::uint64_t magnitude =
      value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  char digits[24];
  const char* const end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  const std::size_t digit_count = static_cast<std::size_t>(end - digits);
  const std::size_t min_digits = m > 1 ? static_cast<std::size_t>(m) : 1;
  const std::size_t shown_digits = digit_count > min_digits ? digit_count : min_digits;
  const std::size_t length = shown_digits + (value < 0 ? 1 : 0);
  const std::size_t width = static_cast<std::size_t>(w);
  if (length > width) {
    put_stars(out, w);
    return;
  }
  // The field made in place: blanks, sign, leading zeros, digits.
  const std::size_t start = out.size();
  out.resize(start + width, ' ');
  char* field = out.data() + start + (width - length);
  if (value < 0) *field++ = '-';
  field = std::fill_n(field, shown_digits - digit_count, '0');
  std::copy(digits, digits + digit_count, field);
}

void put_fixed(std::string& out, float value, int w, int d) {
  if (w <= 0) return;
  if (std::isnan(value)) {
    put_right(out, "NaN", w);
    return;
  }
  if (std::isinf(value)) {
    put_right(out, value < 0.0f ? "-Inf" : "Inf", w);
    return;
  }
  if (d < 0) d = 0;
  // The point and the decimals alone must fit.
  if (d >= w) {
    put_stars(out, w);
    return;
  }
  const std::size_t decimals = static_cast<std::size_t>(d);
  const Expansion16 x = expand16(value);
  // Units of 10^-d, rounded half-up; at least d + 1 digits so that the
  // integer part is never empty.
  const std::string rounded = rounded_digits(x, std::int64_t{x.exponent} + d + 1);
  std::string units(without_leading_zeros(rounded));
  if (units.size() < decimals + 1) units.insert(0, decimals + 1 - units.size(), '0');

  const std::size_t int_length = units.size() - decimals;
  // A negative zero has no sign; a negative value rounded to zero keeps it.
  const bool negative = std::signbit(value) && value != 0.0f;
  std::string text;
  if (negative) text.push_back('-');
  text.append(units, 0, int_length);
  text.push_back('.');
  text.append(units, int_length, decimals);

  const std::size_t width = static_cast<std::size_t>(w);
  const bool below_one = (int_length == 1 && units[0] == '0');
  if (below_one && text.size() == width + 1) text.erase(negative ? 1 : 0, 1);
  put_right(out, text, w);
}

void put_text(std::string& out, std::string_view value, int w) {
  if (w <= 0) return;
  const std::size_t width = static_cast<std::size_t>(w);
  if (value.size() >= width) {
    out.append(value.substr(0, width));
    return;
  }
  out.append(width - value.size(), ' ');
  out.append(value);
}

void put_skip(std::string& out, int n) {
  if (n > 0) out.append(static_cast<std::size_t>(n), ' ');
}

namespace {

// The decimal texts of `value` tried for a field of w columns, right-aligned
// in it: fixed with 0 to w - 2 decimals (with its point), and a mantissa
// with an exponent, written as "E-5" or, one column shorter, "-5".
std::vector<std::string> field_candidates(float value, int w) {
  std::vector<std::string> texts;
  char buf[64];
  const double v = static_cast<double>(value);
  for (int decimals = w - 2; decimals >= 0; --decimals) {
    std::snprintf(buf, sizeof buf, decimals == 0 ? "%.*f." : "%.*f", decimals, v);
    if (static_cast<int>(std::strlen(buf)) <= w) texts.emplace_back(buf);
  }
  for (int digits = w - 2; digits >= 0; --digits) {
    std::snprintf(buf, sizeof buf, "%.*E", digits, v);
    std::string t(buf);
    const std::size_t e = t.find('E');
    std::string mantissa = t.substr(0, e);
    if (mantissa.find('.') == std::string::npos) mantissa += '.';
    const int exponent = std::atoi(t.c_str() + e + 1);
    const std::string power = std::to_string(exponent);
    for (const std::string& form : {mantissa + "E" + power, exponent < 0 ? mantissa + power : std::string()}) {
      if (!form.empty() && static_cast<int>(form.size()) <= w) texts.push_back(form);
    }
  }
  return texts;
}

}  // namespace

bool put_nearest_fixed(std::string& out, float value, int w, int d) {
  std::string first;
  put_fixed(first, value, w, d);
  if (!std::isfinite(value)) {
    out += first;
    return false;
  }
  float read = 0.0f;
  std::string best;
  double best_gap = std::numeric_limits<double>::infinity();
  const auto consider = [&](const std::string& text) {
    if (!parse_fixed(text, d, read)) return;
    const double gap = std::fabs(static_cast<double>(read) - static_cast<double>(value));
    if (gap < best_gap) {
      best_gap = gap;
      best = text;
    }
  };
  if (first.find('*') == std::string::npos) consider(first);
  for (const std::string& t : field_candidates(value, w)) {
    if (best_gap == 0.0) break;
    consider(t);
  }
  if (best.empty()) {
    out += first;
    return false;
  }
  put_text(out, best, w);
  return best_gap == 0.0;
}

}  // namespace textio
