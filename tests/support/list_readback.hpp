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
  r.ok = fields.ok && parts.ok && line.size() == 52 && line.substr(32, 14) == std::string(14, ' ');
  r.lat = v[0];
  r.lon = v[1];
  r.frequency = v[3];
  r.temp = v[6];
  r.salt = v[7];
  r.kind = v[8];
  return r;
}

}  // namespace kelvo_test
