#include "kelvo_brino/metadata.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/calendar.hpp"
#include "kelvo_mod/run_stop.hpp"
#include "textio/fields.hpp"
#include "textio/lines.hpp"

namespace kelvo {

namespace {

constexpr std::string_view op = "read_metadata";
constexpr int nfields = 9;
// Widths and implied decimals of the nine fields of a list line.
constexpr int field_width[nfields] = {8, 9, 10, 5, 4, 10, 2, 2, 2};
constexpr int field_decimals[nfields] = {4, 4, 0, 0, 0, 0, 0, 0, 0};
constexpr int date_column = 17;
constexpr int date_length = 10;

// A kept observation's date text and the list line it came from.
struct DateText {
  std::string text;
  std::int32_t line = 0;
};

// The record table of the first pass: nine fields per line, maxnf rows.
struct RecordTable {
  std::vector<float> fields;
  std::int32_t nrec = 0;
  float& at(std::int32_t i, int f) { return fields[static_cast<std::size_t>(i - 1) * nfields + f - 1]; }
};

bool read_record(std::string_view line, float* values) {
  textio::LineCursor cur{line};
  for (int f = 0; f < nfields; ++f) values[f] = textio::read_fixed(cur, field_width[f], field_decimals[f]);
  return cur.ok;
}

void tell_unread_rest(DomainState& ds, std::string_view file, std::size_t line_number) {
  std::string msg = "read_metadata: ";
  msg.append(file).append(": line ").append(std::to_string(line_number));
  msg.append(" is not a metadata record; the list ends before it and the lines from there on were not read\n");
  ds.console.write_error(msg);
}

// First pass: every line up to the end of the file or the first line that
// cannot be read; the table-full test comes before each read.
void read_records(DomainState& ds, std::string_view text, std::string_view file, RecordTable& table) {
  textio::LineSplitter lines{text};
  std::int32_t i = 1;
  for (;;) {
    if (i > maxnf) {
      stop_run(ds, {"Error !! Too many files in list, tmp array limit reached: i,maxnf ", i, maxnf},
               exit_failure);
    }
    std::string_view line;
    if (!lines.next(line)) break;
    if (!read_record(line, &table.at(i, 1))) {
      tell_unread_rest(ds, file, lines.line_number);
      break;
    }
    ++i;
  }
  table.nrec = i - 1;
  print_free(ds, {"Nobs in metadata ", table.nrec});
}

// Second pass: the date text (columns 18-27) of each record read.
std::vector<std::string> read_date_texts(std::string_view text, std::int32_t nrec) {
  std::vector<std::string> dates;
  dates.reserve(static_cast<std::size_t>(nrec));
  textio::LineSplitter lines{text};
  std::string_view line;
  for (std::int32_t i = 1; i <= nrec && lines.next(line); ++i) {
    textio::LineCursor cur{line};
    textio::read_skip(cur, date_column);
    dates.push_back(textio::read_text(cur, date_length, date_length));
  }
  return dates;
}

bool carries_param(std::string_view param, RecordTable& table, std::int32_t i) {
  if (param == "salt" && table.at(i, 8) == 1.0f) return true;
  if (param == "temp" && table.at(i, 7) == 1.0f) return true;
  return false;
}

std::vector<DateText> filter_records(DomainState& ds, RecordTable& table,
                                     const std::vector<std::string>& dates) {
  const std::string_view param = textio::trim_right(ds.param);
  ds.obs_meta.n1 = table.nrec;
  ds.obs_meta.n2 = nfields;
  allocate(ds, ds.obs_meta.data, element_count({table.nrec, nfields}), 0.0f, op, "obs_meta");
  std::vector<DateText> kept;
  std::int32_t count = 0;
  for (std::int32_t i = 1; i <= table.nrec; ++i) {
    if (carries_param(param, table, i)) {
      ++count;
      for (int f = 1; f <= nfields; ++f) ds.obs_meta(count, f) = table.at(i, f);
      kept.push_back({dates[static_cast<std::size_t>(i - 1)], i});
    } else {
      print_free(ds, {"No par match in metadata: i,salt,temp,param:", i, table.at(i, 7), table.at(i, 8),
                      param});
    }
  }
  ds.nobs_sel = count;
  return kept;
}

// Truncation toward zero that cannot overflow: out-of-range values saturate.
std::int32_t saturating_trunc(float x) {
  if (x != x) return 0;
  if (x >= 2147483647.0f) return std::numeric_limits<std::int32_t>::max();
  if (x <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(x);
}

void place_repeating(DomainState& ds, std::int32_t k, float frequency) {
  const std::int32_t istep = std::max<std::int32_t>(1, saturating_trunc(365.0f / frequency));
  for (std::int64_t t = 1; t <= DomainState::ntimes; t += istep) ds.obs_jday(k, t) = ds.jdayaxis(t);
}

void place_one_time(DomainState& ds, std::int32_t k, const DateText& date, std::string_view file) {
  textio::LineCursor cur{date.text};
  const std::int32_t hr = textio::read_int(cur, 2);
  const std::int32_t dy = textio::read_int(cur, 2);
  const std::int32_t mn = textio::read_int(cur, 2);
  const std::int32_t yr = textio::read_int(cur, 4);
  if (!cur.ok) {
    const std::string where = " line " + std::to_string(date.line) + " date text \"" + date.text + "\"";
    stop_run(ds, {"STOP (read_metadata) Date text is not four integers in ", file, where}, exit_failure);
  }
  std::string line = "hr=";
  textio::put_int(line, hr, 2, 2);
  line += "dy=";
  textio::put_int(line, dy, 2);
  line += "mn=";
  textio::put_int(line, mn, 2);
  line += "yr=";
  textio::put_int(line, yr, 4);
  line += '\n';
  ds.console.write(line);

  const float jday = day_number(mn, dy, yr, hr, 0, ds.console);
  std::int32_t m = 1;
  float best = std::fabs(jday - ds.jdayaxis(1));
  for (std::int32_t t = 2; t <= DomainState::ntimes; ++t) {
    const float d = std::fabs(jday - ds.jdayaxis(t));
    if (d < best) {
      best = d;
      m = t;
    }
  }
  if (best >= 1.0f) {
    print_free(ds, {"Error in times: jday , jdayaxis(min)", jday, ds.jdayaxis(m)});
    return;
  }
  ds.obs_jday(k, m) = ds.jdayaxis(m);
}

void place_in_time(DomainState& ds, const std::vector<DateText>& kept, std::string_view file) {
  ds.obs_jday.n1 = ds.nobs_sel;
  ds.obs_jday.n2 = DomainState::ntimes;
  allocate(ds, ds.obs_jday.data, element_count({ds.nobs_sel, DomainState::ntimes}), absent_time, op,
           "obs_jday");
  for (std::int32_t k = 1; k <= ds.nobs_sel; ++k) {
    const float f = ds.obs_meta(k, 4);
    if (f > 0.0f && f < 9999.0f) {
      place_repeating(ds, k, f);
    } else {
      place_one_time(ds, k, kept[static_cast<std::size_t>(k - 1)], file);
    }
  }
}

// Kind 2 (surface-only platforms) counts for layer 1, kinds 1 and 3-7 for
// every layer; any other kind for none.
void assign_layers(DomainState& ds) {
  allocate(ds, ds.obs_layer.data, element_count({ds.nobs_sel}), std::int32_t{0}, op, "obs_layer");
  for (std::int32_t k = 1; k <= ds.nobs_sel; ++k) {
    const std::int32_t itype = observation_kind(ds, k);
    if (itype == 2) {
      ds.obs_layer(k) = 1;
    } else if (itype >= 1 && itype <= 7) {
      ds.obs_layer(k) = -9;
    } else {
      ds.obs_layer(k) = 0;
      print_free(ds, {" No depth assignment", itype, k});
    }
  }
}

}  // namespace

std::int32_t observation_kind(const DomainState& ds, std::int32_t n) { return saturating_trunc(ds.obs_meta(n, 9)); }

std::int32_t read_metadata(DomainState& ds, std::string_view metadata_file) {
  const std::string file(textio::trim_right(metadata_file));
  std::string text;
  std::string reason;
  if (!textio::read_whole_file(file, text, reason)) {
    stop_run(ds, {"STOP (read_metadata) Error in opening file***", metadata_file}, exit_failure);
  }
  RecordTable table;
  allocate(ds, table.fields, element_count({maxnf, nfields}), 0.0f, op, "tmp");
  read_records(ds, text, file, table);
  const std::vector<std::string> dates = read_date_texts(text, table.nrec);
  const std::vector<DateText> kept = filter_records(ds, table, dates);
  table.fields = {};
  place_in_time(ds, kept, file);
  assign_layers(ds);
  return ds.nobs_sel;
}

}  // namespace kelvo
