#include "io/plan_file.hpp"

#include "core/calendar.hpp"
#include "core/kinds.hpp"

namespace kelvo::io {

namespace {

struct PlanDims {
  int layer = -1, obs = -1, platform = -1, pick = -1, lat = -1, lon = -1;
};

void define_axes(const NcFile& f, const PlanDims& d, bool period) {
  define_horizontal_axes(f, d.lon, d.lat);
  define_layer_axes(f, d.layer);
  define_day(f);
  describe(f, def_var(f, "nwater", NC_INT, {d.layer}), "number of water points of the layer");
  const std::string every_day = period ? " on every day of the period" : "";
  describe(f, def_var(f, "covered_points_before", NC_INT, {d.layer}), "covered water points of the network" + every_day);
  describe(f, def_var(f, "covered_points_after", NC_INT, {d.layer}),
           "covered water points of the network with the planned platforms" + every_day);
  if (!period) return;
  describe(f, def_var(f, "covered_point_days_before", NC_INT64, {d.layer}),
           "covered point-days of the network: its covered water points summed over the days of the period");
  describe(f, def_var(f, "covered_point_days_after", NC_INT64, {d.layer}),
           "covered point-days of the network with the planned platforms");
}

// Each platform's records (those of one platform id; a record without one
// alone) and the points they cover and no other platform's do.
void define_platforms(const NcFile& f, const PlanDims& d, std::size_t id_width) {
  describe(f, define_strings(f, "platform_id", d.platform, id_width), "platform id (empty for a record without one)");
  describe(f, def_var(f, "platform_first_obs", NC_INT, {d.platform}),
           "first kept observation of the platform (index of obs, from 1)");
  describe(f, def_var(f, "platform_records", NC_INT, {d.platform}), "kept observations of the platform");
  const int kind = def_var(f, "platform_kind", NC_INT, {d.platform});
  describe(f, kind, "platform kind code of its first observation");
  kind_flags(f, kind);
  describe(f, def_var(f, "platform_unique_points", NC_INT, {d.platform, d.layer}),
           "water points of the layer covered by the platform's observations and by no other platform's");
}

void define_observations(const NcFile& f, const PlanDims& d, bool period) {
  describe(f, def_var(f, "obs_list", NC_INT, {d.obs}),
           "list of the kept observation, in the order of the files read (from 1)");
  describe(f, def_var(f, "obs_line", NC_INT, {d.obs}), "line of the kept observation in its list (from 1)");
  define_observation_positions(f, d.obs);
  const int kind = def_var(f, "obs_kind", NC_INT, {d.obs});
  describe(f, kind, "platform kind code");
  kind_flags(f, kind);
  const int present = def_var(f, "obs_present", NC_BYTE, {d.obs});
  describe(f, present, "observation in the time slot of the assessment day");
  byte_att(f, present, "flag_values", {0, 1});
  text_att(f, present, "flag_meanings", "absent present");
  if (!period) {
    describe(f, def_var(f, "obs_unique_points", NC_INT, {d.obs, d.layer}),
             "water points of the layer covered by this observation and by no other");
  }
  describe(f, def_var(f, "pick_lat", NC_FLOAT, {d.pick}), "latitude of the planned platform", "degrees_north");
  describe(f, def_var(f, "pick_lon", NC_FLOAT, {d.pick}), "longitude of the planned platform", "degrees_east");
  describe(f, def_var(f, "pick_new_points", NC_INT, {d.pick, d.layer}),
           "water points of the layer the planned platform newly covers, in the order picked");
  if (period) {
    describe(f, def_var(f, "pick_new_point_days", NC_INT64, {d.pick, d.layer}),
             "point-days of the layer the planned platform newly covers over the period, in the order picked");
  }
  const int cov = def_var(f, "coverage", NC_BYTE, {d.layer, d.lat, d.lon});
  describe(f, cov, "coverage class of the grid point");
  byte_att(f, cov, "flag_values", {0, 1, 2, 3});
  text_att(f, cov, "flag_meanings", "land water_not_covered water_covered water_covered_by_plan");
  text_att(f, cov, "coordinates", "time levnum");
}

}  // namespace

namespace {

// The platform variables' values, one per group of the kept observations.
struct PlatformValues {
  std::vector<std::string> ids;
  std::vector<std::int32_t> first_obs, records, kinds;
};

PlatformValues platform_values(const PlanFileContents& c) {
  PlatformValues v;
  if (c.platforms_of == nullptr) return v;
  const PlatformGroups& g = *c.platforms_of;
  for (std::size_t k = 0; k < g.size(); ++k) {
    const ObservationRecord& r = c.observations[g.first[k]];
    v.ids.push_back(r.platform < c.platforms.size() ? c.platforms[r.platform] : std::string());
    v.first_obs.push_back(static_cast<std::int32_t>(g.first[k]) + 1);
    v.records.push_back(g.records[k]);
    v.kinds.push_back(r.kind);
  }
  return v;
}

}  // namespace

void write_plan_file(const std::string& path, const PlanFileContents& c, const std::function<void()>& before_rename) {
  write_netcdf_file(path, [&](const NcFile& f) { fill_plan_file(f, c); }, before_rename);
}

void fill_plan_file(const NcFile& f, const PlanFileContents& c) {
  const Domain& domain = *c.domain;
  const PlanResult& p = *c.plan;
  const bool period = !c.period_first.empty();
  const bool with_platforms = !period && c.platforms_of != nullptr;
  const PlatformValues platforms = platform_values(c);
  std::vector<std::int32_t> layer, levnum, nwater, lists, lines, kinds;
  std::vector<std::int8_t> present;
  std::vector<std::string> platform_ids;
  std::vector<float> olat, olon;
  for (std::int32_t l = 0; l < p.layers; ++l) {
    layer.push_back(p.k_first + l);
    levnum.push_back(domain.grid().level_number(p.k_first + l));
    nwater.push_back(domain.nwater(p.k_first + l));
  }
  for (const ObservationRecord& r : c.observations) {
    lists.push_back(static_cast<std::int32_t>(r.source) + 1);
    lines.push_back(static_cast<std::int32_t>(r.line));
    present.push_back(time_at_slot(r.time, c.slot) != absent_time ? 1 : 0);
    platform_ids.push_back(r.platform < c.platforms.size() ? c.platforms[r.platform] : std::string());
    olat.push_back(r.lat);
    olon.push_back(r.lon);
    kinds.push_back(r.kind);
  }
  const std::vector<float>& lon = domain.grid().lon;
  const std::vector<float>& lat = domain.grid().lat;
  {
    const std::size_t nl = layer.size(), no = lines.size(), np = c.pick_lat.size();
    const std::size_t ng = platforms.ids.size();
    const std::size_t ny = lat.size(), nx = lon.size();
    PlanDims d;
    d.layer = def_dim(f, "layer", nl);
    d.obs = def_dim(f, "obs", no);
    if (with_platforms) d.platform = def_dim(f, "platform", ng);
    d.pick = def_dim(f, "pick", np);
    d.lat = def_dim(f, "lat", ny);
    d.lon = def_dim(f, "lon", nx);
    define_globals(f, c.attributes,
                   period ? "kelvo plan: greedy placement of fixed platforms over a period"
                          : "kelvo plan: critical observations and greedy placement of new platforms",
                   period ? "assessment_period" : "assessment_day");
    text_att(f, NC_GLOBAL, "planned_kind", std::to_string(c.add_kind));
    text_att(f, NC_GLOBAL, "planned_kind_name", kind_name(c.add_kind));
    if (period) {
      text_att(f, NC_GLOBAL, "period_first_day", c.period_first);
      text_att(f, NC_GLOBAL, "period_last_day", c.period_last);
      text_att(f, NC_GLOBAL, "period_days", std::to_string(p.days));
    }
    if (!c.run_id.empty()) text_att(f, NC_GLOBAL, "run_id", c.run_id);
    define_axes(f, d, period);
    define_observations(f, d, period);
    define_observation_platforms(f, d.obs, widest(platform_ids));
    if (with_platforms) define_platforms(f, d, widest(platforms.ids));
    check(f, nc_enddef(f.ncid), "nc_enddef");
    put(f, "lon", lon, {nx});
    put(f, "lat", lat, {ny});
    put(f, "layer", layer, {nl});
    put(f, "levnum", levnum, {nl});
    put_day(f, days_since_2001(c.slot));
    put(f, "nwater", nwater, {nl});
    put(f, "covered_points_before", p.covered_before, {nl});
    put(f, "covered_points_after", p.covered_after, {nl});
    put(f, "obs_list", lists, {no});
    put(f, "obs_line", lines, {no});
    put(f, "obs_present", present, {no});
    put_strings(f, "obs_platform", platform_ids);
    put(f, "obs_lat", olat, {no});
    put(f, "obs_lon", olon, {no});
    put(f, "obs_kind", kinds, {no});
    if (!period) put(f, "obs_unique_points", p.unique, {no, nl});
    if (with_platforms) {
      put_strings(f, "platform_id", platforms.ids);
      put(f, "platform_first_obs", platforms.first_obs, {ng});
      put(f, "platform_records", platforms.records, {ng});
      put(f, "platform_kind", platforms.kinds, {ng});
      put(f, "platform_unique_points", p.group_unique, {ng, nl});
    }
    put(f, "pick_lat", c.pick_lat, {np});
    put(f, "pick_lon", c.pick_lon, {np});
    put(f, "pick_new_points", p.pick_new, {np, nl});
    if (period) {
      put(f, "covered_point_days_before", p.point_days_before, {nl});
      put(f, "covered_point_days_after", p.point_days_after, {nl});
      put(f, "pick_new_point_days", p.pick_gain, {np, nl});
    }
    put(f, "coverage", p.classes, {nl, ny, nx});
  }
}

}  // namespace kelvo::io
