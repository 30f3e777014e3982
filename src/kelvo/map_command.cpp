// kelvo map: the coverage map of one assessment day.
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
  std::string day;
  bool by_kind = false;
};

std::string report(const MapArgs& m, const std::string& day, const Inputs& in, const Assessment& a,
                   const std::string& path) {
  std::string text = "Effective coverage of " + in.domain.name() + " " + m.run.param + " on " + day + " (" +
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

void run_map(const CLI::App& command, const MapArgs& m, Context& context) {
  refuse_positional_form(command, m.run, context, "cover_map", ".nc", true, true);
  check_assessment_options(m.run);
  require("--day", m.day);
  const OptionDate date = parse_assessment_date("--day", m.day);
  const CalendarDay day = calendar_day(date);
  const std::string path = output_path(m.run, "map", compact_day(day, date.has_time), ".nc");
  check_output("-o", path, false);
  const Inputs in = read_inputs(m.run, context);
  const float slot = assessment_slot(day);
  const std::string iso = iso_day(day, date.has_time);
  warn_about_time_slots(m.run, in, std::span<const float>(&slot, 1), iso, context);
  const Assessment a = assess(in.domain, in.observations, day_request(in, slot, m.by_kind, context));
  const KindContributions kinds = m.by_kind ? kind_contributions(in.domain, a, context.threads) : KindContributions{};
  io::MapContents contents = io::map_contents(in.domain, a, coverage_classes(in.domain, a), kinds);
  contents.source = "kelvo map: effective coverage of an ocean observing network";
  contents.kind_names = true;
  contents.calendar = io::kelvo_calendar;
  contents.platforms = in.observations.platforms;
  contents.obs_platform.reserve(in.observations.size());
  for (const ObservationRecord& r : in.observations.records) contents.obs_platform.push_back(r.platform);
  contents.attributes = attributes_of(m.run, in, iso, context);
  io::write_map_file(path, contents);
  context.console.write(m.run.quiet ? path + "\n" : report(m, iso, in, a, path));
}

}  // namespace

void add_map_command(CLI::App& app, Context& context) {
  auto m = std::make_shared<MapArgs>();
  CLI::App* cmd = app.add_subcommand("map", "the coverage map of one assessment day (NetCDF), with a per-layer table");
  add_assessment_options(*cmd, m->run, context, "the map file (default: <domain>_<param>_map_<YYYYMMDD>.nc here)");
  cmd->add_option("--day", m->day, "assessment day, YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC); required")
      ->type_name("DATE");
  cmd->add_flag("--by-kind", m->by_kind,
                "also each platform kind's coverage alone and without it (coverage_by_kind, coverage_without_kind)");
  set_help_footer(*cmd,
                  "  -o FILE, or <domain>_<param>_map_<YYYYMMDD>.nc in the current directory (CF-1.8 NetCDF:\n"
                  "  coverage(layer, lat, lon) 0 land, 1 water not covered, 2 water covered; per layer nwater,\n"
                  "  covered_points, effective_coverage; the observations; with --by-kind each kind's share).\n"
                  "  Written whole under a temporary name, then renamed.",
                  "  kelvo map --domain NsBs --scale-dir sample/BRINO_S --param salt --layers 1-5 \\\n"
                  "      --obs sample/metadata/NsBs_network_2004.lst --day 2004-01-01 --by-kind\n"
                  "  kelvo map --domain NsBs --param temp --obs argo.lst --obs insitu.lst --day 2004-01-15 -o jan15.nc");
  cmd->callback([m, cmd, &context] { run_map(*cmd, *m, context); });
}

}  // namespace kelvo::cli
