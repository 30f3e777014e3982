#include "io/metadata_list.hpp"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>
#include <unordered_map>

#include "core/calendar.hpp"
#include "core/error.hpp"
#include "textio/fields.hpp"
#include "textio/line_reader.hpp"
#include "textio/lines.hpp"

namespace kelvo::io {

namespace {

constexpr std::string_view read_op = "read_metadata";
constexpr std::string_view write_op = "write_list";
constexpr int nfields = 9;
// Widths and implied decimals of the nine fields of a list line.
constexpr int field_width[nfields] = {8, 9, 10, 5, 4, 10, 2, 2, 2};
constexpr int field_decimals[nfields] = {4, 4, 0, 0, 0, 0, 0, 0, 0};
constexpr std::size_t date_column = 17;
constexpr std::size_t date_length = 10;
// Columns of a list line that are read: the nine fields, 52 in all.
constexpr std::size_t record_columns = [] {
  std::size_t n = 0;
  for (int w : field_width) n += static_cast<std::size_t>(w);
  return n;
}();
// The fields of a list line that are used (from 0).
constexpr int field_lat = 0;
constexpr int field_lon = 1;
constexpr int field_frequency = 3;
constexpr int field_temp = 6;
constexpr int field_salt = 7;
constexpr int field_kind = 8;

// The nine fields of a line; false when one cannot be read. Each field is
// its columns (fewer, or none, where the line is shorter), read at once
// when plain and by the general field reader otherwise; a field that
// cannot be read reads as 0, and the later ones are still read, as a
// LineCursor reads them.
bool read_fields(std::string_view line, float (&values)[nfields]) {
  bool ok = true;
  std::size_t at = 0;
  for (int f = 0; f < nfields; ++f) {
    const auto width = static_cast<std::size_t>(field_width[f]);
    const std::string_view field = at < line.size() ? line.substr(at, width) : std::string_view{};
    at += width;
    float v = 0.0f;
    if (!textio::parse_plain_fixed(field, field_decimals[f], v) && !textio::parse_fixed(field, field_decimals[f], v)) {
      ok = false;
      v = 0.0f;
    }
    values[f] = v;
  }
  return ok;
}

constexpr std::string_view field_name[nfields] = {"latitude", "longitude", "date", "repeat frequency", "not used",
                                                  "not used", "temperature flag", "salinity flag", "kind code"};

// Which field of a line that read_fields refused cannot be read, and its text.
std::string unreadable_field(std::string_view line) {
  textio::LineCursor cur{line};
  std::size_t first_column = 1;
  for (int f = 0; f < nfields; ++f) {
    const std::size_t at = cur.col;
    textio::read_fixed(cur, field_width[f], field_decimals[f]);
    const std::size_t last_column = first_column + static_cast<std::size_t>(field_width[f]) - 1;
    if (!cur.ok) {
      std::string text(line.substr(std::min(at, line.size()), static_cast<std::size_t>(field_width[f])));
      for (char& c : text) {
        if (static_cast<unsigned char>(c) < ' ' || static_cast<unsigned char>(c) > '~') c = '?';
      }
      return "columns " + std::to_string(first_column) + "-" + std::to_string(last_column) + " (" +
             std::string(field_name[f]) + "): \"" + text + "\" is not a number";
    }
    first_column = last_column + 1;
  }
  return "a field is not a number";
}

// Truncation toward zero that cannot overflow: out-of-range values saturate.
std::int32_t saturating_trunc(float x) {
  if (x != x) return 0;
  if (x >= 2147483647.0f) return std::numeric_limits<std::int32_t>::max();
  if (x <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(x);
}

Parameters parameters_of(const float (&values)[nfields]) {
  Parameters p = 0;
  if (values[field_temp] == 1.0f) p |= temperature;
  if (values[field_salt] == 1.0f) p |= salinity;
  return p;
}

// Columns 18-27 of the line, padded with blanks (in `padded`) where the line is shorter.
std::string_view date_text_of(std::string_view line, std::string& padded) {
  if (line.size() >= date_column + date_length) return line.substr(date_column, date_length);
  padded.assign(line.size() > date_column ? line.substr(date_column) : std::string_view{});
  padded.resize(date_length, ' ');
  return padded;
}

// Hour, day, month and year of a date text as four integer fields (2, 2, 2
// and 4 columns); false when they are not.
bool read_date(std::string_view text, std::int32_t& hour, std::int32_t& day, std::int32_t& month, std::int32_t& year) {
  bool plain = text.size() == date_length;
  for (char c : text) plain = plain && ((c >= '0' && c <= '9') || c == ' ');
  if (plain) {
    // The usual forms ("0001012004", " 0 1 12004"), read without the
    // general field reader: blanks are ignored, as it ignores them.
    const auto number = [&](std::size_t at, std::size_t width) {
      std::int32_t v = 0;
      for (const char c : text.substr(at, width)) {
        if (c != ' ') v = v * 10 + (c - '0');
      }
      return v;
    };
    hour = number(0, 2);
    day = number(2, 2);
    month = number(4, 2);
    year = number(6, 4);
    return true;
  }
  textio::LineCursor cur{text};
  hour = textio::read_int(cur, 2);
  day = textio::read_int(cur, 2);
  month = textio::read_int(cur, 2);
  year = textio::read_int(cur, 4);
  return cur.ok;
}

[[noreturn]] void cannot_open_list(const std::string& path, const std::string& reason) {
  Error e(ErrorCode::cannot_open, std::string(read_op), "cannot open the observation list " + path + ": " + reason);
  e.file = path;
  e.reason = reason;
  throw e;
}

[[noreturn]] void too_long(const std::string& path, std::int64_t lines) {
  Error e(ErrorCode::list_too_long, std::string(read_op),
          path + ": more than " + std::to_string(max_list_lines) + " lines, the most a list holds");
  e.file = path;
  e.line = lines + 1;
  e.items = {max_list_lines + 1};
  throw e;
}

Error bad_date(const std::string& path, std::int64_t line, std::string_view text) {
  Error e(ErrorCode::bad_date, std::string(read_op),
          path + " line " + std::to_string(line) + ": the date text \"" + std::string(text) +
              "\" is not four integers (hhddmmyyyy)");
  e.file = path;
  e.line = line;
  e.items = {std::string(text)};
  return e;
}

// Room for the records of a list of this size (about 52 bytes a line).
std::size_t expected_records(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<std::size_t>(std::min<std::uintmax_t>(size / 50 + 1, max_list_lines));
}

[[noreturn]] void cannot_write(const std::string& path, const std::string& reason) {
  Error e(ErrorCode::cannot_write, std::string(write_op), "cannot write the list " + path + ": " + reason);
  e.file = path;
  e.reason = reason;
  throw e;
}

}  // namespace

std::int32_t layer_of_kind(std::int32_t kind) {
  if (kind == 2) return 1;
  if (kind >= min_kind && kind <= max_kind) return every_layer;
  return no_layer;
}

std::string list_line(const ListRecord& r) {
  std::string line;
  line.reserve(record_columns);
  textio::put_fixed(line, r.lat, 8, 4);
  textio::put_fixed(line, r.lon, 9, 4);
  textio::put_int(line, r.hour, 2, 2);
  textio::put_int(line, r.day, 2, 2);
  textio::put_int(line, r.month, 2, 2);
  textio::put_int(line, r.year, 4, 4);
  textio::put_int(line, r.frequency, 5);
  if (list_can_hold_platform(r.platform)) {
    textio::put_skip(line, 4);
    textio::put_text(line, std::string(10 - r.platform.size(), ' ') + r.platform, 10);
  } else {
    textio::put_skip(line, 14);
  }
  textio::put_int(line, r.temp ? 1 : 0, 2);
  textio::put_int(line, r.salt ? 1 : 0, 2);
  textio::put_int(line, r.kind, 2);
  return line;
}

bool list_can_hold_platform(std::string_view id) {
  return !id.empty() && id.size() <= 10 && id.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string new_run_id() {
  std::random_device source;
  std::string id;
  while (id.size() < 14) id += static_cast<char>('0' + source() % 10);
  return id;
}

PlannedRecord planned_record(float lat, float lon, const CalendarDay& day, std::int32_t kind, std::string_view run_id,
                             int frequency) {
  PlannedRecord p;
  std::string date;
  textio::put_int(date, day.hour, 2, 2);
  textio::put_int(date, day.day, 2, 2);
  textio::put_int(date, day.month, 2, 2);
  textio::put_int(date, day.year, 4, 4);
  textio::put_fixed(p.line, lat, 8, 4);
  textio::put_fixed(p.line, lon, 9, 4);
  textio::put_text(p.line, date, 10);
  textio::put_int(p.line, frequency, 5);
  if (run_id.size() == 14) {
    p.line.append(run_id);  // read as the two skipped numeric fields, 4 and 10 columns
  } else {
    textio::put_int(p.line, 0, 4);
    textio::put_int(p.line, 0, 10);
  }
  textio::put_int(p.line, 1, 2);
  textio::put_int(p.line, 1, 2);
  textio::put_int(p.line, kind, 2);
  const std::string_view line = p.line;
  ObservationRecord& r = p.record;
  if (!textio::parse_fixed(line.substr(0, 8), 4, r.lat) || !textio::parse_fixed(line.substr(8, 9), 4, r.lon)) {
    r.lat = r.lon = std::numeric_limits<float>::quiet_NaN();
  }
  r.kind = kind;
  r.layer = layer_of_kind(kind);
  r.time = TimeSpan::always();  // a repeat frequency from 1 to 9998: in every slot
  r.parameters = every_parameter;
  return p;
}

// ------------------------------------------------------------ ListWriter

void ListWriter::create(const std::string& path) {
  std::string reason;
  to_standard_output_ = path == "-";
  if (!to_standard_output_ && !file_.create(path, reason)) cannot_write(path, reason);
  block_.reserve(std::size_t{64} * 1024 + 64);
}

void ListWriter::flush_block() {
  std::string reason;
  if (to_standard_output_) {
    if (!textio::write_all(STDOUT_FILENO, block_, reason)) cannot_write("standard output", reason);
  } else if (!file_.write(block_, reason)) {
    cannot_write(file_.path(), reason);
  }
  block_.clear();
}

void ListWriter::add_text(std::string_view text) {
  block_.append(text);
  if (block_.size() >= std::size_t{64} * 1024) flush_block();
}

void ListWriter::add(const ListRecord& record) {
  block_ += list_line(record);
  block_ += '\n';
  if (block_.size() >= std::size_t{64} * 1024) flush_block();
}

void ListWriter::commit() {
  flush_block();
  std::string reason;
  if (!to_standard_output_ && !file_.commit(reason)) cannot_write(file_.path(), reason);
}

std::string list_head(const std::string& path, std::int64_t lines) {
  std::string text, reason;
  if (!textio::read_whole_file(path, text, reason)) cannot_open_list(path, reason);
  std::size_t end = 0;
  for (std::int64_t n = 0; n < lines && end < text.size(); ++n) {
    const std::size_t nl = text.find('\n', end);
    end = nl == std::string::npos ? text.size() : nl + 1;
  }
  text.resize(end);
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

// ------------------------------------------------------------ reading

namespace {

// The platform id of a line: the digits of columns 37-46 when 33-36 are blank.
std::string_view platform_in(std::string_view line) {
  if (line.size() < 46 || line.substr(32, 4).find_first_not_of(' ') != std::string_view::npos) return {};
  std::string_view id = line.substr(36, 10);
  id.remove_prefix(std::min(id.find_first_not_of(' '), id.size()));
  return list_can_hold_platform(id) ? id : std::string_view{};
}

// A platform id of 1 to 10 digits as one number that tells every id apart
// (leading zeros included): its value and its length.
std::uint64_t platform_key(std::string_view id) {
  std::uint64_t value = 0;
  for (const char c : id) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  return value << 4 | id.size();
}

}  // namespace

ObservationSet read_list(const std::string& path, Parameters keep, ListReport* report, std::int64_t line_limit) {
  ListReport scratch;
  ListReport& rep = report != nullptr ? *report : scratch;
  textio::LineReader lines;
  std::string reason;
  if (!lines.open(path, reason)) cannot_open_list(path, reason);
  ObservationSet set;
  set.sources.push_back(path);
  // Room for the records at once, in huge pages where it is large (a page
  // fault each 4 KiB is dear), and for what the report keeps of them.
  const std::size_t expected = expected_records(path);
  set.records.reserve(expected);
  advise_huge_pages(set.records.data(), expected * sizeof(ObservationRecord));
  rep.dates.reserve(expected);
  // A date that cannot be read fails the list once every line is read: a
  // list too long, or a file that cannot be read, is the failure then.
  std::optional<Error> date_failure;
  std::string padded;
  std::unordered_map<std::uint64_t, std::uint32_t> platform_index;
  for (;;) {
    if (rep.lines > line_limit) too_long(path, rep.lines);
    std::string_view line;
    const textio::LineStatus status = lines.next(record_columns, line);
    if (status == textio::LineStatus::end) break;
    if (status == textio::LineStatus::read_error) cannot_open_list(path, lines.reason());
    float values[nfields];
    if (status == textio::LineStatus::too_long || !read_fields(line, values)) {
      rep.unreadable_line = static_cast<std::int64_t>(lines.line_number());
      rep.unreadable_problem =
          status == textio::LineStatus::too_long ? "the line is longer than 1 MiB" : unreadable_field(line);
      break;
    }
    const std::int64_t line_number = ++rep.lines;
    const Parameters measured = parameters_of(values);
    if ((measured & keep) == 0) {
      rep.left_out.push_back({line_number, values[field_temp], values[field_salt]});
      continue;
    }
    ObservationRecord& r = set.records.emplace_back();
    r.lat = values[field_lat];
    r.lon = values[field_lon];
    r.kind = saturating_trunc(values[field_kind]);
    r.layer = layer_of_kind(r.kind);
    r.parameters = measured;
    r.line = line_number;
    if (const std::string_view id = platform_in(line); !id.empty()) {
      const auto [it, added] = platform_index.try_emplace(platform_key(id), static_cast<std::uint32_t>(set.platforms.size()));
      if (added) set.platforms.emplace_back(id);
      r.platform = it->second;
    }
    const float frequency = values[field_frequency];
    if (frequency > 0.0f && frequency < 9999.0f) {
      r.time = TimeSpan::always();
      continue;
    }
    if (date_failure) continue;  // no date after the first that cannot be read
    const std::string_view text = date_text_of(line, padded);
    std::int32_t hour = 0, day = 0, month = 0, year = 0;
    if (!read_date(text, hour, day, month, year)) {
      date_failure = bad_date(path, line_number, text);
      continue;
    }
    const float number = day_number(month, day, year, hour, 0);
    rep.dates.push_back({static_cast<std::int8_t>(hour), static_cast<std::int8_t>(day), static_cast<std::int8_t>(month),
                         static_cast<std::int16_t>(year), number});
    r.time = TimeSpan::at(number);
    if (is_valid_date(year, month, day)) r.start_minute = minute_of(seconds_of(year, month, day, hour, 0, 0));
  }
  if (date_failure) throw *date_failure;
  return set;
}

}  // namespace kelvo::io
