// Fuzz target: the numeric and text field readers.
//
// Input: byte 0 is a column at which a blank is inserted, byte 1 the number
// of implied decimals (low 4 bits) and the length of a text variable (high 4
// bits), bytes 2-9 a layout of up to eight fields (kind in the top two bits:
// int, fixed, text, skip; width in the low six), and the rest one field or
// line of text.
//
// Checked:
// - parse_int and parse_fixed accept exactly the fields that the reading
//   rules accept and give the same value, bit for bit (sign of zero
//   included), as the rules stated independently in field_oracle.hpp; a
//   rejected field leaves the value untouched;
// - a blank inserted anywhere changes nothing (this also holds the
//   eight-column fast path to the general scanner: a blank inside a full
//   eight-column field moves it from one to the other);
// - LineCursor reads of the layout take exactly their columns, read blanks
//   past the end of the line, read 0 after a read error and keep `ok`
//   false from the first error on.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "field_oracle.hpp"
#include "fuzz_check.hpp"
#include "textio/fields.hpp"

namespace {

std::uint32_t bits(float v) {
  std::uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

std::string describe_fixed(std::string_view field, int d) {
  return "field " + fuzz::shown(field) + " d=" + std::to_string(d);
}

void check_parse_int(std::string_view field) {
  constexpr std::int32_t sentinel = -123456789;
  std::int32_t got = sentinel;
  const bool ok = textio::parse_int(field, got);
  std::int32_t want = 0;
  const bool want_ok = oracle::read_int(field, want);
  FUZZ_CHECK(ok == want_ok, "parse_int accepted=" + std::to_string(ok) + " for " + fuzz::shown(field));
  if (ok) {
    FUZZ_CHECK(got == want, "parse_int " + fuzz::shown(field) + " gave " + std::to_string(got) +
                                " expected " + std::to_string(want));
  } else {
    FUZZ_CHECK(got == sentinel, "parse_int changed the value on a rejected field " + fuzz::shown(field));
  }
}

void check_parse_fixed(std::string_view field, int d) {
  const float sentinel = -7.25e-3f;
  float got = sentinel;
  const bool ok = textio::parse_fixed(field, d, got);
  float want = 0.0f;
  const bool want_ok = oracle::read_fixed(field, d, want);
  FUZZ_CHECK(ok == want_ok, "parse_fixed accepted=" + std::to_string(ok) + " for " + describe_fixed(field, d));
  if (ok) {
    FUZZ_CHECK(bits(got) == bits(want), "parse_fixed " + describe_fixed(field, d) + " gave bits " +
                                            std::to_string(bits(got)) + " expected " +
                                            std::to_string(bits(want)));
  } else {
    FUZZ_CHECK(bits(got) == bits(sentinel), "parse_fixed changed the value on a rejected " + describe_fixed(field, d));
  }
}

// Blanks never matter: the field with one more blank reads the same.
void check_blank_insertion(std::string_view field, std::size_t at, int d) {
  std::string spaced(field);
  spaced.insert(at % (spaced.size() + 1), 1, ' ');
  std::int32_t a = 0, b = 0;
  const bool ia = textio::parse_int(field, a), ib = textio::parse_int(spaced, b);
  FUZZ_CHECK(ia == ib && (!ia || a == b), "parse_int differs with a blank: " + fuzz::shown(field) + " / " + fuzz::shown(spaced));
  float x = 0.0f, y = 0.0f;
  const bool fa = textio::parse_fixed(field, d, x), fb = textio::parse_fixed(spaced, d, y);
  FUZZ_CHECK(fa == fb && (!fa || bits(x) == bits(y)),
             "parse_fixed differs with a blank: " + describe_fixed(field, d) + " / " + fuzz::shown(spaced));
}

// The columns [col, col + w) of the line, cut at its end.
std::string_view columns(std::string_view line, std::size_t col, int w) {
  if (w <= 0 || col >= line.size()) return {};
  return line.substr(col, static_cast<std::size_t>(w));
}

void check_cursor(std::string_view line, const std::uint8_t* layout, int d, std::size_t text_length) {
  textio::LineCursor cur{line};
  std::size_t col = 0;
  bool ok = true;
  for (int f = 0; f < 8; ++f) {
    const int kind = layout[f] >> 6;
    const int w = layout[f] & 0x3F;
    const std::string_view field = columns(line, col, w);
    const std::string where = "field " + std::to_string(f) + " width " + std::to_string(w) + " at column " +
                              std::to_string(col) + " of line " + fuzz::shown(line);
    switch (kind) {
      case 0: {
        std::int32_t want = 0;
        const bool good = oracle::read_int(field, want);
        const std::int32_t got = textio::read_int(cur, w);
        FUZZ_CHECK(got == (good ? want : 0), "read_int " + where);
        ok = ok && good;
        break;
      }
      case 1: {
        float want = 0.0f;
        const bool good = oracle::read_fixed(field, d, want);
        const float got = textio::read_fixed(cur, w, d);
        FUZZ_CHECK(bits(got) == bits(good ? want : 0.0f), "read_fixed " + where);
        ok = ok && good;
        break;
      }
      case 2: {
        std::string cols(field);
        cols.resize(static_cast<std::size_t>(w), ' ');
        const std::string want = static_cast<std::size_t>(w) >= text_length
                                     ? cols.substr(cols.size() - text_length)
                                     : cols + std::string(text_length - cols.size(), ' ');
        const std::string got = textio::read_text(cur, w, text_length);
        FUZZ_CHECK(got == want, "read_text length " + std::to_string(text_length) + " gave " +
                                    fuzz::shown(got) + " expected " + fuzz::shown(want) + " " + where);
        break;
      }
      default:
        textio::read_skip(cur, w);
        break;
    }
    col += static_cast<std::size_t>(w);
    FUZZ_CHECK(cur.col == col, "cursor at column " + std::to_string(cur.col) + " after " + where);
    FUZZ_CHECK(cur.ok == ok, "cursor ok=" + std::to_string(cur.ok) + " after " + where);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in{data, size};
  const std::size_t blank_at = in.byte();
  const std::uint8_t b1 = in.byte();
  const int d = b1 & 0x0F;
  const std::size_t text_length = static_cast<std::size_t>(b1 >> 4) + 1;
  std::uint8_t layout[8];
  for (std::uint8_t& l : layout) l = in.byte();
  const std::string_view text = in.rest();

  check_parse_int(text);
  check_parse_fixed(text, d);
  check_blank_insertion(text, blank_at, d);
  // The same text as an eight-column field, the width of the scale files.
  const std::string_view eight = text.substr(0, 8);
  check_parse_fixed(eight, d);
  check_blank_insertion(eight, blank_at, d);
  check_cursor(text, layout, d, text_length);
  return 0;
}
