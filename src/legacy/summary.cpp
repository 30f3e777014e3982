#include "legacy/summary.hpp"

#include "core/error.hpp"
#include "io/result_files.hpp"
#include "legacy/messages.hpp"
#include "textio/atomic_file.hpp"
#include "textio/fields.hpp"
#include "textio/free_format.hpp"

namespace kelvo::legacy {

namespace {

void append_grid_lines(std::string& out, const Grid& g) {
  textio::put_free(out, {text::summary_title});
  textio::put_free(out, {text::summary_grid});
  textio::put_skip(out, 12);
  for (float v : {g.west, g.east, g.south, g.north}) textio::put_fixed(out, v, 8, 3);
  for (float v : {g.dlon, g.dlat}) textio::put_fixed(out, v, 8, 2);
  out += '\n';
  textio::put_free(out, {text::summary_sizes});
  textio::put_skip(out, 14);
  textio::put_int(out, g.nlat, 6);
  textio::put_int(out, g.nlon, 6);
  // No layer is current yet when this line is written: the column holds 0.
  textio::put_int(out, 0, 6);
  // One time slot.
  textio::put_int(out, 1, 6);
  out += '\n';
}

void append_layer_row(std::string& out, const LayerResult& l) {
  out += text::summary_row;
  textio::put_int(out, l.layer, 4);
  textio::put_int(out, l.nwater, 10);
  const float percent = l.coverage * 100.0f;
  textio::put_fixed(out, percent, 8, 3);
  out += '\n';
}

[[noreturn]] void summary_failure(std::string_view op, const std::string& path, const std::string& reason) {
  Error e(ErrorCode::cannot_write, std::string(op), "cannot write the summary " + path + ": " + reason);
  e.file = path;
  e.reason = reason;
  throw e;
}

}  // namespace

std::string summary_file_name(const RunState& s) {
  const Settings& st = s.settings;
  return textio::padded(io::result_file_name(textio::trim_right(s.results_dir), textio::trim_right(st.domain),
                                             textio::trim_right(st.param), "cover_summary",
                                             textio::trim_right(st.run_tag), ".asc"),
                        path_length);
}

std::string summary_text(const Grid& grid, std::string_view domain, std::string_view param, std::int32_t level_start,
                         std::int32_t level_end, std::span<const LayerResult> layers) {
  std::string out;
  append_grid_lines(out, grid);
  textio::put_free(out, {text::summary_domain, textio::trim_right(domain), text::summary_parameter,
                         textio::trim_right(param)});
  textio::put_free(out, {text::summary_from, level_start, text::summary_to, level_end});
  textio::put_free(out, {text::summary_rule});
  textio::put_free(out, {text::summary_columns});
  for (std::int32_t ilayer = level_start; ilayer <= level_end; ++ilayer) {
    append_layer_row(out, layers[static_cast<std::size_t>(ilayer - level_start)]);
  }
  return out;
}

void write_summary(const RunState& s) {
  const std::string path(textio::trim_right(summary_file_name(s)));
  textio::AtomicFile file;
  std::string reason;
  if (!file.create(path, reason)) summary_failure(text::summary_open_operation, path, reason);
  const Settings& st = s.settings;
  const std::string summary =
      summary_text(s.grid, st.domain, st.param, st.level_start, st.level_end, s.assessment.layers);
  if (!file.write(summary, reason) || !file.commit(reason)) summary_failure("write_summary", path, reason);
}

}  // namespace kelvo::legacy
