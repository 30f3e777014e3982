// Free-format lines: the progress lines on the console and some lines of the
// summary file. A line starts with one blank; text items follow each other
// directly; a number is set off by one blank on each side; integers take 12
// columns, reals 15. A line is ended before an item that would make it 80
// characters or longer (unless it holds nothing yet); items are never split.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace textio {

struct FreeItem {
  enum class Kind { text, integer, real };
  Kind kind;
  std::string_view text{};
  std::int32_t integer = 0;
  float real = 0.0f;

  FreeItem(std::string_view t) : kind(Kind::text), text(t) {}
  FreeItem(const char* t) : kind(Kind::text), text(t) {}
  FreeItem(const std::string& t) : kind(Kind::text), text(t) {}
  FreeItem(std::int32_t i) : kind(Kind::integer), integer(i) {}
  FreeItem(float r) : kind(Kind::real), real(r) {}
};

// Append the free-format line(s) of `items` to `out`, each ended by '\n'.
void put_free(std::string& out, std::initializer_list<FreeItem> items);
std::string free_line(std::initializer_list<FreeItem> items);

// The 15 columns of one real item: 7 significant digits in fixed notation for
// 0 and magnitudes from 0.1 to below 10 000 000 (after rounding), right-aligned
// in 11 columns and followed by 4 blanks; otherwise d.dddddddE+xx in 15 columns.
std::string free_real(float value);

}  // namespace textio
