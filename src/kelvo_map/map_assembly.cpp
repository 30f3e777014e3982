#include "kelvo_map/map_assembly.hpp"

#include <ctime>

#include "kelvo_mod/grid_cfg.hpp"
#include "textio/fields.hpp"

namespace kelvo {

namespace {

std::string utc_time(std::int64_t now) {
  const std::time_t t = static_cast<std::time_t>(now);
  std::tm tm{};
  if (gmtime_r(&t, &tm) == nullptr) return "unknown time";
  char buf[32];
  if (std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) return "unknown time";
  return buf;
}

std::string command_line(std::span<const std::string> args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line += ' ';
    line += a;
  }
  return line;
}

void add_layers(MapContents& m, const DomainState& ds) {
  for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) {
    m.layer.push_back(ilayer);
    m.levnum.push_back(ds.levnum(ilayer));
    m.nwater.push_back(ds.Nwater(ilayer));
    m.effective_coverage.push_back(ds.Kpct(ilayer));
  }
}

void add_observations(MapContents& m, const DomainState& ds) {
  for (const Observation& o : ds.obs) {
    m.obs_lat.push_back(o.lat);
    m.obs_lon.push_back(o.lon);
    m.obs_kind.push_back(o.kind);
    m.obs_layer.push_back(o.layer);
    m.obs_present.push_back(o.time != absent_time ? 1 : 0);
  }
}

}  // namespace

MapAttributes map_attributes(const DomainState& ds, std::span<const std::string> args, std::int64_t now,
                             std::string_view assessment_day) {
  MapAttributes a;
  a.domain = textio::trim_right(ds.domain);
  a.parameter = textio::trim_right(ds.param);
  a.title = "Effective coverage of the observing network, " + a.domain + " " + a.parameter + ", layers " +
            std::to_string(ds.level_start) + " to " + std::to_string(ds.level_end);
  a.assessment_day = assessment_day;
  a.grid_configuration_file = textio::trim_right(grid_cfg_file_name(ds.scale_dir, ds.domain));
  a.scale_directory = std::string(textio::trim_right(ds.scale_dir)) + a.domain + "_ASC/";
  a.metadata_file = textio::trim_right(ds.metadata_file);
  a.history = utc_time(now) + ": " + command_line(args);
  return a;
}

MapContents assemble_map(const DomainState& ds, CoverageClasses&& classes, const KindContributions& kinds) {
  MapContents m;
  m.lon = ds.lon.data;
  m.lat = ds.lat.data;
  // Day 1.0 of the tool's day numbers is 1 January 2001 at 00:00.
  m.time_days = ds.jdayaxis(1) - 1.0f;
  add_layers(m, ds);
  m.coverage = std::move(classes.classes);
  m.covered_points = std::move(classes.covered_points);
  add_observations(m, ds);
  m.kind = kinds.kinds;
  m.coverage_by_kind = kinds.by_kind;
  m.coverage_without_kind = kinds.without_kind;
  return m;
}

}  // namespace kelvo
