#include "io/observation_csv.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "core/calendar.hpp"
#include "core/error.hpp"
#include "core/kinds.hpp"
#include "io/index_files.hpp"
#include "textio/line_reader.hpp"

namespace kelvo::io {

namespace {

constexpr std::string_view read_op = "read_csv";

enum Column { platform, kind, latitude, longitude, time_start, time_end, parameters, column_count };
constexpr std::array<std::string_view, column_count> column_names{"platform",  "kind",       "latitude", "longitude",
                                                                  "time_start", "time_end", "parameters"};
constexpr std::array<bool, column_count> column_needed{false, true, true, true, true, false, true};

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

[[noreturn]] void table_failure(ErrorCode code, const std::string& path, std::string what) {
  Error e(code, std::string(read_op), path + ": " + what);
  e.file = path;
  throw e;
}

// The position of each column in the header's fields (-1: absent).
std::array<int, column_count> columns_of(const std::string& path, std::span<const std::string_view> header) {
  std::array<int, column_count> at;
  at.fill(-1);
  for (std::size_t f = 0; f < header.size(); ++f) {
    for (int c = 0; c < column_count; ++c) {
      if (at[c] < 0 && same_name(header[f], column_names[c])) at[c] = static_cast<int>(f);
    }
  }
  for (int c = 0; c < column_count; ++c) {
    if (column_needed[c] && at[c] < 0) {
      table_failure(ErrorCode::bad_request, path, "the header line has no column " + std::string(column_names[c]));
    }
  }
  return at;
}

// A time of an ISO 8601 UTC time (YYYY-MM-DD[THH:MM[:SS]][Z]): its day
// number and its minute.
struct TableTime {
  float day;
  std::int32_t minute;
};

std::optional<TableTime> time_of(std::string_view t) {
  if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.remove_suffix(1);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (t.size() < 10 || !read_digits(t, 0, 4, year) || t[4] != '-' || !read_digits(t, 5, 2, month) || t[7] != '-' ||
      !read_digits(t, 8, 2, day) || !is_valid_date(year, month, day)) {
    return std::nullopt;
  }
  if (t.size() > 10) {
    const bool clock = (t[10] == 'T' || t[10] == ' ') && t.size() >= 16 && read_digits(t, 11, 2, hour) &&
                       t[13] == ':' && read_digits(t, 14, 2, minute) &&
                       (t.size() == 16 || (t.size() == 19 && t[16] == ':' && read_digits(t, 17, 2, second)));
    if (!clock || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  }
  return TableTime{day_number(month, day, year, hour, minute), minute_of(seconds_of(year, month, day, hour, minute, 0))};
}

std::optional<float> number_of(std::string_view text) {
  float v = 0.0f;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<Parameters> parameters_of(std::string_view text) {
  Parameters p = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view name = text.substr(at, end - at);
    if (same_name(name, "TEMP")) {
      p |= temperature;
    } else if (same_name(name, "PSAL")) {
      p |= salinity;
    } else if (!name.empty()) {
      return std::nullopt;
    }
    at = end + 1;
  }
  return p;
}

// One row as a record; the column and text that cannot be read otherwise.
struct Row {
  ObservationRecord record;
  std::string problem;
};

std::string bad(Column c, std::string_view text, std::string_view what) {
  return "column " + std::string(column_names[c]) + ": \"" + std::string(text) + "\" " + std::string(what);
}

Row read_row(std::span<const std::string_view> fields, const std::array<int, column_count>& at) {
  Row row;
  const auto field = [&](Column c) { return at[c] >= 0 && static_cast<std::size_t>(at[c]) < fields.size() ? fields[at[c]] : std::string_view{}; };
  ObservationRecord& r = row.record;
  const std::optional<std::int32_t> k = kind_from_text(field(kind));
  if (!k) return {r, bad(kind, field(kind), "is not a kind code 1-7 or a kind's name")};
  const std::optional<float> lat = number_of(field(latitude)), lon = number_of(field(longitude));
  if (!lat || *lat < -90.0f || *lat > 90.0f) return {r, bad(latitude, field(latitude), "is not a latitude")};
  if (!lon) return {r, bad(longitude, field(longitude), "is not a longitude")};
  const std::optional<Parameters> p = parameters_of(field(parameters));
  if (!p) return {r, bad(parameters, field(parameters), "names other than TEMP and PSAL")};
  r.kind = *k;
  r.layer = layer_of_kind(*k);
  r.lat = *lat;
  r.lon = *lon;
  r.parameters = *p;
  const std::string_view start = field(time_start), end = field(time_end);
  if (start.empty() && end.empty()) {
    r.time = TimeSpan::always();
    return row;
  }
  const std::optional<TableTime> s =
      start.empty() ? std::optional(TableTime{TimeSpan::always().start, ObservationRecord::no_minute}) : time_of(start);
  if (!s) return {r, bad(time_start, start, "is not a time YYYY-MM-DD[THH:MM[:SS]]")};
  const std::optional<TableTime> e = end.empty() ? s : time_of(end);
  if (!e) return {r, bad(time_end, end, "is not a time YYYY-MM-DD[THH:MM[:SS]]")};
  if (e->day < s->day) return {r, bad(time_end, end, "is before time_start")};
  r.time = TimeSpan{s->day, e->day};
  r.start_minute = s->minute;
  return row;
}

}  // namespace

std::string_view observation_csv_header() {
  return "platform,kind,latitude,longitude,time_start,time_end,parameters\n";
}

ObservationSet read_observation_csv(const std::string& path, Parameters keep, ListReport* report) {
  ListReport scratch;
  ListReport& rep = report != nullptr ? *report : scratch;
  textio::LineReader lines;
  std::string reason;
  if (!lines.open(path, reason)) table_failure(ErrorCode::cannot_open, path, "cannot open the observation table: " + reason);
  ObservationSet set;
  set.sources.push_back(path);
  // Room for a record per line at once: a table grown by doubling would
  // hold up to twice its size, and three times while it moves. A row is
  // longer than 16 bytes (its two times alone are), so a file of mostly
  // empty lines is left to grow as it is read.
  if (const textio::LineCount c = textio::count_line_ends(path); c.line_ends > 0 && c.line_ends <= c.bytes / 16) {
    set.records.reserve(static_cast<std::size_t>(c.line_ends) + 1);
  }
  std::unordered_map<std::string, std::uint32_t> platform_index;
  std::vector<std::string_view> fields;
  std::array<int, column_count> at{};
  bool have_header = false;
  for (;;) {
    std::string_view line;
    const textio::LineStatus status = lines.next(textio::max_line_length, line);
    if (status == textio::LineStatus::end) break;
    if (status == textio::LineStatus::read_error) table_failure(ErrorCode::cannot_open, path, lines.reason());
    const auto number = static_cast<std::int64_t>(lines.line_number());
    if (status == textio::LineStatus::too_long) {
      rep.unreadable_line = number;
      rep.unreadable_problem = "the line is longer than 1 MiB";
      break;
    }
    if (is_comment_line(line)) continue;
    split_fields(line, fields);
    if (!have_header) {
      at = columns_of(path, fields);
      have_header = true;
      continue;
    }
    Row row = read_row(fields, at);
    if (!row.problem.empty()) {
      rep.unreadable_line = number;
      rep.unreadable_problem = row.problem;
      break;
    }
    ++rep.lines;
    if ((row.record.parameters & keep) == 0) continue;
    row.record.line = number;
    const std::string_view id = at[platform] >= 0 && static_cast<std::size_t>(at[platform]) < fields.size()
                                    ? fields[static_cast<std::size_t>(at[platform])]
                                    : std::string_view{};
    if (!id.empty()) {
      const auto [it, added] = platform_index.try_emplace(std::string(id), static_cast<std::uint32_t>(set.platforms.size()));
      if (added) set.platforms.emplace_back(id);
      row.record.platform = it->second;
    }
    set.records.push_back(row.record);
  }
  if (!have_header) table_failure(ErrorCode::bad_request, path, "no header line naming the columns");
  return set;
}

}  // namespace kelvo::io
