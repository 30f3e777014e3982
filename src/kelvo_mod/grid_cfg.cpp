#include "kelvo_mod/grid_cfg.hpp"

#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/calendar.hpp"
#include "textio/fields.hpp"
#include "textio/line_reader.hpp"

namespace kelvo {

namespace {

constexpr std::string_view op = "read_grid_cfg";
constexpr int label_columns = 16;

[[noreturn]] void grid_failure(Reporter& out, std::string_view reason, std::string_view file) {
  out.stop({stop_head(op), reason, file});
}

// Columns read of each line: the label and the fields after it.
constexpr std::size_t sizes_columns = label_columns + 3 * 5;
constexpr std::size_t edges_columns = label_columns + 4 * 9;
constexpr std::size_t steps_columns = label_columns + 2 * 9;
std::size_t levels_columns(std::int32_t nz) { return label_columns + 4 * static_cast<std::size_t>(nz); }

[[noreturn]] void open_failure(Reporter& out, std::string_view reason, std::string_view file) {
  grid_failure(out, "Error in opening file (" + std::string(reason) + "): ", file);
}

[[noreturn]] void not_a_number(Reporter& out, std::size_t line_number, std::string_view file) {
  grid_failure(out, "Field not a number in line " + std::to_string(line_number) + ": ", file);
}

// The first `keep` columns of the next line, or the failure naming the line:
// the end of the file, or a line too long, which cannot hold the fields.
std::string_view next_line(Reporter& out, textio::LineReader& lines, std::size_t keep, std::string_view file) {
  std::string_view line;
  switch (lines.next(keep, line)) {
    case textio::LineStatus::line:
      return line;
    case textio::LineStatus::end:
      grid_failure(out, "End of file before line " + std::to_string(lines.line_number() + 1) + " of 4: ", file);
    case textio::LineStatus::too_long:
      not_a_number(out, lines.line_number(), file);
    case textio::LineStatus::read_error:
      break;
  }
  open_failure(out, lines.reason(), file);
}

void check_read(Reporter& out, const textio::LineCursor& cur, std::size_t line_number,
                std::string_view file) {
  if (!cur.ok) not_a_number(out, line_number, file);
}

void check_grid_sizes(Reporter& out, const DomainState& ds, std::string_view file) {
  if (ds.nlon >= 1 && ds.nlat >= 1 && ds.nz >= 1 && ds.nz <= max_layers) return;
  out.stop({stop_head(op), "Invalid grid sizes in ", file, " nlon,nlat,nz: ", ds.nlon, ds.nlat, ds.nz,
            "(nlon, nlat >= 1; 1 <= nz <= 9999)"});
}

void read_grid_lines(Reporter& out, DomainState& ds, textio::LineReader& lines, std::string_view file) {
  textio::LineCursor l1{next_line(out, lines, sizes_columns, file)};
  textio::read_skip(l1, label_columns);
  ds.nlon = textio::read_int(l1, 5);
  ds.nlat = textio::read_int(l1, 5);
  ds.nz = textio::read_int(l1, 5);
  check_read(out, l1, 1, file);
  check_grid_sizes(out, ds, file);

  allocate(out, ds.levnum.data, element_count({ds.nz}), std::int32_t{0}, op, "levnum");
  textio::LineCursor l2{next_line(out, lines, levels_columns(ds.nz), file)};
  textio::read_skip(l2, label_columns);
  for (std::int32_t k = 1; k <= ds.nz; ++k) ds.levnum(k) = textio::read_int(l2, 4);
  check_read(out, l2, 2, file);

  textio::LineCursor l3{next_line(out, lines, edges_columns, file)};
  textio::read_skip(l3, label_columns);
  ds.west = textio::read_fixed(l3, 9, 5);
  ds.east = textio::read_fixed(l3, 9, 5);
  ds.south = textio::read_fixed(l3, 9, 5);
  ds.north = textio::read_fixed(l3, 9, 5);
  check_read(out, l3, 3, file);

  textio::LineCursor l4{next_line(out, lines, steps_columns, file)};
  textio::read_skip(l4, label_columns);
  ds.dlon = textio::read_fixed(l4, 9, 5);
  ds.dlat = textio::read_fixed(l4, 9, 5);
  check_read(out, l4, 4, file);
}

void print_grid_line(Reporter& out, const DomainState& ds) {
  std::string line;
  for (float v : {ds.west, ds.east, ds.south, ds.north, ds.dlon, ds.dlat}) {
    textio::put_fixed(line, v, 9, 5);
  }
  line += '\n';
  out.write(line);
}

// Each coordinate is computed from its own index, never by adding steps, so
// rounding does not accumulate along the axis.
void build_axis(Array1<float>& axis, std::int32_t n, float step, float edge) {
  for (std::int32_t i = 1; i <= n; ++i) {
    const float offset = static_cast<float>(i - 1) * step;
    axis(i) = offset + edge;
  }
}

void build_time_axis(Reporter& out, DomainState& ds) {
  ds.jday_start = day_number(1, 1, 2004, 0, 0, out.console);
  ds.jday_end = day_number(12, 31, 2006, 0, 0, out.console);
  ds.jdayaxis(1) = assessment_slot(CalendarDay{2004, 1, 1, 0, 0}, out.console);
  const float window = ds.jday_end - ds.jday_start;
  out.print({ds.jday_start, ds.jday_end, window});
}

}  // namespace

std::string grid_cfg_file_name(std::string_view scale_dir, std::string_view domain) {
  const std::string_view dir = textio::trim_right(scale_dir);
  const std::string_view code = textio::trim_right(domain);
  std::string name;
  name.append(dir).append("/").append(code).append("_ASC").append("/").append(code).append(
      "_grid_cfg");
  return textio::padded(name, path_length);
}

void read_grid_cfg(Reporter& out, DomainState& ds) {
  const std::string file_name = grid_cfg_file_name(ds.scale_dir, ds.domain);
  const std::string file(textio::trim_right(file_name));
  textio::LineReader lines;
  std::string reason;
  if (!lines.open(file, reason)) open_failure(out, reason, file);
  read_grid_lines(out, ds, lines, file);
  print_grid_line(out, ds);

  allocate(out, ds.lon.data, element_count({ds.nlon}), 0.0f, op, "lon");
  allocate(out, ds.lat.data, element_count({ds.nlat}), 0.0f, op, "lat");
  allocate(out, ds.jdayaxis.data, element_count({DomainState::ntimes}), 0.0f, op, "jdayaxis");
  build_axis(ds.lon, ds.nlon, ds.dlon, ds.west);
  build_axis(ds.lat, ds.nlat, ds.dlat, ds.south);
  build_time_axis(out, ds);
}

void check_layer_range(Reporter& out, const DomainState& ds) {
  if (ds.level_start >= 1 && ds.level_end <= ds.nz) return;
  out.stop({stop_head("check_layer_range"), "Layer range outside the grid: level_start, level_end, nz: ",
            ds.level_start, ds.level_end, ds.nz});
}

}  // namespace kelvo
