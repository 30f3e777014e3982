// Reading fixed-column fields: integers, reals with implied decimals, texts.
//
// The numeric parsers are on the hot path of the scale files (millions of
// short fields), so they work on the field in place: no allocation, no
// locale, no streams.

#include "textio/fields.hpp"

#include <bit>
#include <charconv>
#include <cstring>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

namespace textio {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int digit_value(char c) { return c - '0'; }

// ---------------------------------------------------------------- reals

// Significant digits kept for the exact conversion. A rounding boundary of a
// float (a value halfway between two neighbours) has far fewer significant
// digits than this, so digits past the limit only matter through whether
// any of them is non-zero (kept as one "sticky" digit).
constexpr int kMaxDigits = 200;

// Exponents beyond this cannot change the outcome (zero or infinity) and are
// saturated so that no integer arithmetic overflows.
constexpr std::int64_t kExponentLimit = 100000;

// The largest integer whose every value up to it is exact in a float.
constexpr std::uint64_t kFloatExactInteger = std::uint64_t{1} << 24;

// Powers of ten exact in a float (5^10 < 2^24).
constexpr float kExactPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                  1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
constexpr int kMaxExactPower = 10;

// The number as read: magnitude = digits x 10^power, plus its sign.
struct Decimal {
  bool negative = false;
  char digits[kMaxDigits + 1];   // significant digits, no leading zeros
  int count = 0;                 // digits stored
  std::uint64_t mantissa = 0;    // value of the first 19 digits
  bool sticky = false;           // a non-zero digit was dropped past kMaxDigits
  std::int64_t power = 0;        // power of ten applied to `digits`
};

// Parser states, in the order a field passes through them.
enum class Stage {
  start,           // nothing but blanks so far
  mantissa,        // sign, digits and point of the number itself
  exponent_mark,   // after E/e/D/d: a sign or a digit must follow
  exponent_sign,   // after the exponent's sign: a digit must follow
  exponent_digits  // inside the exponent's digits
};

bool is_exponent_letter(char c) { return c == 'E' || c == 'e' || c == 'D' || c == 'd'; }

void add_mantissa_digit(Decimal& dec, char c, bool after_point, std::int64_t& frac_digits,
                        std::int64_t& dropped_int_digits) {
  if (dec.count == 0 && c == '0') {
    // A leading zero: no significant digit, but it still holds a place
    // after the point.
    if (after_point) ++frac_digits;
    return;
  }
  if (dec.count < kMaxDigits) {
    dec.digits[dec.count] = c;
    if (dec.count < 19)
      dec.mantissa = dec.mantissa * 10 + static_cast<std::uint64_t>(digit_value(c));
    ++dec.count;
    if (after_point) ++frac_digits;
    return;
  }
  // Past the kept digits: an integer digit still scales the value by ten, a
  // decimal only counts for whether it is non-zero.
  if (c != '0') dec.sticky = true;
  if (!after_point) ++dropped_int_digits;
}

// Scan the field into `dec`; false on a character that cannot belong to the
// number or on an incomplete number. `d` is the number of implied decimals.
bool scan_real(std::string_view field, int d, Decimal& dec) {
  Stage stage = Stage::start;
  bool have_digit = false;      // a mantissa digit was seen
  bool have_point = false;
  bool exponent_negative = false;
  std::int64_t exponent = 0;
  std::int64_t frac_digits = 0;
  std::int64_t dropped_int_digits = 0;

  for (const char c : field) {
    if (c == ' ') continue;
    switch (stage) {
      case Stage::start:
        stage = Stage::mantissa;
        if (c == '+' || c == '-') {
          dec.negative = (c == '-');
          continue;
        }
        [[fallthrough]];
      case Stage::mantissa:
        if (is_digit(c)) {
          have_digit = true;
          add_mantissa_digit(dec, c, have_point, frac_digits, dropped_int_digits);
        } else if (c == '.' && !have_point) {
          have_point = true;
        } else if (is_exponent_letter(c) && have_digit) {
          stage = Stage::exponent_mark;
        } else if ((c == '+' || c == '-') && have_digit) {
          exponent_negative = (c == '-');
          stage = Stage::exponent_sign;
        } else {
          return false;
        }
        break;
      case Stage::exponent_mark:
        if (c == '+' || c == '-') {
          exponent_negative = (c == '-');
          stage = Stage::exponent_sign;
          break;
        }
        [[fallthrough]];
      case Stage::exponent_sign:
      case Stage::exponent_digits:
        if (!is_digit(c)) return false;
        stage = Stage::exponent_digits;
        exponent = exponent * 10 + digit_value(c);
        if (exponent > kExponentLimit) exponent = kExponentLimit;
        break;
    }
  }

  if (stage == Stage::start) return true;  // all blank: zero
  if (!have_digit) return false;           // a lone sign or point
  if (stage == Stage::exponent_mark || stage == Stage::exponent_sign) return false;

  if (exponent_negative) exponent = -exponent;
  const std::int64_t decimals = have_point ? frac_digits : static_cast<std::int64_t>(d);
  dec.power = exponent - decimals + dropped_int_digits;
  return true;
}

float signed_value(const Decimal& dec, float magnitude) {
  return dec.negative ? -magnitude : magnitude;
}

// Whether mantissa x 10^power can be formed by exact_value.
bool exact_operands(std::uint64_t mantissa, std::int64_t power) {
  return mantissa <= kFloatExactInteger && power >= -kMaxExactPower && power <= kMaxExactPower;
}

// mantissa x 10^power from two floats that hold their values exactly: the
// one IEEE multiplication or division rounds correctly.
float exact_value(std::uint64_t mantissa, std::int64_t power, bool negative) {
  const float m = static_cast<float>(mantissa);
  const float scale = kExactPowers[power < 0 ? -power : power];
  const float magnitude = power < 0 ? m / scale : m * scale;
  return negative ? -magnitude : magnitude;
}

bool convert_fast(const Decimal& dec, float& value) {
  if (dec.count > 19 || dec.sticky) return false;
  if (dec.power == 0) {
    // An integer of up to 19 digits: its conversion to float is one
    // correctly rounded operation.
    value = signed_value(dec, static_cast<float>(dec.mantissa));
    return true;
  }
  if (!exact_operands(dec.mantissa, dec.power)) return false;
  value = exact_value(dec.mantissa, dec.power, dec.negative);
  return true;
}

// Any other number: the canonical text "<digits>e<power>" converted by the
// library's correctly rounded decimal conversion.
float convert_exact(const Decimal& dec) {
  char text[kMaxDigits + 2 + 24];
  int n = 0;
  for (int i = 0; i < dec.count; ++i) text[n++] = dec.digits[i];
  std::int64_t power = dec.power;
  if (dec.sticky) {
    text[n++] = '1';
    --power;
  }
  if (power > 2 * kExponentLimit) power = 2 * kExponentLimit;
  if (power < -2 * kExponentLimit) power = -2 * kExponentLimit;
  const int digit_count = n;
  text[n++] = 'e';
  char* const end = std::to_chars(text + n, text + sizeof text, power).ptr;

  float magnitude = 0.0f;
  const auto result = std::from_chars(text, end, magnitude);
  if (result.ec == std::errc::result_out_of_range) {
    // Decimal order of magnitude of the value: above zero means too large
    // for a float, below means too small even for the smallest subnormal.
    const std::int64_t order = power + (digit_count - 1);
    magnitude = order > 0 ? std::numeric_limits<float>::infinity() : 0.0f;
  }
  return signed_value(dec, magnitude);
}

// ---- the eight-column fast path
//
// Most fields of the scale files are eight columns holding a right-aligned
// number without exponent (" 1.50000", "99.99900", "    1111"). Such a
// field is examined as one 64-bit word, byte i being column i, with bitwise
// tests on all columns at once; anything it does not recognise goes to the
// general scanner.

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

std::uint64_t repeated(unsigned char c) { return kOnes * c; }

// 0x80 in every byte of x that is zero, 0 in the others (no carries cross
// from one byte into the next).
std::uint64_t zero_bytes(std::uint64_t x) {
  const std::uint64_t low7 = ~kHighBits;
  return ~(((x & low7) + low7) | x) & kHighBits;
}

std::uint64_t bytes_equal(std::uint64_t x, unsigned char c) { return zero_bytes(x ^ repeated(c)); }

// 0x80 in every byte of x that is a digit '0'..'9'.
std::uint64_t digit_bytes(std::uint64_t x) {
  const std::uint64_t high_nibble_not_3 = (x & repeated(0xF0)) ^ repeated(0x30);
  const std::uint64_t low_nibble_over_9 = ((x & repeated(0x0F)) + repeated(0x06)) & repeated(0xF0);
  return zero_bytes(high_nibble_not_3 | low_nibble_over_9);
}

// Byte masks from 0x80 marks: 0xFF where marked.
std::uint64_t full_bytes(std::uint64_t marks) { return (marks >> 7) * 0xFF; }

int first_marked_byte(std::uint64_t marks) { return std::countr_zero(marks) / 8; }

// The value of eight digit values (0..9), one per byte, the most significant
// in the lowest byte: pairs, then quadruples, then the whole.
std::uint32_t eight_digits(std::uint64_t v) {
  v = v * 10 + (v >> 8);
  v = ((v & 0x000000FF000000FFu) * (100 + (std::uint64_t{1000000} << 32)) +
       ((v >> 16) & 0x000000FF000000FFu) * (1 + (std::uint64_t{10000} << 32))) >>
      32;
  return static_cast<std::uint32_t>(v);
}

// The field right-aligned in eight columns of blanks: blanks are ignored
// wherever they stand, so the added ones do not change the number.
std::uint64_t load_eight(std::string_view field) {
  unsigned char bytes[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  if (field.size() == 8) {
    std::memcpy(bytes, field.data(), 8);
  } else {
    const std::size_t offset = 8 - field.size();
    for (std::size_t i = 0; i < field.size(); ++i) bytes[offset + i] = static_cast<unsigned char>(field[i]);
  }
  // Byte i of the word (counted from the low end) is column i.
  std::uint64_t x;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&x, bytes, 8);
  } else {
    x = 0;
    for (int i = 0; i < 8; ++i) x |= std::uint64_t{bytes[i]} << (8 * i);
  }
  return x;
}

// A field of at most eight columns after its leading blanks: blanks, an
// optional sign, then only digits and at most one point up to the last
// column, with a value the exact float operations handle. Returns false for
// anything else.
bool parse_eight(std::string_view field, int d, float& value) {
  // Wider fields qualify when their leading blanks leave eight columns.
  while (field.size() > 8 && field.front() == ' ') field.remove_prefix(1);
  if (field.size() > 8) return false;
  const std::uint64_t x = load_eight(field);
  const std::uint64_t nonblank = ~bytes_equal(x, ' ') & kHighBits;
  if (nonblank == 0) return false;
  int start = first_marked_byte(nonblank);
  const auto first = static_cast<unsigned char>(x >> (8 * start));
  const bool negative = (first == '-');
  if (negative || first == '+') {
    if (++start == 8) return false;
  }
  const std::uint64_t rest = kHighBits << (8 * start);
  const std::uint64_t digits = digit_bytes(x) & rest;
  const std::uint64_t point = bytes_equal(x, '.') & rest;
  if ((digits | point) != rest || digits == 0 || (point & (point - 1)) != 0) return false;

  std::uint64_t v = x & full_bytes(digits) & repeated(0x0F);
  std::int64_t power = -static_cast<std::int64_t>(d);
  if (point != 0) {
    // Close the gap of the point: the digits before it move up one column.
    const int q = first_marked_byte(point);
    const std::uint64_t before = v & ((std::uint64_t{1} << (8 * q)) - 1);
    const std::uint64_t after = q == 7 ? 0 : v & (~std::uint64_t{0} << (8 * (q + 1)));
    v = (before << 8) | after;
    power = -(7 - q);
  }
  const std::uint32_t mantissa = eight_digits(v);
  if (!exact_operands(mantissa, power)) return false;
  value = exact_value(mantissa, power, negative);
  return true;
}

// A field of blanks around an optionally signed run of at most 19 digits
// (the integer fields of the lists: flags, kinds and counts, dates and
// numbers): converted in one rounding where that is exact. Returns false
// for anything else.
bool parse_digits(std::string_view field, int d, float& value) {
  std::size_t i = 0;
  const std::size_t n = field.size();
  while (i < n && field[i] == ' ') ++i;
  const bool negative = i < n && field[i] == '-';
  if (i < n && (field[i] == '-' || field[i] == '+')) ++i;
  const std::size_t first = i;
  std::uint64_t mantissa = 0;
  for (; i < n && is_digit(field[i]) && i - first < 19; ++i) {
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(digit_value(field[i]));
  }
  if (i == first) return false;
  while (i < n && field[i] == ' ') ++i;
  if (i != n) return false;
  if (d == 0) {
    const float magnitude = static_cast<float>(mantissa);
    value = negative ? -magnitude : magnitude;
    return true;
  }
  if (!exact_operands(mantissa, -static_cast<std::int64_t>(d))) return false;
  value = exact_value(mantissa, -static_cast<std::int64_t>(d), negative);
  return true;
}

}  // namespace

bool parse_plain_fixed(std::string_view field, int d, float& value) {
  bool negative = false, signed_ = false, point = false;
  int digits = 0;
  std::int64_t after_point = 0;
  std::uint64_t mantissa = 0;
  for (const char c : field) {
    if (c == ' ') continue;
    if (is_digit(c)) {
      if (++digits > 18) return false;
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(digit_value(c));
      if (point) ++after_point;
    } else if (c == '.' && !point) {
      point = true;
    } else if ((c == '-' || c == '+') && !signed_ && !point && digits == 0) {
      signed_ = true;
      negative = c == '-';
    } else {
      return false;
    }
  }
  if (digits == 0) {
    if (signed_ || point) return false;  // a lone sign or point: parse_fixed refuses it
    value = 0.0f;                        // all blank
    return true;
  }
  const std::int64_t power = point ? -after_point : -static_cast<std::int64_t>(d);
  if (power == 0) {
    // An integer: its conversion to float is one correctly rounded operation.
    const float magnitude = static_cast<float>(mantissa);
    value = negative ? -magnitude : magnitude;
    return true;
  }
  if (!exact_operands(mantissa, power)) return false;
  value = exact_value(mantissa, power, negative);
  return true;
}

bool parse_fixed(std::string_view field, int d, float& value) {
  // Short fields are mostly small integers; eight-column ones mostly the
  // scale files' numbers with a point.
  if (field.size() <= 5 && parse_digits(field, d, value)) return true;
  if (parse_eight(field, d, value)) return true;
  if (field.size() > 8 && parse_digits(field, d, value)) return true;
  Decimal dec;
  if (!scan_real(field, d, dec)) return false;
  if (dec.count == 0) {
    value = signed_value(dec, 0.0f);
    return true;
  }
  if (!convert_fast(dec, value)) value = convert_exact(dec);
  return true;
}

// ---------------------------------------------------------------- integers

bool parse_int(std::string_view field, std::int32_t& value) {
  // Magnitude limit: 2^31 for a negative value, 2^31 - 1 otherwise.
  constexpr std::int64_t kMaxMagnitude = std::int64_t{1} << 31;
  bool seen_any = false;
  bool negative = false;
  bool have_digit = false;
  std::int64_t magnitude = 0;

  for (const char c : field) {
    if (c == ' ') continue;
    if (!seen_any && (c == '+' || c == '-')) {
      negative = (c == '-');
      seen_any = true;
      continue;
    }
    seen_any = true;
    if (!is_digit(c)) return false;
    have_digit = true;
    magnitude = magnitude * 10 + digit_value(c);
    if (magnitude > kMaxMagnitude) return false;
  }
  if (seen_any && !have_digit) return false;
  if (!negative && magnitude == kMaxMagnitude) return false;
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}

// ---------------------------------------------------------------- cursor

std::string_view take_columns(LineCursor& cur, int w) {
  if (w <= 0) return {};
  const std::size_t width = static_cast<std::size_t>(w);
  std::string_view field;
  if (cur.col < cur.line.size()) field = cur.line.substr(cur.col, width);
  cur.col += width;
  return field;
}

std::int32_t read_int(LineCursor& cur, int w) {
  std::int32_t value = 0;
  if (!parse_int(take_columns(cur, w), value)) {
    cur.ok = false;
    return 0;
  }
  return value;
}

float read_fixed(LineCursor& cur, int w, int d) {
  float value = 0.0f;
  if (!parse_fixed(take_columns(cur, w), d, value)) {
    cur.ok = false;
    return 0.0f;
  }
  return value;
}

std::string read_text(LineCursor& cur, int w, std::size_t length) {
  const std::size_t width = w > 0 ? static_cast<std::size_t>(w) : 0;
  const std::string columns = padded(take_columns(cur, w), width);
  if (width >= length) return columns.substr(width - length);
  return padded(columns, length);
}

void read_skip(LineCursor& cur, int n) {
  if (n > 0) cur.col += static_cast<std::size_t>(n);
}

// ---------------------------------------------------------------- texts

std::string padded(std::string_view value, std::size_t length) {
  std::string text(value.substr(0, length));
  text.resize(length, ' ');
  return text;
}

std::string_view trim_right(std::string_view value) {
  const std::size_t last = value.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : value.substr(0, last + 1);
}

}  // namespace textio
