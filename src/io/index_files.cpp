#include "io/index_files.hpp"

#include <charconv>
#include <cmath>

#include "core/calendar.hpp"

namespace kelvo::io {

std::string_view trim_blanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t first = 0, last = text.size();
  while (first < last && blank(text[first])) ++first;
  while (last > first && blank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

void split_fields(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  for (;;) {
    const std::size_t comma = line.find(',');
    fields.push_back(trim_blanks(line.substr(0, comma)));
    if (comma == std::string_view::npos) return;
    line.remove_prefix(comma + 1);
  }
}

bool is_comment_line(std::string_view line) {
  const std::string_view text = trim_blanks(line);
  return text.empty() || text.front() == '#';
}

bool find_columns(const IndexLayout& layout, std::span<const std::string_view> fields, Columns& columns,
                  std::string_view& missing) {
  const auto position = [&](std::string_view name) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i] == name) return static_cast<int>(i);
    }
    return -1;
  };
  columns.at.clear();
  columns.count = fields.size();
  missing = {};
  bool any = false;
  for (std::string_view name : layout.required) {
    columns.at.push_back(position(name));
    if (columns.at.back() >= 0) any = true;
    if (columns.at.back() < 0 && missing.empty()) missing = name;
  }
  for (std::string_view name : layout.optional) columns.at.push_back(position(name));
  return any;
}

namespace {

// A number of at most 15 digits, some of them before a point and, after a
// point, at least one: the integer of its digits over a power of ten, which
// the division rounds exactly as from_chars rounds the decimal (both exact
// operands). False for any other text, left to from_chars.
bool plain_decimal(std::string_view text, double& value) {
  static constexpr double powers[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  std::size_t i = text[0] == '-' ? 1 : 0;
  std::uint64_t digits = 0;
  int count = 0, whole = 0, fraction = -1;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
      ++count;
      if (fraction >= 0) ++fraction;
      else ++whole;
    } else if (c == '.' && fraction < 0) {
      fraction = 0;
    } else {
      return false;
    }
  }
  if (count > 15 || whole == 0 || fraction == 0) return false;
  const double v = static_cast<double>(digits) / powers[fraction < 0 ? 0 : fraction];
  value = text[0] == '-' ? -v : v;
  return true;
}

}  // namespace

bool parse_degrees(std::string_view text, double& value, bool& empty) {
  empty = text.empty();
  if (empty) return true;
  if (plain_decimal(text, value)) return true;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  const bool plus = *first == '+';
  if (plus) ++first;
  if (first == last || !((*first == '-' && !plus) || *first == '.' || (*first >= '0' && *first <= '9'))) return false;
  double v = 0.0;
  const auto [ptr, ec] = std::from_chars(first, last, v, std::chars_format::fixed);
  if (ec != std::errc() || ptr != last || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool latitude_in_range(double lat) { return lat >= -90.0 && lat <= 90.0; }
bool longitude_in_range(double lon) { return lon >= -180.0 && lon <= 360.0; }

bool make_time(IndexTime& t) {
  // Second 60 is a leap second.
  if (!is_valid_date(t.year, t.month, t.day) || t.hour > 23 || t.minute > 59 || t.second > 60) return false;
  t.seconds = seconds_of(t.year, t.month, t.day, t.hour, t.minute, t.second);
  return true;
}

bool has_name(std::string_view list, std::string_view name) {
  while (!list.empty()) {
    const std::size_t blank = list.find(' ');
    if (list.substr(0, blank) == name) return true;
    if (blank == std::string_view::npos) break;
    list.remove_prefix(blank + 1);
  }
  return false;
}

ParsedLine unreadable(std::string_view what, std::string_view column, std::string_view text) {
  ParsedLine p;
  p.fate = LineFate::unreadable;
  p.problem.append(what).append(" in ").append(column).append(" \"").append(text.substr(0, 40)).append("\"");
  return p;
}

ParsedLine wrong_field_count(std::size_t found, std::size_t expected) {
  ParsedLine p;
  p.fate = LineFate::unreadable;
  p.problem = std::to_string(found) + " fields where the header line has " + std::to_string(expected);
  return p;
}

const IndexLayout& layout_of(IndexFormat format) {
  return format == IndexFormat::argo ? argo_layout : insitu_layout;
}

ParsedLine parse_index_line(IndexFormat format, std::span<const std::string_view> fields, const Columns& columns) {
  if (fields.size() != columns.count) return wrong_field_count(fields.size(), columns.count);
  return format == IndexFormat::argo ? parse_argo_line(fields, columns) : parse_insitu_line(fields, columns);
}

namespace {

bool in_window(const Window& w, const IndexObservation& obs) {
  if (obs.fixed) return obs.start.seconds < w.to_end && obs.end.seconds >= w.from;
  return obs.start.seconds >= w.from && obs.start.seconds < w.to_end;
}

}  // namespace

LineFate select_record(const Selection& selection, const IndexObservation& obs, ListRecord& record) {
  if (!in_window(selection.window, obs)) return LineFate::outside_window;
  double lon = obs.lon;
  if (selection.has_region) {
    lon = shift_longitude(obs.lon, selection.region.west);
    if (!in_region(selection.region, obs.lat, lon)) return LineFate::outside_region;
  }
  if (!obs.temp && !obs.salt) return LineFate::no_parameter;
  const int kind = kind_of(selection.kinds, obs.platform);
  if (kind == 0) return LineFate::unknown_platform;
  record.lat = static_cast<float>(obs.lat);
  record.lon = static_cast<float>(lon);
  record.year = obs.start.year;
  record.month = obs.start.month;
  record.day = obs.start.day;
  record.hour = obs.start.hour;
  record.frequency = obs.fixed ? daily_repeat : 0;
  record.temp = obs.temp;
  record.salt = obs.salt;
  record.kind = kind;
  return LineFate::record;
}

}  // namespace kelvo::io
