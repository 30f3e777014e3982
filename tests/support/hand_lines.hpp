// Expected console lines built by hand from the line rules of the tool, and
// input files written as plain characters, for the tests of the scale
// fields, the water points and the metadata list. Nothing here calls the
// tool's own writers, so an expected line never comes from the code under
// test.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace hand {

// ------------------------------------------------------------ free format
//
// A free-format line starts with one blank; items follow one another with
// one blank between them, except that two text items in a row are written
// with nothing between them. An integer takes 12 columns, right-aligned; a
// real takes 15 columns (given here as its 15 characters, worked out by
// hand in each test). Before an item (with its separator) that would make
// the line 80 characters or longer, the line is ended, unless it holds only
// its leading blank; the item then starts a new line after one blank.

struct Item {
  bool text;
  std::string chars;
};

inline std::string right(std::string_view s, std::size_t w) {
  if (s.size() > w) throw std::logic_error("field too narrow for " + std::string(s));
  return std::string(w - s.size(), ' ') + std::string(s);
}

inline Item text(std::string s) { return {true, std::move(s)}; }
inline Item integer(long long v) { return {false, right(std::to_string(v), 12)}; }
inline Item real15(std::string fifteen) {
  if (fifteen.size() != 15) throw std::logic_error("a real item is 15 columns: [" + fifteen + "]");
  return {false, std::move(fifteen)};
}

inline std::string free_lines(const std::vector<Item>& items) {
  std::string out;
  std::string line = " ";
  bool first = true;
  bool prev_text = false;
  for (const Item& it : items) {
    std::string sep = first || (prev_text && it.text) ? "" : " ";
    if (line.size() + sep.size() + it.chars.size() >= 80 && line.size() > 1) {
      out += line + "\n";
      line = " ";
      sep.clear();
    }
    line += sep + it.chars;
    first = false;
    prev_text = it.text;
  }
  return out + line + "\n";
}

// ------------------------------------------------------------ fixed columns

inline std::string int_w(long long v, std::size_t w) { return right(std::to_string(v), w); }

// A real with `d` decimals, right-aligned in `w` columns (inputs only).
inline std::string real_w(double v, int w, int d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%*.*f", w, d, v);
  if (static_cast<int>(std::string(buf).size()) != w) throw std::logic_error("input field too wide");
  return buf;
}

// The same eight-column field `n` times.
inline std::string repeat(const std::string& field, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += field;
  return s;
}

// Lines joined, each ended by a line feed.
inline std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

// The grid configuration file of an nlon x nlat grid with the given level
// numbers: edges 0..nlon-1 and 0..nlat-1 degrees, steps of 1 degree.
inline std::string grid_cfg_text(int nlon, int nlat, const std::vector<int>& levnum) {
  std::string s = "nlon,nlat,nz    " + int_w(nlon, 5) + int_w(nlat, 5) +
                  int_w(static_cast<long long>(levnum.size()), 5) + "\n";
  s += "levels          ";
  for (int l : levnum) s += int_w(l, 4);
  s += "\nw,e,s,n         " + real_w(0, 9, 5) + real_w(nlon - 1, 9, 5) + real_w(0, 9, 5) +
       real_w(nlat - 1, 9, 5) + "\n";
  s += "dlon,dlat       " + real_w(1, 9, 5) + real_w(1, 9, 5) + "\n";
  return s;
}

// Everything after the first line that starts with `head` (empty when no
// line does).
inline std::string after_line(const std::string& out, const std::string& head) {
  std::size_t p = 0;
  if (out.rfind(head, 0) != 0) {
    p = out.find("\n" + head);
    if (p == std::string::npos) return {};
    ++p;
  }
  const std::size_t end = out.find('\n', p);
  return end == std::string::npos ? std::string() : out.substr(end + 1);
}

inline std::size_t count_of(const std::string& hay, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
  return n;
}

// The runs of decimal digits in a text, in order.
inline std::vector<std::string> digit_runs(const std::string& s) {
  std::vector<std::string> runs;
  std::string cur;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      cur += c;
    } else if (!cur.empty()) {
      runs.push_back(cur);
      cur.clear();
    }
  }
  if (!cur.empty()) runs.push_back(cur);
  return runs;
}

}  // namespace hand
