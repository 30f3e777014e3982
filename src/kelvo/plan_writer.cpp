#include "kelvo/plan_writer.hpp"

#include "kelvo_map/netcdf_file.hpp"

namespace kelvo::cli {

namespace {

struct PlanDims {
  int layer = -1, obs = -1, pick = -1, lat = -1, lon = -1;
};

void define_globals(NcFile& f, const PlanFileContents& c) {
  const MapAttributes& a = c.attributes;
  text_att(f, NC_GLOBAL, "Conventions", "CF-1.8");
  text_att(f, NC_GLOBAL, "title", a.title);
  text_att(f, NC_GLOBAL, "source", "kelvo plan: critical observations and greedy placement of new platforms");
  text_att(f, NC_GLOBAL, "domain", a.domain);
  text_att(f, NC_GLOBAL, "parameter", a.parameter);
  text_att(f, NC_GLOBAL, "assessment_day", a.assessment_day);
  text_att(f, NC_GLOBAL, "grid_configuration_file", a.grid_configuration_file);
  text_att(f, NC_GLOBAL, "scale_directory", a.scale_directory);
  text_att(f, NC_GLOBAL, "metadata_file", a.metadata_file);
  text_att(f, NC_GLOBAL, "planned_kind", std::to_string(c.add_kind));
  text_att(f, NC_GLOBAL, "history", a.history);
}

void define_axes(NcFile& f, const PlanDims& d) {
  const int lon = def_var(f, "lon", NC_FLOAT, {d.lon});
  describe(f, lon, "longitude", "degrees_east");
  text_att(f, lon, "standard_name", "longitude");
  text_att(f, lon, "axis", "X");
  const int lat = def_var(f, "lat", NC_FLOAT, {d.lat});
  describe(f, lat, "latitude", "degrees_north");
  text_att(f, lat, "standard_name", "latitude");
  text_att(f, lat, "axis", "Y");
  describe(f, def_var(f, "layer", NC_INT, {d.layer}), "layer index (1 is the uppermost layer)");
  describe(f, def_var(f, "levnum", NC_INT, {d.layer}), "level number of the layer in the grid configuration");
  describe(f, def_var(f, "nwater", NC_INT, {d.layer}), "number of water points of the layer");
  describe(f, def_var(f, "covered_points_before", NC_INT, {d.layer}), "covered water points of the network");
  describe(f, def_var(f, "covered_points_after", NC_INT, {d.layer}),
           "covered water points of the network with the planned platforms");
}

void define_observations(NcFile& f, const PlanDims& d) {
  describe(f, def_var(f, "obs_line", NC_INT, {d.obs}), "line of the kept observation in the list (from 1)");
  define_observation_positions(f, d.obs);
  describe(f, def_var(f, "obs_kind", NC_INT, {d.obs}), "platform kind code");
  describe(f, def_var(f, "obs_unique_points", NC_INT, {d.obs, d.layer}),
           "water points of the layer covered by this observation and by no other");
  describe(f, def_var(f, "pick_lat", NC_FLOAT, {d.pick}), "latitude of the planned platform", "degrees_north");
  describe(f, def_var(f, "pick_lon", NC_FLOAT, {d.pick}), "longitude of the planned platform", "degrees_east");
  describe(f, def_var(f, "pick_new_points", NC_INT, {d.pick, d.layer}),
           "water points of the layer the planned platform newly covers, in the order picked");
  const int cov = def_var(f, "coverage", NC_BYTE, {d.layer, d.lat, d.lon});
  describe(f, cov, "coverage class of the grid point");
  byte_att(f, cov, "flag_values", {0, 1, 2, 3});
  text_att(f, cov, "flag_meanings", "land water_not_covered covered_by_network newly_covered_by_plan");
}

}  // namespace

bool write_plan_file(const std::string& path, const PlanFileContents& c, std::string& reason) {
  const DomainState& ds = *c.ds;
  const PlanResult& p = *c.plan;
  std::vector<std::int32_t> layer, levnum, nwater, lines, kinds;
  std::vector<float> olat, olon;
  for (std::int32_t l = 0; l < p.layers; ++l) {
    layer.push_back(p.k_first + l);
    levnum.push_back(ds.levnum(p.k_first + l));
    nwater.push_back(ds.Nwater(p.k_first + l));
  }
  for (std::size_t n = 0; n < ds.obs.size(); ++n) {
    lines.push_back(ds.obs_lines[n]);
    olat.push_back(ds.obs[n].lat);
    olon.push_back(ds.obs[n].lon);
    kinds.push_back(ds.obs[n].kind);
  }
  return write_netcdf_file(path, reason, [&](NcFile& f) {
    const std::size_t nl = layer.size(), no = lines.size(), np = c.pick_lat.size();
    const std::size_t ny = ds.lat.data.size(), nx = ds.lon.data.size();
    PlanDims d;
    d.layer = def_dim(f, "layer", nl);
    d.obs = def_dim(f, "obs", no);
    d.pick = def_dim(f, "pick", np);
    d.lat = def_dim(f, "lat", ny);
    d.lon = def_dim(f, "lon", nx);
    define_globals(f, c);
    define_axes(f, d);
    define_observations(f, d);
    if (f.status == NC_NOERR) check(f, nc_enddef(f.ncid), "nc_enddef");
    put(f, "lon", ds.lon.data, {nx});
    put(f, "lat", ds.lat.data, {ny});
    put(f, "layer", layer, {nl});
    put(f, "levnum", levnum, {nl});
    put(f, "nwater", nwater, {nl});
    put(f, "covered_points_before", p.covered_before, {nl});
    put(f, "covered_points_after", p.covered_after, {nl});
    put(f, "obs_line", lines, {no});
    put(f, "obs_lat", olat, {no});
    put(f, "obs_lon", olon, {no});
    put(f, "obs_kind", kinds, {no});
    put(f, "obs_unique_points", p.unique, {no, nl});
    put(f, "pick_lat", c.pick_lat, {np});
    put(f, "pick_lon", c.pick_lon, {np});
    put(f, "pick_new_points", p.pick_new, {np, nl});
    put(f, "coverage", p.classes, {nl, ny, nx});
  });
}

}  // namespace kelvo::cli
