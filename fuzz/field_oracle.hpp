// Independent statements of the field rules, written from the rules alone
// and used by the fuzz targets as the expected result of the tool's own
// readers and writers. They favour plainness over speed: decimal digits as
// strings, the C library's strtof for the correctly rounded conversion and
// its "%.15e" for the 16 significant digits of a float.
//
// Reading a numeric field: blanks anywhere are ignored and an all-blank
// field is 0. Otherwise: an optional sign; digits with at most one decimal
// point and at least one digit; then optionally an exponent, written as one
// of E e D d followed by an optional sign and digits, or as a sign followed
// by digits. Without a point the digits carry `d` implied decimals. The
// value is the float nearest the decimal value written.
//
// Writing fixed(w.d): the value's 16 significant digits, rounded half-up at
// the d-th decimal; "-" before a negative value (also when it rounds to
// zero, never for a zero); at least one digit before the point, except that
// a "0" before the point is left out when the text is exactly one column
// too long with it; right-aligned; w asterisks when it does not fit; NaN,
// Inf and -Inf right-aligned (or asterisks).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace oracle {

inline bool digit(char c) { return c >= '0' && c <= '9'; }

inline std::string without_blanks(std::string_view field) {
  std::string s;
  for (const char c : field)
    if (c != ' ') s.push_back(c);
  return s;
}

// int(w) reading of one whole field.
inline bool read_int(std::string_view field, std::int32_t& value) {
  const std::string s = without_blanks(field);
  if (s.empty()) {
    value = 0;
    return true;
  }
  std::size_t i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  if (i == s.size()) return false;
  long long magnitude = 0;
  for (; i < s.size(); ++i) {
    if (!digit(s[i])) return false;
    magnitude = magnitude * 10 + (s[i] - '0');
    if (magnitude > 3000000000LL) magnitude = 3000000000LL;  // out of range anyway
  }
  const long long v = negative ? -magnitude : magnitude;
  if (v < -2147483648LL || v > 2147483647LL) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

// fixed(w.d) reading of one whole field.
inline bool read_fixed(std::string_view field, int d, float& value) {
  const std::string s = without_blanks(field);
  if (s.empty()) {
    value = 0.0f;
    return true;
  }
  std::size_t i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  std::string mantissa;
  long long fraction_digits = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    if (digit(s[i])) {
      mantissa.push_back(s[i]);
      if (point) ++fraction_digits;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissa.empty()) return false;
  long long exponent = 0;
  if (i < s.size()) {
    const char c = s[i];
    bool exponent_negative = false;
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
      if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        exponent_negative = s[i] == '-';
        ++i;
      }
    } else if (c == '+' || c == '-') {
      exponent_negative = c == '-';
      ++i;
    } else {
      return false;
    }
    if (i == s.size()) return false;
    for (; i < s.size(); ++i) {
      if (!digit(s[i])) return false;
      exponent = exponent * 10 + (s[i] - '0');
      if (exponent > 1000000000LL) exponent = 1000000000LL;
    }
    if (exponent_negative) exponent = -exponent;
  }
  const long long decimals = point ? fraction_digits : d;
  const std::string text = mantissa + "e" + std::to_string(exponent - decimals);
  const float magnitude = std::strtof(text.c_str(), nullptr);
  value = negative ? -magnitude : magnitude;
  return true;
}

// The 16 significant digits of |x| (finite): digits d0..d15 and the power
// of ten of d0; zero gives sixteen '0' and power 0.
struct Digits16 {
  std::string digits;
  int power = 0;
};

inline Digits16 digits16(float x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15e", std::fabs(static_cast<double>(x)));
  Digits16 r;
  r.digits.push_back(buf[0]);
  r.digits.append(buf + 2, 15);
  r.power = std::atoi(buf + 18);
  if (r.digits[0] == '0') r.power = 0;
  return r;
}

// A decimal digit string plus one unit in its last place.
inline std::string plus_one(std::string n) {
  std::size_t i = n.size();
  while (i > 0) {
    if (n[i - 1] == '9') {
      n[i - 1] = '0';
      --i;
    } else {
      ++n[i - 1];
      return n;
    }
  }
  return "1" + n;
}

// The digits of x kept down to the place 10^place, rounded half-up: the
// integer count of units of 10^place, as a digit string (maybe "0").
inline std::string rounded_at_place(const Digits16& x, long long place) {
  if (x.digits[0] == '0') return "0";
  // Digits d0..d(k-1) lie at places power .. place.
  const long long k = x.power - place + 1;
  if (k <= 0) return (k == 0 && x.digits[0] >= '5') ? "1" : "0";
  if (k >= 16) return x.digits + std::string(static_cast<std::size_t>(k - 16), '0');
  std::string kept = x.digits.substr(0, static_cast<std::size_t>(k));
  if (x.digits[static_cast<std::size_t>(k)] >= '5') kept = plus_one(kept);
  return kept;
}

inline std::string right_aligned(const std::string& text, int w) {
  if (w <= 0) return "";
  if (text.size() > static_cast<std::size_t>(w)) return std::string(static_cast<std::size_t>(w), '*');
  return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

// The decimal text of a finite x rounded half-up to d decimals, with its
// sign and an integer part of at least one digit: "-12.50", "0.000".
inline std::string decimal_text(float x, int d) {
  std::string units = rounded_at_place(digits16(x), -d);
  const std::size_t decimals = static_cast<std::size_t>(d);
  while (units.size() < decimals + 1) units.insert(0, "0");
  std::string int_part = units.substr(0, units.size() - decimals);
  while (int_part.size() > 1 && int_part[0] == '0') int_part.erase(0, 1);
  std::string text = (x < 0.0f) ? "-" : "";
  return text + int_part + "." + units.substr(units.size() - decimals);
}

inline std::string put_fixed(float x, int w, int d) {
  if (w <= 0) return "";
  if (std::isnan(x)) return right_aligned("NaN", w);
  if (std::isinf(x)) return right_aligned(x < 0.0f ? "-Inf" : "Inf", w);
  if (d < 0) d = 0;
  std::string text = decimal_text(x, d);
  const std::size_t zero_at = text[0] == '-' ? 1 : 0;
  const bool below_one = text.compare(zero_at, 2, "0.") == 0;
  if (below_one && text.size() == static_cast<std::size_t>(w) + 1) text.erase(zero_at, 1);
  return right_aligned(text, w);
}

inline std::string put_int(std::int64_t v, int w, int m) {
  if (w <= 0) return "";
  const bool negative = v < 0;
  std::string digits;
  // Digits of |v| without negating (the most negative value has no positive).
  std::int64_t rest = v;
  do {
    const int r = static_cast<int>(rest % 10);
    digits.insert(digits.begin(), static_cast<char>('0' + (r < 0 ? -r : r)));
    rest /= 10;
  } while (rest != 0);
  while (static_cast<int>(digits.size()) < m) digits.insert(0, "0");
  return right_aligned((negative ? "-" : "") + digits, w);
}

// One real item of a free-format line (15 columns): 7 significant digits in
// fixed notation when the value rounded to 7 digits is 0 or lies from 0.1 to
// below 10 000 000 (right-aligned in 11 columns, then 4 blanks); otherwise
// d.dddddddE+xx with 8 significant digits, right-aligned in 15 columns.
inline std::string free_real(float x) {
  if (std::isnan(x)) return right_aligned("NaN", 15);
  if (std::isinf(x)) return right_aligned(x < 0.0f ? "-Inf" : "Inf", 15);
  if (x == 0.0f) return right_aligned("0.000000", 11) + "    ";
  const Digits16 dx = digits16(x);
  const std::string sign = x < 0.0f ? "-" : "";
  std::string seven = rounded_at_place(dx, dx.power - 6);
  int power = dx.power;
  if (seven.size() > 7) {
    seven.pop_back();
    ++power;
  }
  if (power >= -1 && power <= 6) {
    std::string text;
    if (power < 0) {
      text = "0." + seven;
    } else {
      const std::size_t int_len = static_cast<std::size_t>(power) + 1;
      text = seven.substr(0, int_len) + "." + seven.substr(int_len);
    }
    return right_aligned(sign + text, 11) + "    ";
  }
  std::string eight = rounded_at_place(dx, dx.power - 7);
  power = dx.power;
  if (eight.size() > 8) {
    eight.pop_back();
    ++power;
  }
  char exp_text[16];
  std::snprintf(exp_text, sizeof exp_text, "E%c%02d", power < 0 ? '-' : '+', power < 0 ? -power : power);
  return right_aligned(sign + eight.substr(0, 1) + "." + eight.substr(1) + exp_text, 15);
}

}  // namespace oracle
