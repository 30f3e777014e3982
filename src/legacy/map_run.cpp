#include "legacy/map_run.hpp"

#include <ctime>

#include "core/contributions.hpp"
#include "io/map_file.hpp"
#include "io/result_files.hpp"
#include "legacy/driver.hpp"
#include "legacy/messages.hpp"
#include "legacy/summary.hpp"
#include "textio/fields.hpp"

namespace kelvo::legacy {

namespace {

// The assessment day of the tool's time axis as an ISO date.
constexpr std::string_view assessment_day_iso = "2004-01-01";

}  // namespace

std::string map_file_name(const RunState& s) {
  const Settings& st = s.settings;
  const auto name = [&](std::string_view what, std::string_view ending) {
    return io::result_file_name(textio::trim_right(s.results_dir), textio::trim_right(st.domain),
                                textio::trim_right(st.param), what, textio::trim_right(st.run_tag), ending);
  };
  if (name("cover_summary", ".asc").size() > path_length) {
    throw Error(ErrorCode::bad_request, "write_map", "the map file's name is longer than " +
                                                         std::to_string(path_length) + " characters");
  }
  return name("cover_map", ".nc");
}

std::string write_map(Printer& out, const RunState& s, std::span<const std::string> args,
                      std::string_view assessment_day, int threads) {
  const std::string path = map_file_name(s);
  const Settings& st = s.settings;
  CoverageClasses classes = coverage_classes(s.domain, s.assessment);
  const KindContributions kinds = kind_contributions(s.domain, s.assessment, threads);
  io::MapContents contents = io::map_contents(s.domain, s.assessment, std::move(classes), kinds);
  const std::string_view scale_dir = textio::trim_right(s.scale_dir);
  contents.attributes = io::file_attributes(textio::trim_right(st.domain), textio::trim_right(st.param),
                                            st.level_start, st.level_end, assessment_day, scale_dir,
                                            textio::trim_right(st.metadata_file), args, std::time(nullptr));
  // The grid configuration as the run named it (cut at 255 characters).
  contents.attributes.grid_configuration_file = held_name(grid_cfg_file_name(s.scale_dir, st.domain));
  io::write_map_file(path, contents);
  out.print({text::map_written, path});
  return path;
}

int run_kelvo_map(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console, int threads) {
  return run_guarded(dirs, console, [&](Printer& out, RunState& s) {
    run_assessment(out, s, args, AssessmentOptions{Evaluation::fast, true, true, threads});
    write_map(out, s, args, assessment_day_iso, threads);
  });
}

}  // namespace kelvo::legacy
