#include "io/domain_tree.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>

#include "core/error.hpp"
#include "core/parallel.hpp"
#include "textio/fields.hpp"
#include "textio/line_reader.hpp"

namespace kelvo::io {

namespace {

// ------------------------------------------------------------ grid configuration

constexpr std::string_view grid_op = "read_grid_cfg";
constexpr int label_columns = 16;
// Columns read of each line: the label and the fields after it.
constexpr std::size_t sizes_columns = label_columns + 3 * 5;
constexpr std::size_t edges_columns = label_columns + 4 * 9;
constexpr std::size_t steps_columns = label_columns + 2 * 9;
std::size_t levels_columns(std::int32_t nz) { return label_columns + 4 * static_cast<std::size_t>(nz); }

Error file_error(ErrorCode code, std::string_view op, const std::string& file, std::string message) {
  Error e(code, std::string(op), std::move(message));
  e.file = file;
  return e;
}

[[noreturn]] void cannot_open(std::string_view op, std::string_view what, const std::string& file,
                              const std::string& reason) {
  Error e = file_error(ErrorCode::cannot_open, op, file, "cannot open " + std::string(what) + file + ": " + reason);
  e.reason = reason;
  throw e;
}

[[noreturn]] void grid_field_not_a_number(const std::string& file, std::size_t line) {
  Error e = file_error(ErrorCode::not_a_number, grid_op, file,
                       file + " line " + std::to_string(line) + ": a field of the grid configuration is not a number");
  e.line = static_cast<std::int64_t>(line);
  throw e;
}

// The first `keep` columns of the next line of the grid configuration.
std::string_view next_grid_line(textio::LineReader& lines, std::size_t keep, const std::string& file) {
  std::string_view line;
  switch (lines.next(keep, line)) {
    case textio::LineStatus::line:
      return line;
    case textio::LineStatus::end: {
      const std::size_t missing = lines.line_number() + 1;
      Error e = file_error(ErrorCode::truncated, grid_op, file,
                           file + ": the grid configuration ends before line " + std::to_string(missing) + " of 4");
      e.line = static_cast<std::int64_t>(missing);
      throw e;
    }
    case textio::LineStatus::too_long:
      grid_field_not_a_number(file, lines.line_number());
    case textio::LineStatus::read_error:
      break;
  }
  cannot_open(grid_op, "the grid configuration ", file, lines.reason());
}

void check_read(const textio::LineCursor& cur, std::size_t line, const std::string& file) {
  if (!cur.ok) grid_field_not_a_number(file, line);
}

void check_grid_sizes(const Grid& g, const std::string& file) {
  if (valid_grid_sizes(g.nlon, g.nlat, g.nz)) return;
  Error e = file_error(ErrorCode::bad_grid, grid_op, file,
                       file + ": grid sizes nlon " + std::to_string(g.nlon) + ", nlat " + std::to_string(g.nlat) +
                           ", nz " + std::to_string(g.nz) + " outside their range (nlon, nlat >= 1; 1 <= nz <= " +
                           std::to_string(max_layers) + ")");
  e.items = {std::int64_t{g.nlon}, std::int64_t{g.nlat}, std::int64_t{g.nz}};
  throw e;
}

void read_grid_lines(Grid& g, textio::LineReader& lines, const std::string& file) {
  textio::LineCursor l1{next_grid_line(lines, sizes_columns, file)};
  textio::read_skip(l1, label_columns);
  g.nlon = textio::read_int(l1, 5);
  g.nlat = textio::read_int(l1, 5);
  g.nz = textio::read_int(l1, 5);
  check_read(l1, 1, file);
  check_grid_sizes(g, file);

  allocate(g.levnum, element_count({g.nz}), std::int32_t{0}, grid_op, "levnum");
  textio::LineCursor l2{next_grid_line(lines, levels_columns(g.nz), file)};
  textio::read_skip(l2, label_columns);
  for (std::int32_t& level : g.levnum) level = textio::read_int(l2, 4);
  check_read(l2, 2, file);

  textio::LineCursor l3{next_grid_line(lines, edges_columns, file)};
  textio::read_skip(l3, label_columns);
  g.west = textio::read_fixed(l3, 9, 5);
  g.east = textio::read_fixed(l3, 9, 5);
  g.south = textio::read_fixed(l3, 9, 5);
  g.north = textio::read_fixed(l3, 9, 5);
  check_read(l3, 3, file);

  textio::LineCursor l4{next_grid_line(lines, steps_columns, file)};
  textio::read_skip(l4, label_columns);
  g.dlon = textio::read_fixed(l4, 9, 5);
  g.dlat = textio::read_fixed(l4, 9, 5);
  check_read(l4, 4, file);
}

// ------------------------------------------------------------ scale and exponent files

constexpr std::string_view scale_op = "get_grid";
constexpr int field_width = 8;
constexpr int field_decimals = 5;
constexpr std::string_view scale_suffix[3] = {"_x.dat", "_y.dat", "_t.dat"};
constexpr std::string_view power_suffix[3] = {"_power_x.dat", "_power_y.dat", "_power_t.dat"};

std::string file_stem(std::string_view scale_dir, std::string_view domain, std::string_view param) {
  std::string name(scale_dir);
  name.append(domain).append("_ASC/").append(domain).append("_").append(param);
  return name;
}

[[noreturn]] void row_failure(ErrorCode code, const std::string& file, std::int64_t row, std::string message) {
  Error e = file_error(code, scale_op, file, std::move(message));
  e.line = row;
  throw e;
}

// The columns of row `row` (from 1) of a file that hold `nfields` fields.
std::string_view next_row(textio::LineReader& lines, std::size_t nfields, const std::string& file, std::int64_t row,
                          std::string_view rows_wanted) {
  std::string_view line;
  switch (lines.next(nfields * field_width, line)) {
    case textio::LineStatus::line:
      return line;
    case textio::LineStatus::end:
      row_failure(ErrorCode::truncated, file, row,
                  file + ": ends before line " + std::to_string(row) + " (" + std::string(rows_wanted) + ")");
    case textio::LineStatus::too_long:
      row_failure(ErrorCode::not_a_number, file, row, file + " line " + std::to_string(row) + ": longer than 1 MiB");
    case textio::LineStatus::read_error:
      break;
  }
  cannot_open(scale_op, "", file, lines.reason());
}

void open_file(textio::LineReader& lines, const std::string& file) {
  std::string reason;
  if (!lines.open(file, reason)) cannot_open(scale_op, "", file, reason);
}

void parse_row(std::string_view line, std::span<float> values, const std::string& file, std::int64_t row) {
  if (!parse_scale_row(line, values)) {
    row_failure(ErrorCode::not_a_number, file, row,
                file + " line " + std::to_string(row) + ": a field is not a number (8 columns, 5 implied decimals)");
  }
}

// Reads the nlat rows of one scale file into `plane`.
void read_scale_file(const std::string& file, const Grid& grid, std::span<float> plane) {
  textio::LineReader lines;
  open_file(lines, file);
  const std::size_t nlon = static_cast<std::size_t>(grid.nlon);
  const std::string rows = "the grid has " + std::to_string(grid.nlat) + " rows";
  for (std::int32_t row = 1; row <= grid.nlat; ++row) {
    const std::string_view line = next_row(lines, nlon, file, row, rows);
    parse_row(line, plane.subspan(static_cast<std::size_t>(row - 1) * nlon, nlon), file, row);
  }
}

// Mean and count of the values that carry a scale, summed i fastest then j.
// Kept out of line: inlined into the reading loop, its sum went through
// memory at every value.
[[gnu::noinline]] ScaleFileSummary summarise(const std::string& file, std::span<const float> plane) {
  float sum = 0.0f;
  std::int32_t count = 0;
  for (float v : plane) {
    if (v != no_value) {
      sum += v;
      ++count;
    }
  }
  return ScaleFileSummary{file, sum / static_cast<float>(count), count};
}

// The nz exponents of one exponent file's first line.
void read_exponent_file(const std::string& file, std::vector<Exponents>& exponents, int component) {
  textio::LineReader lines;
  open_file(lines, file);
  std::vector<float> values(exponents.size());
  parse_row(next_row(lines, values.size(), file, 1, "an exponent file has one line"), values, file, 1);
  for (std::size_t k = 0; k < values.size(); ++k) {
    float* e[3] = {&exponents[k].px, &exponents[k].py, &exponents[k].pt};
    *e[component] = values[k];
  }
}

// One scale file read on a thread of its own: its summary, or its failure.
struct FileOutcome {
  std::optional<ScaleFileSummary> summary;
  std::exception_ptr failure;
};

}  // namespace

// ------------------------------------------------------------ names

std::string grid_config_path(std::string_view scale_dir, std::string_view domain) {
  return domain_folder(scale_dir, domain).append(domain).append("_grid_cfg");
}

std::vector<std::string> domains_under(std::string_view scale_dir) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  constexpr std::string_view ending = "_ASC";
  for (fs::directory_iterator it(fs::path(scale_dir), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string folder = it->path().filename().string();
    if (folder.size() <= ending.size() || !folder.ends_with(ending)) continue;
    const std::string name = folder.substr(0, folder.size() - ending.size());
    if (fs::is_regular_file(grid_config_path(scale_dir, name), ec)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> parameters_of(std::string_view scale_dir, std::string_view domain) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  const std::string head = std::string(domain) + "_";
  constexpr std::string_view tail = "_power_x.dat";
  for (fs::directory_iterator it(fs::path(domain_folder(scale_dir, domain)), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.size() > head.size() + tail.size() && file.starts_with(head) && file.ends_with(tail)) {
      names.push_back(file.substr(head.size(), file.size() - head.size() - tail.size()));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string scale_file_path(std::string_view scale_dir, std::string_view domain, std::string_view param,
                            std::int32_t level, int component) {
  std::string name = file_stem(scale_dir, domain, param);
  name.append("_scale_lev");
  textio::put_int(name, level, 2, 2);
  name.append(scale_suffix[component]);
  return name;
}

std::string exponent_file_path(std::string_view scale_dir, std::string_view domain, std::string_view param,
                               int component) {
  return file_stem(scale_dir, domain, param).append(power_suffix[component]);
}

std::string domain_folder(std::string_view scale_dir, std::string_view domain) {
  return std::string(scale_dir).append(domain).append("_ASC/");
}

// ------------------------------------------------------------ reading

Grid read_grid_config(const std::string& path) {
  textio::LineReader lines;
  std::string reason;
  if (!lines.open(path, reason)) cannot_open(grid_op, "the grid configuration ", path, reason);
  Grid g;
  read_grid_lines(g, lines, path);
  allocate(g.lon, element_count({g.nlon}), 0.0f, grid_op, "lon");
  allocate(g.lat, element_count({g.nlat}), 0.0f, grid_op, "lat");
  build_axes(g);
  return g;
}

ScaleFiles scale_files(std::string_view scale_dir, std::string_view domain, std::string_view param, const Grid& grid,
                       std::int32_t first, std::int32_t last) {
  ScaleFiles f;
  f.first_layer = first;
  for (std::int32_t k = first; k <= last; ++k) {
    std::array<std::string, 3>& names = f.layers.emplace_back();
    for (int m = 0; m < 3; ++m) {
      names[static_cast<std::size_t>(m)] = scale_file_path(scale_dir, domain, param, grid.level_number(k), m);
    }
  }
  for (int m = 0; m < 3; ++m) {
    f.exponents[static_cast<std::size_t>(m)] = exponent_file_path(scale_dir, domain, param, m);
  }
  return f;
}

bool parse_scale_row(std::string_view line, std::span<float> values) {
  const std::size_t full = std::min(values.size(), line.size() / field_width);
  for (std::size_t i = 0; i < full; ++i) {
    if (!textio::parse_fixed(line.substr(i * field_width, field_width), field_decimals, values[i])) {
      return false;
    }
  }
  // The rest of a short line: a partial field and then blanks.
  for (std::size_t i = full; i < values.size(); ++i) {
    const std::size_t start = i * field_width;
    const std::string_view field = start < line.size() ? line.substr(start, field_width) : std::string_view();
    if (!textio::parse_fixed(field, field_decimals, values[i])) return false;
  }
  return true;
}

ScaleFields read_scale_fields(const ScaleFiles& files, const Grid& grid, int threads, ScaleReport* report) {
  ScaleFields fields;
  fields.first_layer = files.first_layer;
  fields.layers = static_cast<std::int32_t>(files.layers.size());
  fields.plane_size = grid.plane_size();
  allocate(fields.values, element_count({grid.nlon, grid.nlat, fields.layers, 3}), no_value, scale_op, "scale");
  // The scale files in the order a run on one thread reads them, side by
  // side; the first failure in that order is the run's.
  const std::size_t nfiles = 3 * files.layers.size();
  std::vector<FileOutcome> outcomes(nfiles);
  try {
    parallel_for(static_cast<std::int64_t>(nfiles), threads, [&](std::int64_t n) {
      const std::size_t l = static_cast<std::size_t>(n) / 3, m = static_cast<std::size_t>(n) % 3;
      const std::span<float> p = fields.plane(files.first_layer + static_cast<std::int32_t>(l), static_cast<int>(m));
      const std::string& file = files.layers[l][m];
      FileOutcome& r = outcomes[static_cast<std::size_t>(n)];
      try {
        read_scale_file(file, grid, p);
        r.summary = summarise(file, p);
      } catch (...) {
        r.failure = std::current_exception();
        throw;  // no later file is begun
      }
    });
  } catch (...) {
    // The first failure in file order is rethrown below.
  }
  for (FileOutcome& r : outcomes) {
    if (r.failure) std::rethrow_exception(r.failure);
    if (report != nullptr) report->scale_files.push_back(std::move(*r.summary));
  }
  allocate(fields.exponents, element_count({grid.nz}), Exponents{}, scale_op, "power");
  for (int m = 0; m < 3; ++m) {
    if (report != nullptr) report->exponent_files_begun = m + 1;
    read_exponent_file(files.exponents[static_cast<std::size_t>(m)], fields.exponents, m);
  }
  return fields;
}

Domain read_domain_tree(std::string_view scale_dir, std::string_view domain, std::string_view param,
                        std::int32_t first, std::int32_t last, int threads, bool periodic_when_global) {
  Grid grid = read_grid_config(grid_config_path(scale_dir, domain));
  grid.periodic = periodic_when_global && spans_full_circle(grid.nlon, grid.dlon);
  check_layer_range(grid, first, last);
  ScaleFields f = read_scale_fields(scale_files(scale_dir, domain, param, grid, first, last), grid, threads);
  return Domain::build(std::string(domain), std::string(param), std::move(grid), std::move(f));
}

// ------------------------------------------------------------ writing a tree

namespace {

constexpr std::string_view write_op = "write_domain_tree";

[[noreturn]] void tree_write_failure(const std::string& path, const std::string& reason) {
  Error e = file_error(ErrorCode::cannot_write, write_op, path, "cannot write " + path + ": " + reason);
  e.reason = reason;
  throw e;
}

void write_text_file(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wbx");
  if (f == nullptr) tree_write_failure(path, std::strerror(errno));
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int saved = errno;
  if (std::fclose(f) != 0 || !written) tree_write_failure(path, std::strerror(written ? errno : saved));
}

// A label padded to the grid configuration's 16 columns.
void put_label(std::string& out, std::string_view label) {
  out += label;
  out.append(static_cast<std::size_t>(label_columns) - label.size(), ' ');
}

std::string grid_config_text(const Grid& g, TreeWriteReport& r) {
  std::string t;
  put_label(t, "nlon,nlat,nz");
  for (std::int32_t n : {g.nlon, g.nlat, g.nz}) textio::put_int(t, n, 5);
  t += "\n";
  put_label(t, "levnum");
  for (std::int32_t level : g.levnum) textio::put_int(t, level, 4);
  t += "\n";
  put_label(t, "west,east,s,n");
  for (float v : {g.west, g.east, g.south, g.north}) r.inexact += textio::put_nearest_fixed(t, v, 9, 5) ? 0 : 1;
  t += "\n";
  put_label(t, "dlon,dlat");
  for (float v : {g.dlon, g.dlat}) r.inexact += textio::put_nearest_fixed(t, v, 9, 5) ? 0 : 1;
  t += "\n";
  r.values += 6;
  return t;
}

// One line of 8-column fields per row of `values` (rows of `width` values).
std::string fields_text(std::span<const float> values, std::size_t width, TreeWriteReport& r) {
  std::string t;
  t.reserve(values.size() * field_width + values.size() / std::max<std::size_t>(width, 1) + 1);
  for (std::size_t n = 0; n < values.size(); ++n) {
    const float v = is_no_value(values[n]) ? no_value : values[n];
    if (!textio::put_nearest_fixed(t, v, field_width, field_decimals) && !is_no_value(values[n])) ++r.inexact;
    if ((n + 1) % width == 0) t += '\n';
  }
  r.values += static_cast<std::int64_t>(values.size());
  return t;
}

void write_parameter(const std::string& folder, const TreeContents& c, std::size_t p, TreeWriteReport& r) {
  const Grid& g = c.grid;
  const std::string& param = c.parameters[p];
  std::vector<float> powers[3];
  for (const Exponents& e : c.exponents[p]) {
    powers[0].push_back(e.px);
    powers[1].push_back(e.py);
    powers[2].push_back(e.pt);
  }
  for (int m = 0; m < 3; ++m) {
    write_text_file(exponent_file_path(folder, c.name, param, m), fields_text(powers[m], powers[m].size(), r));
  }
  const std::size_t plane = static_cast<std::size_t>(g.plane_size());
  std::vector<float> values(3 * plane);
  const std::span<float> all(values);
  for (std::int32_t k = 1; k <= g.nz; ++k) {
    std::fill(values.begin(), values.end(), no_value);
    c.planes(p, k, LayerPlanes{all.subspan(0, plane), all.subspan(plane, plane), all.subspan(2 * plane, plane)});
    for (int m = 0; m < 3; ++m) {
      write_text_file(scale_file_path(folder, c.name, param, g.level_number(k), m),
                      fields_text(all.subspan(static_cast<std::size_t>(m) * plane, plane),
                                  static_cast<std::size_t>(g.nlon), r));
    }
  }
}

void check_tree_contents(const std::string& folder, const TreeContents& c) {
  const Grid& g = c.grid;
  const bool fits = valid_grid_sizes(g.nlon, g.nlat, g.nz) && g.levnum.size() == static_cast<std::size_t>(g.nz) &&
                    c.exponents.size() == c.parameters.size() &&
                    std::all_of(c.exponents.begin(), c.exponents.end(),
                                [&](const auto& e) { return e.size() == static_cast<std::size_t>(g.nz); });
  if (!fits) throw file_error(ErrorCode::bad_request, write_op, folder, folder + ": the contents do not fit the grid");
  std::vector<std::int32_t> levels = g.levnum;
  std::sort(levels.begin(), levels.end());
  if (std::adjacent_find(levels.begin(), levels.end()) != levels.end()) {
    throw file_error(ErrorCode::bad_request, write_op, folder,
                     folder + ": two layers share a level number, and with it their scale files");
  }
}

}  // namespace

TreeWriteReport write_domain_tree(std::string_view scale_dir, const TreeContents& c) {
  namespace fs = std::filesystem;
  const std::string final_folder = domain_folder(scale_dir, c.name);
  check_tree_contents(final_folder, c);
  std::error_code ec;
  if (fs::exists(fs::path(final_folder), ec)) {
    throw file_error(ErrorCode::bad_request, write_op, final_folder,
                     final_folder + " already exists; kelvo does not write into a domain's folder that is there");
  }
  // The files are written under <scale_dir>.<name>_ASC.<pid>/ in the layout
  // of a scale directory, whose <name>_ASC folder is then renamed into place.
  const std::string staging = std::string(scale_dir) + "." + c.name + "_ASC." + std::to_string(::getpid()) + "/";
  if (!fs::create_directory(staging, ec)) tree_write_failure(staging, ec ? ec.message() : "already exists");
  try {
    const std::string folder = domain_folder(staging, c.name);
    if (!fs::create_directory(folder, ec)) tree_write_failure(folder, ec.message());
    TreeWriteReport r;
    write_text_file(grid_config_path(staging, c.name), grid_config_text(c.grid, r));
    for (std::size_t p = 0; p < c.parameters.size(); ++p) write_parameter(staging, c, p, r);
    const Grid back = read_grid_config(grid_config_path(staging, c.name));
    r.axes_equal = back.lon == c.grid.lon && back.lat == c.grid.lat;
    fs::rename(folder, final_folder, ec);
    if (ec) tree_write_failure(final_folder, ec.message());
    fs::remove_all(staging, ec);
    return r;
  } catch (...) {
    fs::remove_all(staging, ec);
    throw;
  }
}

}  // namespace kelvo::io
