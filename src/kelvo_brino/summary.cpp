#include "kelvo_brino/summary.hpp"

#include "kelvo_mod/legacy_messages.hpp"
#include "textio/atomic_file.hpp"
#include "textio/fields.hpp"
#include "textio/free_format.hpp"

namespace kelvo {

namespace {

void append_grid_lines(std::string& text, const DomainState& ds) {
  textio::put_free(text, {legacy::summary_title});
  textio::put_free(text, {legacy::summary_grid});
  textio::put_skip(text, 12);
  for (float v : {ds.west, ds.east, ds.south, ds.north}) textio::put_fixed(text, v, 8, 3);
  for (float v : {ds.dlon, ds.dlat}) textio::put_fixed(text, v, 8, 2);
  text += '\n';
  textio::put_free(text, {legacy::summary_sizes});
  textio::put_skip(text, 14);
  textio::put_int(text, ds.nlat, 6);
  textio::put_int(text, ds.nlon, 6);
  // No layer is current yet when this line is written: the column holds 0.
  textio::put_int(text, 0, 6);
  textio::put_int(text, DomainState::ntimes, 6);
  text += '\n';
}

void append_layer_row(std::string& text, const DomainState& ds, std::int32_t ilayer) {
  text += legacy::summary_row;
  textio::put_int(text, ilayer, 4);
  textio::put_int(text, ds.Nwater(ilayer), 10);
  const float percent = ds.Kpct(ilayer) * 100.0f;
  textio::put_fixed(text, percent, 8, 3);
  text += '\n';
}

}  // namespace

std::string summary_file_name(const DomainState& ds) {
  std::string name(textio::trim_right(ds.results_dir));
  name.append(textio::trim_right(ds.domain)).append("_").append(textio::trim_right(ds.param));
  name.append("_cover_summary_").append(textio::trim_right(ds.run_tag)).append(".asc");
  return textio::padded(name, path_length);
}

std::string summary_text(const DomainState& ds, std::string_view domain, std::string_view param,
                         std::int32_t level_start, std::int32_t level_end) {
  std::string text;
  append_grid_lines(text, ds);
  textio::put_free(text, {legacy::summary_domain, textio::trim_right(domain), legacy::summary_parameter,
                          textio::trim_right(param)});
  textio::put_free(text, {legacy::summary_from, level_start, legacy::summary_to, level_end});
  textio::put_free(text, {legacy::summary_rule});
  textio::put_free(text, {legacy::summary_columns});
  for (std::int32_t ilayer = level_start; ilayer <= level_end; ++ilayer) append_layer_row(text, ds, ilayer);
  return text;
}

void write_summary(Reporter& out, const DomainState& ds) {
  const std::string summary_file = summary_file_name(ds);
  const std::string path(textio::trim_right(summary_file));
  textio::AtomicFile file;
  std::string reason;
  if (!file.create(path, reason)) {
    out.stop({stop_head(legacy::summary_open_operation), legacy::open_error, summary_file});
  }
  const std::string text = summary_text(ds, ds.domain, ds.param, ds.level_start, ds.level_end);
  if (!file.write(text, reason) || !file.commit(reason)) {
    out.stop({stop_head("write_summary"), "Summary not written (", reason, "): ", path});
  }
}

}  // namespace kelvo
