#include "kelvo/assessment.hpp"

#include <cmath>
#include <cstdio>

#include "io/domain_tree.hpp"
#include "io/result_files.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

// The longest file name the tools build; a longer one is refused here.
constexpr std::size_t longest_name = 255;

std::string with_slash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

void check_name_part(std::string_view what, const std::string& value) {
  if (value.empty()) fail(std::string(what) + ": may not be empty");
  if (value.find('/') != std::string::npos) fail(std::string(what) + " may not hold \"/\": " + value);
  if (value.find_first_of(" \t\n\r") != std::string::npos) {
    fail(std::string(what) + " may not hold blanks: \"" + value + "\"");
  }
}

void check_length(std::string_view what, const std::string& path) {
  if (path.size() > longest_name) {
    fail(std::string(what) + " longer than " + std::to_string(longest_name) + " characters: " + path);
  }
}

// Every name the run builds fits in the tools' file names.
void check_arguments(const AssessmentArgs& a) {
  check_name_part("Domain", a.domain);
  check_name_part("Par", a.param);
  if (a.level_start < 1 || a.level_end < a.level_start) {
    throw Error(ErrorCode::usage, "kelvo",
                "layers " + std::to_string(a.level_start) + " to " + std::to_string(a.level_end) +
                    ": the first layer must be 1 or more and the last not before it");
  }
  if (!a.run_tag.empty() && a.run_tag.find('/') != std::string::npos) fail("run_tag may not hold \"/\": " + a.run_tag);
  check_length("--scale-dir: the scale file names would be",
               io::scale_file_path(scale_dir_of(a), a.domain, a.param, 0, 0));
  check_length("--results-dir: the result file names would be", result_path(a, "cover_summary", ".asc"));
}

void tell_verbose(Context& context, const AssessmentArgs& a, const Inputs& in) {
  const Grid& g = in.domain.grid();
  std::string text = "grid " + io::grid_config_path(scale_dir_of(a), a.domain) + ": " + std::to_string(g.nlon) +
                     " x " + std::to_string(g.nlat) + " points, " + std::to_string(g.nz) + " layers\n";
  for (std::int32_t k = in.domain.first_layer(); k <= in.domain.last_layer(); ++k) {
    text += "layer " + std::to_string(k) + " (level " + std::to_string(g.level_number(k)) + "): " +
            std::to_string(in.domain.nwater(k)) + " water points\n";
  }
  text += "list " + a.metadata_file + ": " + std::to_string(in.list.lines) + " records, " +
          std::to_string(in.observations.size()) + " kept for " + a.param + "\n";
  context.console.write(text);
}

}  // namespace

std::string scale_dir_of(const AssessmentArgs& a) { return with_slash(a.scale_dir); }

std::string result_path(const AssessmentArgs& a, std::string_view kind, std::string_view ending) {
  return io::result_file_name(with_slash(a.results_dir), a.domain, a.param, kind, a.run_tag, ending);
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
  command.add_flag("-v,--verbose", a.verbose,
                   "also print what was read: the grid, each layer's water points, the list");
}

Inputs read_inputs(const AssessmentArgs& a, Context& context) {
  check_arguments(a);
  Inputs in = io::read_tree_inputs(scale_dir_of(a), a.domain, a.param, a.level_start, a.level_end, a.metadata_file,
                                   context.threads);
  if (in.list.unreadable_line != 0) {
    context.console.write_error("kelvo: " + a.metadata_file + ": line " + std::to_string(in.list.unreadable_line) +
                                " is not a list record; the list ends before it and the lines from there on were "
                                "not read\n");
  }
  if (a.verbose) tell_verbose(context, a, in);
  return in;
}

AssessRequest day_request(const AssessmentArgs& a, float slot, bool by_kind, const Context& context) {
  AssessRequest r;
  r.first_layer = a.level_start;
  r.last_layer = a.level_end;
  r.slot = slot;
  r.keep_decisions = true;
  r.by_kind = by_kind;
  r.threads = context.threads;
  return r;
}

std::string percent_text(float fraction) {
  if (std::isnan(fraction)) return "n/a";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(fraction) * 100.0);
  return buf;
}

}  // namespace kelvo::cli
