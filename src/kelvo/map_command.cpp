// kelvo map: the coverage map of kelvo_map for any assessment day.
#include <string>

#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "kelvo_map/map_run.hpp"
#include "kelvo_mod/parallel.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

struct MapArgs {
  AssessmentArgs run;
  std::string day = "2004-01-01";
};

void print_report(Context& context, const MapArgs& m, const CalendarDay& day, bool with_time, const DomainState& ds,
                  const CoverageMaps& maps, const std::string& path) {
  if (m.run.quiet) {
    context.console.write(path + "\n");
    return;
  }
  std::string text = "Effective coverage of " + m.run.domain + " " + m.run.param + " on " + iso_day(day, with_time) +
                     " (" + std::to_string(ds.obs.size()) + " observations kept)\n";
  text += " layer  level     water   covered  coverage %\n";
  for (std::int32_t k = ds.level_start; k <= ds.level_end; ++k) {
    std::int32_t covered = 0;
    for (std::uint8_t c : maps.layer(k)) covered += c;
    textio::put_int(text, k, 6);
    textio::put_int(text, ds.levnum(k), 7);
    textio::put_int(text, ds.Nwater(k), 10);
    textio::put_int(text, covered, 10);
    textio::put_text(text, percent_text(ds.Kpct(k)), 12);
    text += '\n';
  }
  text += "Map written to " + path + "\n";
  context.console.write(text);
}

void run_map(const MapArgs& m, Context& context, std::span<const std::string> command_line) {
  const OptionDate date = parse_option_date("--day", m.day);
  const CalendarDay day = calendar_day(date);
  CoverageMaps maps;
  maps.by_kind = true;
  run_assessment_of(m.run, day, &maps, context, [&](Reporter& out, DomainState& ds) {
    const std::string path = write_map(out, ds, maps, command_line, iso_day(day, date.has_time), thread_count_from_environment());
    out.console.out.clear();  // the legacy line naming the file: the report names it
    print_report(context, m, day, date.has_time, ds, maps, path);
  });
}

}  // namespace

void add_map_command(CLI::App& app, Context& context) {
  auto m = std::make_shared<MapArgs>();
  CLI::App* cmd = app.add_subcommand("map", "write the coverage map (NetCDF) of one assessment day");
  add_assessment_arguments(*cmd, m->run, context);
  cmd->add_option("--day", m->day, "assessment day, YYYY-MM-DD or YYYY-MM-DDTHH:MM")->capture_default_str();
  cmd->callback([m, &context] { run_map(*m, context, context.command_line); });
}

}  // namespace kelvo::cli
