#include "kelvo_brino/metadata.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/calendar.hpp"
#include "kelvo_mod/legacy_messages.hpp"
#include "textio/fields.hpp"
#include "textio/line_reader.hpp"

namespace kelvo {

namespace {

constexpr std::string_view op = "read_metadata";
constexpr int nfields = 9;
// Widths and implied decimals of the nine fields of a list line.
constexpr int field_width[nfields] = {8, 9, 10, 5, 4, 10, 2, 2, 2};
constexpr int field_decimals[nfields] = {4, 4, 0, 0, 0, 0, 0, 0, 0};
constexpr int date_column = 17;
constexpr int date_length = 10;
// Columns of a list line that are read: the nine fields (the date text
// among them), 52 in all.
constexpr std::size_t record_columns = [] {
  std::size_t n = 0;
  for (int w : field_width) n += static_cast<std::size_t>(w);
  return n;
}();
// The fields of a list line that the run uses (1-based).
constexpr int field_lat = 1;
constexpr int field_lon = 2;
constexpr int field_frequency = 4;
constexpr int field_temp = 7;
constexpr int field_salt = 8;
constexpr int field_kind = 9;

// The record table: nine fields per line, room for maxnf rows (taken as
// the rows are read), and the date text (columns 18-27) of each record
// read, date_length characters each.
struct RecordTable {
  std::vector<float> fields;
  std::string dates;
  std::int32_t nrec = 0;
  float& at(std::int32_t i, int f) { return fields[static_cast<std::size_t>(i - 1) * nfields + f - 1]; }
  float at(std::int32_t i, int f) const { return fields[static_cast<std::size_t>(i - 1) * nfields + f - 1]; }
  std::string_view date(std::int32_t i) const {
    return std::string_view(dates).substr(static_cast<std::size_t>(i - 1) * date_length, date_length);
  }
};

// The nine fields of a line appended to the table; false, and the table
// as it was, when one cannot be read.
bool read_record(std::string_view line, RecordTable& table) {
  textio::LineCursor cur{line};
  float values[nfields];
  for (int f = 0; f < nfields; ++f) values[f] = textio::read_fixed(cur, field_width[f], field_decimals[f]);
  if (!cur.ok) return false;
  table.fields.insert(table.fields.end(), values, values + nfields);
  return true;
}

// Columns 18-27 of the line, padded with blanks where the line is shorter.
void keep_date_text(std::string_view line, RecordTable& table) {
  const std::string_view text = line.size() > date_column ? line.substr(date_column, date_length) : std::string_view{};
  table.dates.append(text);
  table.dates.append(date_length - text.size(), ' ');
}

void tell_unread_rest(Reporter& out, std::string_view file, std::size_t line_number) {
  std::string msg = "read_metadata: ";
  msg.append(file).append(": line ").append(std::to_string(line_number));
  msg.append(" is not a metadata record; the list ends before it and the lines from there on were not read\n");
  out.write_error(msg);
}

// Every line up to the end of the file or the first line that cannot be
// read (one too long among them); the table-full test comes before each
// read, so no line after the one that fills the table is read.
void read_records(Reporter& out, textio::LineReader& lines, const DomainState& ds, std::string_view file,
                  RecordTable& table) {
  std::int32_t i = 1;
  for (;;) {
    if (i > maxnf) out.stop({legacy::list_full, i, maxnf});
    std::string_view line;
    const textio::LineStatus status = lines.next(record_columns, line);
    if (status == textio::LineStatus::end) break;
    if (status == textio::LineStatus::read_error) out.stop({stop_head(op), legacy::open_error, ds.metadata_file});
    if (status == textio::LineStatus::too_long || !read_record(line, table)) {
      tell_unread_rest(out, file, lines.line_number());
      break;
    }
    keep_date_text(line, table);
    ++i;
  }
  table.nrec = i - 1;
  out.print({legacy::nobs_in_metadata, table.nrec});
}

bool carries_param(std::string_view param, const RecordTable& table, std::int32_t i) {
  if (param == "salt" && table.at(i, field_salt) == 1.0f) return true;
  if (param == "temp" && table.at(i, field_temp) == 1.0f) return true;
  return false;
}

// Truncation toward zero that cannot overflow: out-of-range values saturate.
std::int32_t saturating_trunc(float x) {
  if (x != x) return 0;
  if (x >= 2147483647.0f) return std::numeric_limits<std::int32_t>::max();
  if (x <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(x);
}

// The records (list lines) that carry the run's parameter, in order.
std::vector<std::int32_t> filter_records(Reporter& out, const DomainState& ds, const RecordTable& table) {
  const std::string_view param = textio::trim_right(ds.param);
  std::vector<std::int32_t> kept;
  kept.reserve(static_cast<std::size_t>(table.nrec));
  for (std::int32_t i = 1; i <= table.nrec; ++i) {
    if (carries_param(param, table, i)) {
      kept.push_back(i);
    } else {
      out.print({legacy::no_par_match, i, table.at(i, field_temp), table.at(i, field_salt), param});
    }
  }
  return kept;
}

// A kept record's observation, not yet placed in time.
Observation observation_of(const RecordTable& table, std::int32_t i) {
  Observation o;
  o.lat = table.at(i, field_lat);
  o.lon = table.at(i, field_lon);
  o.kind = saturating_trunc(table.at(i, field_kind));
  return o;
}

// Hour, day, month and year of a date text of ten digits (the usual form),
// as the field reader gives them; false for any other text.
bool ten_digit_date(std::string_view text, std::int32_t& hr, std::int32_t& dy, std::int32_t& mn, std::int32_t& yr) {
  if (text.size() != date_length) return false;
  std::int32_t d[date_length];
  for (std::size_t i = 0; i < date_length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    d[i] = text[i] - '0';
  }
  hr = d[0] * 10 + d[1];
  dy = d[2] * 10 + d[3];
  mn = d[4] * 10 + d[5];
  yr = ((d[6] * 10 + d[7]) * 10 + d[8]) * 10 + d[9];
  return true;
}

// The day number of a one-time observation's date text (of list line
// `record`), with its echo line (made in `line`, kept from call to call).
float one_time_day(Reporter& out, std::int32_t record, std::string_view date_text, std::string_view file,
                   std::string& line) {
  std::int32_t hr = 0, dy = 0, mn = 0, yr = 0;
  textio::LineCursor cur{date_text};
  if (!ten_digit_date(date_text, hr, dy, mn, yr)) {
    hr = textio::read_int(cur, 2);
    dy = textio::read_int(cur, 2);
    mn = textio::read_int(cur, 2);
    yr = textio::read_int(cur, 4);
  }
  if (!cur.ok) {
    const std::string where = " line " + std::to_string(record) + " date text \"" + std::string(date_text) + "\"";
    out.stop({stop_head(op), "Date text is not four integers in ", file, where});
  }
  line = "hr=";
  textio::put_int(line, hr, 2, 2);
  line += "dy=";
  textio::put_int(line, dy, 2);
  line += "mn=";
  textio::put_int(line, mn, 2);
  line += "yr=";
  textio::put_int(line, yr, 4);
  line += '\n';
  out.write(line);
  return day_number(mn, dy, yr, hr, 0, out.console);
}

// Each kept record's date and its time at the slot jdayaxis(1): repeating
// observations are present, one-time observations when within a day.
void place_in_time(Reporter& out, DomainState& ds, const RecordTable& table, std::string_view file) {
  const float slot = ds.jdayaxis(1);
  std::string line;
  for (std::size_t k = 0; k < ds.obs_lines.size(); ++k) {
    const std::int32_t record = ds.obs_lines[k];
    const float f = table.at(record, field_frequency);
    ObservationDate& date = ds.obs_dates[k];
    date.repeating = f > 0.0f && f < 9999.0f;
    if (!date.repeating) date.jday = one_time_day(out, record, table.date(record), file, line);
    ds.obs[k].time = time_at_slot(date, slot);
    if (!date.repeating && ds.obs[k].time == absent_time) out.print({legacy::error_in_times, date.jday, slot});
  }
}

// Kind 2 (surface-only platforms) counts for layer 1, kinds 1 and 3-7 for
// every layer; any other kind for none.
void assign_layers(Reporter& out, DomainState& ds) {
  for (std::size_t k = 0; k < ds.obs.size(); ++k) {
    Observation& o = ds.obs[k];
    if (o.kind == 2) {
      o.layer = 1;
    } else if (o.kind >= 1 && o.kind <= 7) {
      o.layer = every_layer;
    } else {
      o.layer = no_layer;
      out.print({legacy::no_depth_assignment, o.kind, static_cast<std::int32_t>(k + 1)});
    }
  }
}

}  // namespace

std::int32_t read_metadata(Reporter& out, DomainState& ds) {
  const std::string file(textio::trim_right(ds.metadata_file));
  textio::LineReader lines;
  std::string reason;
  if (!lines.open(file, reason)) out.stop({stop_head(op), legacy::open_error, ds.metadata_file});
  RecordTable table;
  reserve(out, table.fields, element_count({maxnf, nfields}), op, "tmp");
  table.dates.reserve(static_cast<std::size_t>(maxnf) * date_length);
  read_records(out, lines, ds, file, table);
  ds.obs_lines = filter_records(out, ds, table);
  ds.list_records = table.nrec;
  const auto nkept = static_cast<std::int64_t>(ds.obs_lines.size());
  allocate(out, ds.obs, element_count({nkept}), Observation{}, op, "obs_meta");
  allocate(out, ds.obs_dates, element_count({nkept}), ObservationDate{}, op, "obs_jday");
  for (std::size_t k = 0; k < ds.obs_lines.size(); ++k) ds.obs[k] = observation_of(table, ds.obs_lines[k]);
  place_in_time(out, ds, table, file);
  assign_layers(out, ds);
  return static_cast<std::int32_t>(ds.obs.size());
}

}  // namespace kelvo
