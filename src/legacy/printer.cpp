#include "legacy/printer.hpp"

#include <string>

#include "legacy/messages.hpp"
#include "textio/fields.hpp"

namespace kelvo::legacy {

namespace {

// The head of every stop message: "STOP (" operation ") ".
std::string stop_head(std::string_view operation) { return "STOP (" + std::string(operation) + ") "; }

std::int32_t int32_of(std::int64_t v) { return static_cast<std::int32_t>(v); }

constexpr std::size_t kBlock = std::size_t{64} * 1024;

// The row counter the replaced tool showed: the row of a scale file, or for
// an exponent file the counter the last scale file left (one past its last
// row; 0 when no scale file was read).
std::int32_t row_counter(const Error& e, const RunState& s) {
  for (const std::string& exponent_file : s.scale_files.exponents) {
    if (e.file == exponent_file) return s.scale_files.layers.empty() ? 0 : s.grid.nlat + 1;
  }
  return int32_of(e.line);
}

void grid_failure(Printer& out, const Error& e) {
  const std::string head = stop_head(e.operation);
  switch (e.code) {
    case ErrorCode::cannot_open:
      out.print({head, std::string(text::grid_open_error) + e.reason + "): ", e.file});
      return;
    case ErrorCode::truncated:
      out.print({head, std::string(text::grid_end_of_file) + std::to_string(e.line) + " of 4: ", e.file});
      return;
    case ErrorCode::not_a_number:
      out.print({head, std::string(text::grid_not_a_number) + std::to_string(e.line) + ": ", e.file});
      return;
    default:
      out.print({head, text::grid_sizes, e.file, text::grid_sizes_values, int32_of(e.number_item(0)),
                 int32_of(e.number_item(1)), int32_of(e.number_item(2)), text::grid_sizes_range});
  }
}

void scale_failure(Printer& out, const Error& e, const RunState& s) {
  const std::string head = stop_head(e.operation);
  switch (e.code) {
    case ErrorCode::truncated:
      out.print({head, text::end_of_file, row_counter(e, s), e.file});
      return;
    case ErrorCode::not_a_number:
      out.print({head, text::read_error, e.file, row_counter(e, s)});
      return;
    default:
      out.print({head, text::open_error, e.file});
  }
}

void list_failure(Printer& out, const Error& e, const RunState& s) {
  const std::string head = stop_head(e.operation);
  switch (e.code) {
    case ErrorCode::list_too_long:
      out.print({text::list_full, int32_of(e.line), int32_of(e.number_item(0))});
      return;
    case ErrorCode::bad_date:
      out.print({head, text::bad_date, e.file,
                 " line " + std::to_string(e.line) + " date text \"" + e.text_item(0) + "\""});
      return;
    default:
      out.print({head, text::open_error, s.settings.metadata_file});
  }
}

void command_line_failure(Printer& out, const Error& e) {
  const std::string head = stop_head(e.operation);
  if (e.code == ErrorCode::not_a_number) {
    out.print({head, "Layer bound " + e.text_item(0) + " is not an integer: \"" + e.text_item(1) + "\""});
  } else {
    out.print({head, e.text_item(0), " may not hold \"/\": ", e.text_item(1)});
  }
}

void usage(Printer& out, const Error& e) {
  const std::string_view path = textio::trim_right(std::string_view(e.file).substr(0, setting_length));
  std::string usage_text(text::usage_head);
  usage_text.append(path).append(text::usage_tail);
  out.write(usage_text);
}

}  // namespace

void Printer::echo(const Settings& s) {
  std::string line(textio::trim_right(s.domain));
  line.append("  ").append(textio::trim_right(s.param)).append("\n");
  write(line);
}

void Printer::layer_range(const Settings& s) {
  std::string line(text::layer_range);
  textio::put_int(line, s.level_start, 2);
  line += " to ";
  textio::put_int(line, s.level_end, 2);
  line += '\n';
  write(line);
}

void Printer::grid(const Grid& g) {
  std::string line;
  for (float v : {g.west, g.east, g.south, g.north, g.dlon, g.dlat}) textio::put_fixed(line, v, 9, 5);
  line += '\n';
  write(line);
}

void Printer::time_window(float jday_start, float jday_end) {
  const float window = jday_end - jday_start;
  print({jday_start, jday_end, window});
}

void Printer::allocation(const Grid& g) { print({text::allocating, g.nlon, g.nlat, g.nz}); }

void Printer::scale_files(const io::ScaleReport& report, const io::ScaleFiles& files) {
  std::string lines;
  for (const io::ScaleFileSummary& f : report.scale_files) {
    textio::put_fixed(lines, f.mean, 8, 3);
    textio::put_skip(lines, 2);
    textio::put_int(lines, f.count, 8);
    textio::put_skip(lines, 1);
    lines.append(f.file).append("\n");
  }
  for (int m = 0; m < report.exponent_files_begun; ++m) {
    textio::put_free(lines, {files.exponents[static_cast<std::size_t>(m)]});
  }
  write(lines);
}

void Printer::observation_list(const RunState& s, bool whole) {
  const io::ListReport& r = s.list_report;
  const std::string_view file = textio::trim_right(s.settings.metadata_file);
  if (r.unreadable_line != 0) {
    std::string msg = "read_metadata: ";
    msg.append(file).append(": line ").append(std::to_string(r.unreadable_line));
    msg.append(" is not a metadata record; the list ends before it and the lines from there on were not read\n");
    write_error(msg);
  }
  // The lines go out a block at a time: a list of 99,999 records prints megabytes.
  std::string lines;
  const auto flush_block = [&] {
    if (lines.size() < kBlock) return;
    write(lines);
    lines.clear();
  };
  textio::put_free(lines, {text::nobs_in_metadata, int32_of(r.lines)});
  const std::string_view param = textio::trim_right(s.settings.param);
  for (const io::ListReport::LeftOut& l : r.left_out) {
    textio::put_free(lines, {text::no_par_match, int32_of(l.line), l.temp_flag, l.salt_flag, param});
    flush_block();
  }
  for (const io::ListReport::DateRead& d : r.dates) {
    lines += "hr=";
    textio::put_int(lines, d.hour, 2, 2);
    lines += "dy=";
    textio::put_int(lines, d.day, 2);
    lines += "mn=";
    textio::put_int(lines, d.month, 2);
    lines += "yr=";
    textio::put_int(lines, d.year, 4);
    lines += '\n';
    if (d.year == 0) textio::put_free(lines, {text::no_year_zero});
    if (time_at_slot(TimeSpan::at(d.day_number), s.slot) == absent_time) {
      textio::put_free(lines, {text::error_in_times, d.day_number, s.slot});
    }
    flush_block();
  }
  const std::vector<ObservationRecord>& records = s.observations.records;
  for (std::size_t k = 0; whole && k < records.size(); ++k) {
    if (records[k].layer != no_layer) continue;
    textio::put_free(lines, {text::no_depth_assignment, records[k].kind, static_cast<std::int32_t>(k + 1)});
  }
  write(lines);
}

void Printer::water_points(const RunState& s) {
  std::string lines;
  for (std::int32_t k = 1; k <= s.grid.nz; ++k) textio::put_free(lines, {text::water_points, k, s.domain.nwater(k)});
  write(lines);
}

void Printer::layer_results(const Assessment& a) {
  std::string lines;
  for (const LayerResult& l : a.layers) {
    textio::put_free(lines, {text::assessing, l.layer});
    lines += text::layer_result;
    textio::put_int(lines, l.layer, 4);
    textio::put_int(lines, l.nwater, 10);
    textio::put_int(lines, l.covered, 10);
    textio::put_fixed(lines, l.coverage, 8, 3);
    lines += '\n';
  }
  write(lines);
}

void Printer::failure(const Error& e, const RunState& s) {
  if (e.operation == "usage") return usage(*this, e);
  if (e.code == ErrorCode::out_of_memory) {
    print({stop_head(e.operation), "Cannot allocate " + e.text_item(0) + ": " + e.text_item(1) + " values, " +
                                       e.text_item(2) + " bytes"});
    return;
  }
  if (e.operation == "get_args") return command_line_failure(*this, e);
  if (e.operation == "read_grid_cfg") return grid_failure(*this, e);
  if (e.operation == "get_grid") return scale_failure(*this, e, s);
  if (e.operation == "read_metadata") return list_failure(*this, e, s);
  if (e.operation == "check_layer_range") {
    print({stop_head(e.operation), text::layer_range_outside, int32_of(e.number_item(0)), int32_of(e.number_item(1)),
           int32_of(e.number_item(2))});
    return;
  }
  if (e.operation == text::summary_open_operation) {
    print({stop_head(e.operation), text::open_error, textio::padded(e.file, path_length)});
    return;
  }
  if (e.operation == "write_summary") {
    print({stop_head(e.operation), "Summary not written (", e.reason, "): ", e.file});
    return;
  }
  if (e.operation == "write_map" && e.code == ErrorCode::bad_request) {
    print({stop_head(e.operation), text::map_name_too_long, s.results_dir});
    return;
  }
  if (e.operation == "write_map" || e.operation == "write_netcdf") {
    print({stop_head("write_map"), "Map not written (", e.reason, "): ", e.file});
    return;
  }
  print({stop_head(e.operation), e.message});
}

}  // namespace kelvo::legacy
