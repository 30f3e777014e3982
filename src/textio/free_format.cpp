// Free-format lines: items laid out one after another, wrapped before
// column 80.

#include "textio/free_format.hpp"

#include "textio/fields.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace textio {

namespace {

constexpr std::size_t kLineLimit = 80;    // a line stays below this length
constexpr int kIntegerWidth = 12;
constexpr std::size_t kRealWidth = 15;
constexpr std::size_t kFixedRealWidth = 11;  // fixed notation, then 4 blanks
constexpr int kFixedDigits = 7;              // significant digits, fixed notation
constexpr int kExponentDigits = 8;           // significant digits, exponent notation

std::string right_aligned(std::string_view text, std::size_t width) {
  std::string field;
  if (text.size() < width) field.assign(width - text.size(), ' ');
  field.append(text);
  return field;
}

// Fixed notation with 7 significant digits of the rounded value: `digits`
// holds those 7 digits, `exponent` the power of ten of the first one
// (-1 to 6).
std::string fixed_notation(bool negative, const std::string& digits, int exponent) {
  std::string text;
  if (negative) text.push_back('-');
  if (exponent < 0) {
    text.append("0.");
    text.append(digits);
  } else {
    const std::size_t int_length = static_cast<std::size_t>(exponent) + 1;
    text.append(digits, 0, int_length);
    text.push_back('.');
    text.append(digits, int_length, std::string::npos);
  }
  std::string field = right_aligned(text, kFixedRealWidth);
  field.append(kRealWidth - kFixedRealWidth, ' ');
  return field;
}

// d.dddddddE+xx with 8 significant digits.
std::string exponent_notation(bool negative, const Expansion16& x) {
  std::string digits = rounded_digits(x, kExponentDigits);
  int exponent = x.exponent;
  if (digits.size() > static_cast<std::size_t>(kExponentDigits)) {
    digits.pop_back();
    ++exponent;
  }
  std::string text;
  if (negative) text.push_back('-');
  text.push_back(digits[0]);
  text.push_back('.');
  text.append(digits, 1, std::string::npos);
  text.push_back('E');
  text.push_back(exponent < 0 ? '-' : '+');
  const int magnitude = exponent < 0 ? -exponent : exponent;
  text.push_back(static_cast<char>('0' + magnitude / 10));
  text.push_back(static_cast<char>('0' + magnitude % 10));
  return right_aligned(text, kRealWidth);
}

std::string integer_item(std::int32_t value) {
  std::string field;
  put_int(field, value, kIntegerWidth);
  return field;
}

std::string item_text(const FreeItem& item) {
  switch (item.kind) {
    case FreeItem::Kind::text:
      return std::string(item.text);
    case FreeItem::Kind::integer:
      return integer_item(item.integer);
    case FreeItem::Kind::real:
      return free_real(item.real);
  }
  return {};
}

}  // namespace

namespace {

std::string free_real_text(float value) {
  if (std::isnan(value)) return right_aligned("NaN", kRealWidth);
  if (std::isinf(value)) return right_aligned(value < 0.0f ? "-Inf" : "Inf", kRealWidth);
  // Zero (of either sign) is 0.000000, without a sign.
  if (value == 0.0f) return fixed_notation(false, "0000000", 0);

  const bool negative = value < 0.0f;
  const Expansion16 x = expand16(value);
  // Which notation depends on the value rounded to 7 significant digits.
  std::string digits = rounded_digits(x, kFixedDigits);
  int exponent = x.exponent;
  if (digits.size() > static_cast<std::size_t>(kFixedDigits)) {
    digits.pop_back();
    ++exponent;
  }
  if (exponent >= -1 && exponent < kFixedDigits) return fixed_notation(negative, digits, exponent);
  return exponent_notation(negative, x);
}

}  // namespace

std::string free_real(float value) {
  // Lines written by the thousand repeat a few values (flags of 0 and 1):
  // the texts of the last two values written are kept.
  struct Remembered {
    std::uint32_t bits = 0;
    std::string text;
  };
  thread_local Remembered last[2];
  thread_local int next = 0;
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  for (const Remembered& r : last) {
    if (!r.text.empty() && r.bits == bits) return r.text;
  }
  Remembered& slot = last[next];
  next ^= 1;
  slot.bits = bits;
  slot.text = free_real_text(value);
  return slot.text;
}

void put_free(std::string& out, std::initializer_list<FreeItem> items) {
  std::size_t line_start = out.size();
  out.push_back(' ');
  bool first_of_line = true;
  bool previous_was_text = false;

  for (const FreeItem& item : items) {
    // A text item is used as it stands; numbers are formatted first.
    const std::string formatted = item.kind == FreeItem::Kind::text ? std::string() : item_text(item);
    const std::string_view text = item.kind == FreeItem::Kind::text ? item.text : std::string_view(formatted);
    const bool is_text = item.kind == FreeItem::Kind::text;
    const bool separated = !first_of_line && !(is_text && previous_was_text);
    const std::size_t line_length = out.size() - line_start;
    const std::size_t needed = (separated ? 1 : 0) + text.size();
    if (line_length + needed >= kLineLimit && line_length > 1) {
      out.push_back('\n');
      line_start = out.size();
      out.push_back(' ');
    } else if (separated) {
      out.push_back(' ');
    }
    out.append(text);
    first_of_line = false;
    previous_was_text = is_text;
  }
  out.push_back('\n');
}

std::string free_line(std::initializer_list<FreeItem> items) {
  std::string line;
  put_free(line, items);
  return line;
}

}  // namespace textio
