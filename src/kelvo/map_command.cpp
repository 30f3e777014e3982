// kelvo map: the coverage map of one assessment day.
#include <span>
#include <string>
#include <vector>

#include "core/assess.hpp"
#include "core/calendar.hpp"
#include "core/contributions.hpp"
#include "core/error.hpp"
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

std::string report(const MapArgs& m, const std::string& day, const Inputs& in, std::span<const LayerResult> layers,
                   const std::string& path) {
  std::string text = "Effective coverage of " + in.domain.name() + " " + m.run.param + " on " + day + " (" +
                     std::to_string(in.observations.size()) + " observations kept)\n";
  text += " layer  level     water   covered  coverage %\n";
  for (const LayerResult& l : layers) {
    textio::put_int(text, l.layer, 6);
    textio::put_int(text, in.domain.grid().level_number(l.layer), 7);
    textio::put_int(text, l.nwater, 10);
    textio::put_int(text, l.covered, 10);
    textio::put_text(text, percent_text(l.coverage), 12);
    text += '\n';
  }
  return text + "Map written to " + path + "\n";
}

// Everything the map file holds but the layers' classes and values, which
// come as the layers are assessed.
io::MapContents map_frame(const MapArgs& m, const Inputs& in, const DayAssessor& day, const std::string& iso,
                          Context& context) {
  io::MapContents contents;
  contents.source = "kelvo map: effective coverage of an ocean observing network";
  contents.kind_names = true;
  contents.calendar = io::kelvo_calendar;
  contents.lon = in.domain.grid().lon;
  contents.lat = in.domain.grid().lat;
  contents.time_days = days_since_2001(day.request().slot);
  for (std::int32_t k = in.first; k <= in.last; ++k) {
    contents.layer.push_back(k);
    contents.levnum.push_back(in.domain.grid().level_number(k));
  }
  contents.obs_records = in.observations.records;
  contents.obs_slot = day.request().slot;
  contents.platforms = in.observations.platforms;
  if (m.by_kind) contents.kind = kinds_present(day.observations());
  const std::size_t nvalues = contents.kind.size() * contents.layer.size();
  contents.coverage_by_kind.assign(nvalues, 0.0f);
  contents.coverage_without_kind.assign(nvalues, 0.0f);
  contents.attributes = attributes_of(m.run, in, iso, context);
  return contents;
}

// Assesses layer k, read on its own, into the map's n-th layer: its classes
// in `classes`, its values and the kinds' shares in `contents`.
LayerResult map_layer(const MapArgs& m, const Domain& domain, DayAssessor& day, std::int32_t k, std::size_t n,
                      std::span<std::int8_t> classes, io::MapContents& contents, Context& context) {
  if (m.run.verbose) context.console.write(water_text(domain, k));
  Assessment a;
  a.slot = day.request().slot;
  a.first_layer = k;
  a.plane_size = domain.grid().plane_size();
  allocate(a.covered, static_cast<std::size_t>(a.plane_size), std::uint8_t{0}, "kelvo map", "coverage");
  a.kinds.assign(day.kinds().begin(), day.kinds().end());
  a.kind_alone.assign(a.kinds.size(), 0);
  a.kind_without.assign(a.kinds.size(), 0);
  a.layers.push_back(day.layer(domain, k, a.covered, a.kind_alone, a.kind_without));
  contents.nwater.push_back(a.layers[0].nwater);
  contents.effective_coverage.push_back(a.layers[0].coverage);
  contents.covered_points.push_back(layer_classes(domain.layer(k).water, a.covered, classes));
  if (m.by_kind) {
    const KindContributions kinds = kind_contributions(domain, a, day.observations(), context.threads);
    for (std::size_t i = 0; i < kinds.kinds.size(); ++i) {
      contents.coverage_by_kind[i * contents.layer.size() + n] = kinds.by_kind[i];
      contents.coverage_without_kind[i * contents.layer.size() + n] = kinds.without_kind[i];
    }
  }
  return a.layers[0];
}

void run_map(const CLI::App& command, const MapArgs& m, Context& context) {
  refuse_positional_form(command, m.run, context, "cover_map", ".nc", true, true);
  check_assessment_options(m.run);
  require("--day", m.day);
  const OptionDate date = parse_assessment_date("--day", m.day);
  const CalendarDay day = calendar_day(date);
  const std::string path = output_path(m.run, "map", compact_day(day, date.has_time), ".nc");
  check_output("-o", path, false);
  // The domain is read, assessed and written a layer at a time.
  const Inputs in = read_inputs(m.run, context, true);
  const float slot = assessment_slot(day);
  const std::string iso = iso_day(day, date.has_time);
  warn_about_time_slots(m.run, in, std::span<const float>(&slot, 1), iso, context);
  DayAssessor assessor(in.observations.records, day_request(in, slot, m.by_kind, context), in.domain.axes().wrap);
  io::MapContents contents = map_frame(m, in, assessor, iso, context);
  std::vector<LayerResult> layers;
  // A map's layer is assessed in about the time the next is read.
  LayerStream stream(in, context.threads, true);
  io::write_map_file_by_layer(path, contents, [&](std::size_t n, std::span<std::int8_t> classes) {
    const std::int32_t k = in.first + static_cast<std::int32_t>(n);
    layers.push_back(map_layer(m, stream.next(), assessor, k, n, classes, contents, context));
  });
  context.console.write(m.run.quiet ? path + "\n" : report(m, iso, in, layers, path));
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
