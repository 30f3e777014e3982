// A metadata list line read back as kelvo_brino reads it (the field widths
// and implied decimals of its read_metadata, the date text as four integers),
// for the tests and the fuzz target of kelvo import.
#pragma once

#include <string>
#include <string_view>

#include "textio/fields.hpp"

namespace kelvo_test {

struct ReadBack {
  bool ok = false;
  float lat = 0, lon = 0, frequency = 0, temp = 0, salt = 0, kind = 0;
  int hour = 0, day = 0, month = 0, year = 0;
  std::string date;  // columns 18-27
  std::string platform;  // columns 37-46 without their blanks
};

inline ReadBack read_back(std::string_view line) {
  static constexpr int width[9] = {8, 9, 10, 5, 4, 10, 2, 2, 2};
  static constexpr int decimals[9] = {4, 4, 0, 0, 0, 0, 0, 0, 0};
  float v[9] = {};
  textio::LineCursor fields{line};
  for (int f = 0; f < 9; ++f) v[f] = textio::read_fixed(fields, width[f], decimals[f]);
  textio::LineCursor date{line};
  textio::read_skip(date, 17);
  ReadBack r;
  r.date = textio::read_text(date, 10, 10);
  textio::LineCursor parts{r.date};
  r.hour = textio::read_int(parts, 2);
  r.day = textio::read_int(parts, 2);
  r.month = textio::read_int(parts, 2);
  r.year = textio::read_int(parts, 4);
  // Columns 33-36 blank; 37-46 blank or a platform id of digits, right-aligned.
  const std::string_view id = line.size() == 52 ? line.substr(36, 10) : std::string_view{};
  r.platform = std::string(id.substr(std::min(id.find_first_not_of(' '), id.size())));
  r.ok = fields.ok && parts.ok && line.size() == 52 && line.substr(32, 4) == "    " &&
         r.platform.find_first_not_of("0123456789") == std::string_view::npos;
  r.lat = v[0];
  r.lon = v[1];
  r.frequency = v[3];
  r.temp = v[6];
  r.salt = v[7];
  r.kind = v[8];
  return r;
}

}  // namespace kelvo_test
