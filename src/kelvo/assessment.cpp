#include "kelvo/assessment.hpp"

#include <cmath>
#include <cstdio>

#include "kelvo_brino/driver.hpp"
#include "kelvo_mod/parallel.hpp"
#include "kelvo_mod/run_stop.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

// The tool builds every file name into a 255-character text; a longer name
// would be cut, so it is refused here instead.
constexpr std::size_t longest_name = path_length;

std::string with_slash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

void check_name_part(std::string_view what, const std::string& value) {
  if (value.empty()) throw Failure{std::string(what) + ": may not be empty"};
  if (value.find('/') != std::string::npos) throw Failure{std::string(what) + " may not hold \"/\": " + value};
  if (value.find_first_of(" \t\n\r") != std::string::npos) {
    throw Failure{std::string(what) + " may not hold blanks: \"" + value + "\""};
  }
}

void check_length(std::string_view what, const std::string& path) {
  if (path.size() > longest_name) {
    throw Failure{std::string(what) + " longer than " + std::to_string(longest_name) + " characters: " + path};
  }
}

// Every name the run builds fits in the tool's file-name texts.
void check_arguments(const AssessmentArgs& a) {
  check_name_part("Domain", a.domain);
  check_name_part("Par", a.param);
  if (!a.run_tag.empty() && a.run_tag.find('/') != std::string::npos) {
    throw Failure{"run_tag may not hold \"/\": " + a.run_tag};
  }
  const std::string scale = with_slash(a.scale_dir) + a.domain + "_ASC/" + a.domain + "_" + a.param +
                            "_scale_lev00_x.dat";
  check_length("--scale-dir: the scale file names would be", scale);
  check_length("--results-dir: the result file names would be", result_path(a, "cover_summary", ".asc"));
}


}  // namespace


std::string stop_message(const std::string& console_out) {
  const std::size_t from = console_out.find("STOP (");
  const std::string_view text = std::string_view(console_out).substr(from == std::string::npos ? 0 : from);
  std::string message;
  for (const char c : text) {
    const bool blank = c == ' ' || c == '\n';
    if (blank && (message.empty() || message.back() == ' ')) continue;
    message.push_back(blank ? ' ' : c);
  }
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message;
}

void add_assessment_arguments(CLI::App& command, AssessmentArgs& a, const Context& context) {
  a.scale_dir = context.scale_dir;
  a.results_dir = context.results_dir;
  command.add_option("Domain", a.domain, "domain code, e.g. NsBs")->required();
  command.add_option("Par", a.param, "parameter: salt or temp")->required();
  command.add_option("level_start", a.level_start, "first layer to assess")->required();
  command.add_option("level_end", a.level_end, "last layer to assess")->required();
  command.add_option("metadata_file", a.metadata_file, "the observation list")->required();
  command.add_option("run_tag", a.run_tag, "tag at the end of the result file names")->required();
  command.add_option("--scale-dir", a.scale_dir, "base directory of the grid configuration and scale files")
      ->capture_default_str();
  command.add_option("--results-dir", a.results_dir, "directory the result files are written to")
      ->capture_default_str();
  command.add_flag("-q,--quiet", a.quiet, "print only the path of the written file");
  command.add_flag("-v,--verbose", a.verbose, "print the per-stage lines of kelvo_brino too");
}

CalendarDay calendar_day(const OptionDate& d) { return CalendarDay{d.year, d.month, d.day, d.hour, d.minute}; }

std::string iso_day(const CalendarDay& d, bool with_time) {
  char buf[32];
  if (with_time) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d", d.year, d.month, d.day, d.hour, d.minute);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  }
  return buf;
}

std::string result_path(const AssessmentArgs& a, std::string_view kind, std::string_view ending) {
  std::string path = with_slash(a.results_dir);
  path.append(a.domain).append("_").append(a.param).append("_").append(kind).append("_");
  path.append(a.run_tag).append(ending);
  return path;
}

void run_assessment_of(const AssessmentArgs& a, const CalendarDay& day, CoverageMaps* maps, Context& context,
                       const std::function<void(Reporter&, DomainState&)>& body) {
  check_arguments(a);
  textio::Console legacy;  // the stages' lines, kept in memory
  Reporter out{legacy};
  DomainState ds(BaseDirs{with_slash(a.scale_dir), with_slash(a.results_dir)});
  ds.domain = a.domain;
  ds.param = a.param;
  ds.metadata_file = a.metadata_file;
  ds.run_tag = a.run_tag;
  ds.level_start = a.level_start;
  ds.level_end = a.level_end;
  const auto show_legacy = [&] {
    if (a.verbose) context.console.write(legacy.out);
    legacy.out.clear();
    context.console.write_error(legacy.err);
    legacy.err.clear();
  };
  try {
    run_stages(out, ds, AssessmentOptions{Evaluation::fast, maps, &day, thread_count_from_environment()});
    show_legacy();
    body(out, ds);
    show_legacy();
  } catch (const RunStop&) {
    const std::string message = stop_message(legacy.out);
    if (const std::size_t at = legacy.out.rfind(" STOP ("); at != std::string::npos) legacy.out.resize(at);
    show_legacy();
    throw Failure{message};
  }
}

std::string percent_text(float fraction) {
  if (std::isnan(fraction)) return "n/a";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(fraction) * 100.0);
  return buf;
}

}  // namespace kelvo::cli
