#include "kelvo_map/netcdf_file.hpp"

#include "textio/atomic_file.hpp"

namespace kelvo {

void define_globals(NcFile& f, const MapAttributes& a, std::string_view source, const char* day_attribute) {
  text_att(f, NC_GLOBAL, "Conventions", "CF-1.8");
  text_att(f, NC_GLOBAL, "title", a.title);
  text_att(f, NC_GLOBAL, "source", source);
  text_att(f, NC_GLOBAL, "domain", a.domain);
  text_att(f, NC_GLOBAL, "parameter", a.parameter);
  text_att(f, NC_GLOBAL, day_attribute, a.assessment_day);
  text_att(f, NC_GLOBAL, "grid_configuration_file", a.grid_configuration_file);
  text_att(f, NC_GLOBAL, "scale_directory", a.scale_directory);
  text_att(f, NC_GLOBAL, "metadata_file", a.metadata_file);
  text_att(f, NC_GLOBAL, "history", a.history);
  text_att(f, NC_GLOBAL, "comment",
           "A water point of a layer is covered when an eligible observation lies within its "
           "decorrelation reach in distance east-west, north-south and in time together.");
}

void define_horizontal_axes(NcFile& f, int lon_dim, int lat_dim) {
  const int lon = def_var(f, "lon", NC_FLOAT, {lon_dim});
  describe(f, lon, "longitude", "degrees_east");
  text_att(f, lon, "standard_name", "longitude");
  text_att(f, lon, "axis", "X");
  const int lat = def_var(f, "lat", NC_FLOAT, {lat_dim});
  describe(f, lat, "latitude", "degrees_north");
  text_att(f, lat, "standard_name", "latitude");
  text_att(f, lat, "axis", "Y");
}

void define_observation_positions(NcFile& f, int obs_dim) {
  const int lat = def_var(f, "obs_lat", NC_FLOAT, {obs_dim});
  describe(f, lat, "latitude of the observation", "degrees_north");
  text_att(f, lat, "standard_name", "latitude");
  const int lon = def_var(f, "obs_lon", NC_FLOAT, {obs_dim});
  describe(f, lon, "longitude of the observation", "degrees_east");
  text_att(f, lon, "standard_name", "longitude");
}

void define_layer_axes(NcFile& f, int layer_dim) {
  describe(f, def_var(f, "layer", NC_INT, {layer_dim}), "layer index (1 is the uppermost layer)");
  describe(f, def_var(f, "levnum", NC_INT, {layer_dim}), "level number of the layer in the grid configuration");
}

bool write_netcdf_file(const std::string& path, std::string& reason, const std::function<void(NcFile&)>& body) {
  // The library writes the file by its name, over the named temporary file
  // that AtomicFile created for us. An anonymous file cannot serve: the
  // library resolves its /proc/self/fd path as a symbolic link and fails on
  // the target, a file without a name; and a file the library builds in
  // memory has its variables in another order.
  textio::AtomicFile file;
  if (!file.create(path, reason, textio::AtomicFile::Naming::named)) {
    reason = "create: " + reason;
    return false;
  }
  file.close_descriptor();
  NcFile f;
  if (!check(f, nc_create(file.temp_path().c_str(), NC_NETCDF4 | NC_CLOBBER, &f.ncid), "nc_create")) {
    reason = f.failed_step + ": " + nc_strerror(f.status);
    return false;
  }
  body(f);
  check(f, nc_close(f.ncid), "nc_close");
  if (f.status != NC_NOERR) {
    reason = f.failed_step + ": " + nc_strerror(f.status);
    return false;
  }
  return file.commit(reason);
}

}  // namespace kelvo
