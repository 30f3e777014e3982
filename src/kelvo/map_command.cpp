// kelvo map: the coverage map of one assessment day.
#include <ctime>
#include <string>

#include "core/assess.hpp"
#include "core/contributions.hpp"
#include "io/map_file.hpp"
#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "kelvo/dates.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

struct MapArgs {
  AssessmentArgs run;
  std::string day = "2004-01-01";
};

std::string report(const MapArgs& m, const std::string& day, const Inputs& in, const Assessment& a,
                   const std::string& path) {
  std::string text = "Effective coverage of " + m.run.domain + " " + m.run.param + " on " + day + " (" +
                     std::to_string(in.observations.size()) + " observations kept)\n";
  text += " layer  level     water   covered  coverage %\n";
  for (const LayerResult& l : a.layers) {
    textio::put_int(text, l.layer, 6);
    textio::put_int(text, in.domain.grid().level_number(l.layer), 7);
    textio::put_int(text, l.nwater, 10);
    textio::put_int(text, l.covered, 10);
    textio::put_text(text, percent_text(l.coverage), 12);
    text += '\n';
  }
  return text + "Map written to " + path + "\n";
}

void run_map(const MapArgs& m, Context& context) {
  const OptionDate date = parse_option_date("--day", m.day);
  const CalendarDay day = calendar_day(date);
  const Inputs in = read_inputs(m.run, context);
  const float slot = assessment_slot(day);
  const Assessment a = assess(in.domain, in.observations, day_request(m.run, slot, true, context));
  const KindContributions kinds = kind_contributions(in.domain, a, context.threads);
  io::MapContents contents = io::map_contents(in.domain, a, coverage_classes(in.domain, a), kinds);
  const std::string iso = iso_day(day, date.has_time);
  contents.attributes = io::file_attributes(m.run.domain, m.run.param, m.run.level_start, m.run.level_end, iso,
                                            scale_dir_of(m.run), m.run.metadata_file, context.command_line,
                                            std::time(nullptr));
  const std::string path = result_path(m.run, "cover_map", ".nc");
  io::write_map_file(path, contents);
  context.console.write(m.run.quiet ? path + "\n" : report(m, iso, in, a, path));
}

}  // namespace

void add_map_command(CLI::App& app, Context& context) {
  auto m = std::make_shared<MapArgs>();
  CLI::App* cmd = app.add_subcommand("map", "write the coverage map (NetCDF) of one assessment day");
  add_assessment_arguments(*cmd, m->run, context);
  cmd->add_option("--day", m->day, "assessment day, YYYY-MM-DD or YYYY-MM-DDTHH:MM")->capture_default_str();
  cmd->callback([m, &context] { run_map(*m, context); });
}

}  // namespace kelvo::cli
