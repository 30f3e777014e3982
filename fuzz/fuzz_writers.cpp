// Fuzz target: the fixed-column writers (int(w.m), fixed(w.d), text(w)), the
// free-format real item and the free-format line writer.
//
// Input: bytes 0-3 a float (its bits), byte 4 the width w (0..40), byte 5
// the decimals d (0..w+1), byte 6 the minimum digits m, byte 7 a shift and
// bytes 8-15 an integer (shifted right by it, so that small values come
// often), then a list of free-format items: a count, and per item a kind
// byte followed by a text (a length byte and the characters), an integer
// (4 bytes) or a real (4 bytes).
//
// Invariants checked:
// - put_fixed, put_int and put_text write exactly w characters (none for
//   w <= 0), and the text the rules give (field_oracle.hpp);
// - read-back of fixed(w.d): let R be the value's 16 significant digits
//   rounded half-up at the d-th decimal. When the field is not asterisks,
//   NaN or Inf and holds a digit, reading it with parse_fixed(field, d)
//   succeeds and gives the float nearest R, with the sign written (so
//   "-0.000" reads as -0.0). That float is the value itself, bit for bit,
//   when R keeps all 16 digits (d >= 15 - the power of ten of the first
//   digit); with fewer decimals it is in general not: 0.1f in fixed(12.10)
//   is 0.1000000015 and reads back as the float nearest 0.1000000015, which
//   is 0.1f, while 1234.5677f in fixed(9.3) is 1234.568 and reads back as
//   1234.5680f. The only fields without a digit are "." and "-." (a value
//   below one half in fixed(1.0), a negative one in fixed(2.0)); they do not
//   read back (parse_fixed rejects them);
// - read-back of int(w.m): a field that is not asterisks reads back as the
//   value (strtoll), with at least m digits;
// - free_real is always 15 characters, and a finite value's item reads
//   back as the float nearest the decimal shown;
// - a free-format line: starts with one blank, text items adjacent, numbers
//   set off by one blank, items never split, a line ended before an item
//   that would make it 80 characters or longer unless the line holds
//   nothing yet. So no line is longer than 79 characters unless it is the
//   leading blank and one item alone that is longer than 78.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "field_oracle.hpp"
#include "fuzz_check.hpp"
#include "textio/fields.hpp"
#include "textio/free_format.hpp"

namespace {

std::uint32_t bits(float v) {
  std::uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

std::string describe(float x, int w, int d) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.9g (bits 0x%08X) fixed(%d.%d)", static_cast<double>(x), bits(x), w, d);
  return buf;
}

bool has_digit(std::string_view s) { return s.find_first_of("0123456789") != std::string_view::npos; }

std::string_view trimmed(std::string_view s) {
  const std::size_t a = s.find_first_not_of(' ');
  if (a == std::string_view::npos) return {};
  const std::size_t b = s.find_last_not_of(' ');
  return s.substr(a, b - a + 1);
}

void check_fixed(float x, int w, int d) {
  std::string out = "#";  // the writer appends
  textio::put_fixed(out, x, w, d);
  FUZZ_CHECK(out[0] == '#', "put_fixed changed what was there: " + describe(x, w, d));
  const std::string field = out.substr(1);
  FUZZ_CHECK(field.size() == static_cast<std::size_t>(w > 0 ? w : 0),
             "put_fixed wrote " + std::to_string(field.size()) + " characters for " + describe(x, w, d));
  const std::string want = oracle::put_fixed(x, w, d);
  FUZZ_CHECK(field == want, "put_fixed " + describe(x, w, d) + " wrote " + fuzz::shown(field) + " expected " +
                                fuzz::shown(want));

  if (w <= 0 || !std::isfinite(x) || field.find('*') != std::string::npos) return;
  float back = 0.0f;
  const bool read = textio::parse_fixed(field, d, back);
  if (!has_digit(field)) {
    const std::string_view t = trimmed(field);
    FUZZ_CHECK(t == "." || t == "-.", "digitless field " + fuzz::shown(field) + " for " + describe(x, w, d));
    FUZZ_CHECK(!read, "digitless field " + fuzz::shown(field) + " was read");
    return;
  }
  FUZZ_CHECK(read, "written field " + fuzz::shown(field) + " does not read back, " + describe(x, w, d));
  const std::string r = oracle::decimal_text(x, d);
  const float nearest = std::strtof(r.c_str(), nullptr);
  FUZZ_CHECK(bits(back) == bits(nearest), "field " + fuzz::shown(field) + " of " + describe(x, w, d) +
                                              " read back other than the float nearest " + r);
  const oracle::Digits16 dx = oracle::digits16(x);
  if (d >= 15 - dx.power) {
    FUZZ_CHECK(x == 0.0f ? back == 0.0f : bits(back) == bits(x),
               "field " + fuzz::shown(field) + " keeps 16 digits but reads back other than " + describe(x, w, d));
  }
}

void check_int(std::int64_t v, int w, int m) {
  std::string out;
  textio::put_int(out, v, w, m);
  FUZZ_CHECK(out.size() == static_cast<std::size_t>(w > 0 ? w : 0),
             "put_int wrote " + std::to_string(out.size()) + " characters for int(" + std::to_string(w) + ")");
  const std::string want = oracle::put_int(v, w, m);
  FUZZ_CHECK(out == want, "put_int " + std::to_string(v) + " int(" + std::to_string(w) + "." +
                              std::to_string(m) + ") wrote " + fuzz::shown(out) + " expected " + fuzz::shown(want));
  if (w <= 0 || out.find('*') != std::string::npos) return;
  const std::string t(trimmed(out));
  errno = 0;
  char* end = nullptr;
  const long long back = std::strtoll(t.c_str(), &end, 10);
  FUZZ_CHECK(errno == 0 && *end == '\0' && back == v, "int field " + fuzz::shown(out) + " does not read back as " + std::to_string(v));
  const std::size_t digits = t.size() - (t[0] == '-' ? 1 : 0);
  FUZZ_CHECK(digits >= static_cast<std::size_t>(m > 1 ? m : 1), "int field " + fuzz::shown(out) + " has fewer than m digits");
}

void check_text(std::string_view value, int w) {
  std::string out;
  textio::put_text(out, value, w);
  const std::size_t width = static_cast<std::size_t>(w > 0 ? w : 0);
  const std::string want = value.size() >= width ? std::string(value.substr(0, width))
                                                 : std::string(width - value.size(), ' ') + std::string(value);
  FUZZ_CHECK(out == want, "put_text " + fuzz::shown(value) + " text(" + std::to_string(w) + ") wrote " + fuzz::shown(out));
}

void check_free_real(float x) {
  const std::string item = textio::free_real(x);
  FUZZ_CHECK(item.size() == 15, "free_real wrote " + std::to_string(item.size()) + " characters for " + describe(x, 15, 0));
  const std::string want = oracle::free_real(x);
  FUZZ_CHECK(item == want, "free_real " + describe(x, 15, 0) + " wrote " + fuzz::shown(item) + " expected " + fuzz::shown(want));
  if (!std::isfinite(x)) return;
  float back = 0.0f;
  FUZZ_CHECK(textio::parse_fixed(item, 0, back), "free-format real " + fuzz::shown(item) + " does not read back");
  const std::string t(trimmed(item));
  const float nearest = std::strtof(t.c_str(), nullptr);
  FUZZ_CHECK(bits(back) == bits(nearest) || (back == 0.0f && nearest == 0.0f),
             "free-format real " + fuzz::shown(item) + " read back other than the float nearest it");
}

// ------------------------------------------------------------ free lines

struct Item {
  textio::FreeItem::Kind kind;
  std::string text;  // for text items
  std::int32_t integer = 0;
  float real = 0.0f;
  std::string chars() const {
    switch (kind) {
      case textio::FreeItem::Kind::text:
        return text;
      case textio::FreeItem::Kind::integer: {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%12d", integer);
        return buf;
      }
      case textio::FreeItem::Kind::real:
        return oracle::free_real(real);
    }
    return {};
  }
};

textio::FreeItem to_free(const Item& it) {
  switch (it.kind) {
    case textio::FreeItem::Kind::integer:
      return textio::FreeItem(it.integer);
    case textio::FreeItem::Kind::real:
      return textio::FreeItem(it.real);
    case textio::FreeItem::Kind::text:
      break;
  }
  return textio::FreeItem(std::string_view(it.text));
}

constexpr std::size_t kMaxItems = 12;

// put_free takes its items as a braced list, so each count is spelled out.
std::string free_line_of(const std::vector<Item>& items) {
  std::vector<textio::FreeItem> v;
  for (const Item& it : items) v.push_back(to_free(it));
  switch (v.size()) {
    case 0: return textio::free_line({});
    case 1: return textio::free_line({v[0]});
    case 2: return textio::free_line({v[0], v[1]});
    case 3: return textio::free_line({v[0], v[1], v[2]});
    case 4: return textio::free_line({v[0], v[1], v[2], v[3]});
    case 5: return textio::free_line({v[0], v[1], v[2], v[3], v[4]});
    case 6: return textio::free_line({v[0], v[1], v[2], v[3], v[4], v[5]});
    case 7: return textio::free_line({v[0], v[1], v[2], v[3], v[4], v[5], v[6]});
    case 8: return textio::free_line({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]});
    case 9: return textio::free_line({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]});
    case 10: return textio::free_line({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]});
    case 11: return textio::free_line({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]});
    default: return textio::free_line({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]});
  }
}

// The lines the free-format rules give for the items.
std::string expected_free(const std::vector<Item>& items) {
  std::string out;
  std::string line = " ";
  bool first = true;
  bool previous_text = false;
  for (const Item& it : items) {
    const bool is_text = it.kind == textio::FreeItem::Kind::text;
    std::string sep = (first || (previous_text && is_text)) ? "" : " ";
    const std::string chars = it.chars();
    if (line.size() + sep.size() + chars.size() >= 80 && line.size() > 1) {
      out += line + "\n";
      line = " ";
      sep.clear();
    }
    line += sep + chars;
    first = false;
    previous_text = is_text;
  }
  return out + line + "\n";
}

void check_free_line(const std::vector<Item>& items) {
  const std::string got = free_line_of(items);
  const std::string want = expected_free(items);
  FUZZ_CHECK(got == want, "free line " + fuzz::shown(got) + " expected " + fuzz::shown(want));

  // The length rule on its own, line by line.
  FUZZ_CHECK(!got.empty() && got.back() == '\n', "free line not ended: " + fuzz::shown(got));
  std::size_t start = 0;
  while (start < got.size()) {
    const std::size_t end = got.find('\n', start);
    const std::string_view line(got.data() + start, end - start);
    FUZZ_CHECK(!line.empty() && line[0] == ' ', "free line without its leading blank: " + fuzz::shown(line));
    if (line.size() > 79) {
      bool one_item = false;
      for (const Item& it : items) one_item = one_item || line.substr(1) == it.chars();
      FUZZ_CHECK(one_item, "free line of " + std::to_string(line.size()) + " characters holds more than one item: " +
                               fuzz::shown(line));
    }
    start = end + 1;
  }
}

std::vector<Item> read_items(fuzz::ByteReader& in) {
  std::vector<Item> items;
  const std::size_t count = in.byte() % (kMaxItems + 1);
  for (std::size_t n = 0; n < count; ++n) {
    Item it{};
    switch (in.byte() % 3) {
      case 0: {
        it.kind = textio::FreeItem::Kind::text;
        it.text = std::string(in.take(in.byte() % 100));
        // A line feed inside a text would itself end a line of the output;
        // the tool's texts (names, arguments, messages) carry none.
        for (char& c : it.text)
          if (c == '\n') c = '|';
        break;
      }
      case 1:
        it.kind = textio::FreeItem::Kind::integer;
        it.integer = static_cast<std::int32_t>(in.u32());
        break;
      default: {
        it.kind = textio::FreeItem::Kind::real;
        const std::uint32_t b = in.u32();
        std::memcpy(&it.real, &b, sizeof b);
        break;
      }
    }
    items.push_back(std::move(it));
  }
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in{data, size};
  const std::uint32_t xb = in.u32();
  float x;
  std::memcpy(&x, &xb, sizeof x);
  const int w = in.byte() % 41;
  const int d = in.byte() % (w + 2);
  const int m = in.byte() % 24;
  const int shift = in.byte() % 64;
  const std::int64_t v = static_cast<std::int64_t>(in.u64()) >> shift;

  check_fixed(x, w, d);
  check_int(v, w, m);
  check_free_real(x);
  const std::vector<Item> items = read_items(in);
  for (const Item& it : items)
    if (it.kind == textio::FreeItem::Kind::text) check_text(it.text, w);
  check_free_line(items);
  return 0;
}
