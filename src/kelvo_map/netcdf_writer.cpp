#include "kelvo_map/netcdf_writer.hpp"

#include <netcdf.h>

#include <algorithm>
#include <initializer_list>
#include <string_view>
#include <type_traits>
#include <vector>

#include "textio/atomic_file.hpp"

namespace kelvo {

namespace {

// An open file and the first failure met while writing it; once a step has
// failed, every later step is passed over.
struct NcFile {
  int ncid = -1;
  int status = NC_NOERR;
  std::string failed_step;
};

bool check(NcFile& f, int status, std::string_view step) {
  if (f.status == NC_NOERR && status != NC_NOERR) {
    f.status = status;
    f.failed_step = step;
  }
  return f.status == NC_NOERR;
}

struct Dims {
  int lon = -1, lat = -1, layer = -1, obs = -1, kind = -1;
};

// A dimension of length 0 is created unlimited (netCDF-4 allows several).
int def_dim(NcFile& f, const char* name, std::size_t length) {
  int id = -1;
  if (f.status == NC_NOERR) check(f, nc_def_dim(f.ncid, name, length, &id), "nc_def_dim");
  return id;
}

int def_var(NcFile& f, const char* name, nc_type type, std::initializer_list<int> dims) {
  int id = -1;
  if (f.status != NC_NOERR) return id;
  const std::vector<int> ids(dims);
  check(f, nc_def_var(f.ncid, name, type, static_cast<int>(ids.size()), ids.data(), &id), "nc_def_var");
  return id;
}

void text_att(NcFile& f, int var, const char* name, std::string_view value) {
  if (f.status != NC_NOERR) return;
  check(f, nc_put_att_text(f.ncid, var, name, value.size(), value.data()), "nc_put_att_text");
}

void byte_att(NcFile& f, int var, const char* name, std::initializer_list<signed char> values) {
  if (f.status != NC_NOERR) return;
  const std::vector<signed char> v(values);
  check(f, nc_put_att_schar(f.ncid, var, name, NC_BYTE, v.size(), v.data()), "nc_put_att_schar");
}

void describe(NcFile& f, int var, std::string_view long_name, std::string_view units = {}) {
  text_att(f, var, "long_name", long_name);
  if (!units.empty()) text_att(f, var, "units", units);
}

void define_globals(NcFile& f, const MapAttributes& a) {
  text_att(f, NC_GLOBAL, "Conventions", "CF-1.8");
  text_att(f, NC_GLOBAL, "title", a.title);
  text_att(f, NC_GLOBAL, "source", "kelvo_map: effective coverage of an ocean observing network");
  text_att(f, NC_GLOBAL, "domain", a.domain);
  text_att(f, NC_GLOBAL, "parameter", a.parameter);
  text_att(f, NC_GLOBAL, "assessment_day", a.assessment_day);
  text_att(f, NC_GLOBAL, "grid_configuration_file", a.grid_configuration_file);
  text_att(f, NC_GLOBAL, "scale_directory", a.scale_directory);
  text_att(f, NC_GLOBAL, "metadata_file", a.metadata_file);
  text_att(f, NC_GLOBAL, "history", a.history);
  text_att(f, NC_GLOBAL, "comment",
           "A water point of a layer is covered when an eligible observation lies within its "
           "decorrelation reach in distance east-west, north-south and in time together.");
}

void define_grid(NcFile& f, const Dims& d) {
  const int lon = def_var(f, "lon", NC_FLOAT, {d.lon});
  describe(f, lon, "longitude", "degrees_east");
  text_att(f, lon, "standard_name", "longitude");
  text_att(f, lon, "axis", "X");
  const int lat = def_var(f, "lat", NC_FLOAT, {d.lat});
  describe(f, lat, "latitude", "degrees_north");
  text_att(f, lat, "standard_name", "latitude");
  text_att(f, lat, "axis", "Y");
  const int layer = def_var(f, "layer", NC_INT, {d.layer});
  describe(f, layer, "layer index (1 is the uppermost layer)");
  const int levnum = def_var(f, "levnum", NC_INT, {d.layer});
  describe(f, levnum, "level number of the layer in the grid configuration");
  const int time = def_var(f, "time", NC_FLOAT, {});
  describe(f, time, "assessment day", "days since 2001-01-01 00:00:00");
  text_att(f, time, "standard_name", "time");
  text_att(f, time, "calendar", "standard");
  text_att(f, time, "axis", "T");
}

void define_coverage(NcFile& f, const Dims& d, const MapContents& m) {
  const int cov = def_var(f, "coverage", NC_BYTE, {d.layer, d.lat, d.lon});
  describe(f, cov, "coverage class of the grid point");
  byte_att(f, cov, "flag_values", {0, 1, 2});
  text_att(f, cov, "flag_meanings", "land water_not_covered water_covered");
  text_att(f, cov, "coordinates", "time levnum");
  if (f.status == NC_NOERR) {
    const std::size_t chunks[3] = {1, std::max<std::size_t>(m.lat.size(), 1),
                                   std::max<std::size_t>(m.lon.size(), 1)};
    check(f, nc_def_var_chunking(f.ncid, cov, NC_CHUNKED, chunks), "nc_def_var_chunking");
    check(f, nc_def_var_deflate(f.ncid, cov, 0, 1, 4), "nc_def_var_deflate");
  }
  describe(f, def_var(f, "nwater", NC_INT, {d.layer}), "number of water points of the layer");
  describe(f, def_var(f, "covered_points", NC_INT, {d.layer}),
           "number of covered water points of the layer");
  describe(f, def_var(f, "effective_coverage", NC_FLOAT, {d.layer}),
           "effective coverage: covered share of the water points of the layer", "1");
}

void define_observations(NcFile& f, const Dims& d) {
  const int lat = def_var(f, "obs_lat", NC_FLOAT, {d.obs});
  describe(f, lat, "latitude of the observation", "degrees_north");
  text_att(f, lat, "standard_name", "latitude");
  const int lon = def_var(f, "obs_lon", NC_FLOAT, {d.obs});
  describe(f, lon, "longitude of the observation", "degrees_east");
  text_att(f, lon, "standard_name", "longitude");
  const int kind = def_var(f, "obs_kind", NC_INT, {d.obs});
  describe(f, kind, "platform kind code of the observation");
  text_att(f, kind, "coordinates", "obs_lat obs_lon");
  const int layer = def_var(f, "obs_layer", NC_INT, {d.obs});
  describe(f, layer, "layer the observation counts for");
  text_att(f, layer, "comment", "-9: every layer; 0: no layer; n > 0: layer n only");
  text_att(f, layer, "coordinates", "obs_lat obs_lon");
  const int present = def_var(f, "obs_present", NC_BYTE, {d.obs});
  describe(f, present, "observation in the time slot of the assessment day");
  byte_att(f, present, "flag_values", {0, 1});
  text_att(f, present, "flag_meanings", "absent present");
  text_att(f, present, "coordinates", "obs_lat obs_lon");
}

void define_kinds(NcFile& f, const Dims& d) {
  describe(f, def_var(f, "kind", NC_INT, {d.kind}), "platform kind code");
  const int by = def_var(f, "coverage_by_kind", NC_FLOAT, {d.kind, d.layer});
  describe(f, by, "effective coverage with the observations of this kind alone", "1");
  text_att(f, by, "coordinates", "levnum");
  const int without = def_var(f, "coverage_without_kind", NC_FLOAT, {d.kind, d.layer});
  describe(f, without, "effective coverage with the observations of every kind but this one", "1");
  text_att(f, without, "coordinates", "levnum");
}

// Whole variable `name`, whose extents are `counts`; nothing to write when
// any extent is 0.
template <typename T>
void put(NcFile& f, const char* name, const std::vector<T>& values, std::initializer_list<std::size_t> counts) {
  if (f.status != NC_NOERR) return;
  int var = -1;
  if (!check(f, nc_inq_varid(f.ncid, name, &var), "nc_inq_varid")) return;
  const std::vector<std::size_t> count(counts);
  std::size_t total = 1;
  for (std::size_t c : count) total *= c;
  if (total == 0) return;
  if (values.size() != total) {
    check(f, NC_EEDGE, "put " + std::string(name));
    return;
  }
  const std::vector<std::size_t> start(count.size(), 0);
  int status = NC_NOERR;
  if constexpr (std::is_same_v<T, float>) {
    status = nc_put_vara_float(f.ncid, var, start.data(), count.data(), values.data());
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    status = nc_put_vara_int(f.ncid, var, start.data(), count.data(), values.data());
  } else {
    static_assert(std::is_same_v<T, std::int8_t>);
    status = nc_put_vara_schar(f.ncid, var, start.data(), count.data(),
                               reinterpret_cast<const signed char*>(values.data()));
  }
  check(f, status, "nc_put_vara " + std::string(name));
}

void put_all(NcFile& f, const MapContents& m) {
  const std::size_t nlon = m.lon.size(), nlat = m.lat.size(), nlayer = m.layer.size();
  const std::size_t nobs = m.obs_lat.size(), nkind = m.kind.size();
  put(f, "lon", m.lon, {nlon});
  put(f, "lat", m.lat, {nlat});
  put(f, "layer", m.layer, {nlayer});
  put(f, "levnum", m.levnum, {nlayer});
  if (f.status == NC_NOERR) {
    int var = -1;
    if (check(f, nc_inq_varid(f.ncid, "time", &var), "nc_inq_varid")) {
      check(f, nc_put_var_float(f.ncid, var, &m.time_days), "nc_put_var time");
    }
  }
  put(f, "coverage", m.coverage, {nlayer, nlat, nlon});
  put(f, "nwater", m.nwater, {nlayer});
  put(f, "covered_points", m.covered_points, {nlayer});
  put(f, "effective_coverage", m.effective_coverage, {nlayer});
  put(f, "obs_lat", m.obs_lat, {nobs});
  put(f, "obs_lon", m.obs_lon, {nobs});
  put(f, "obs_kind", m.obs_kind, {nobs});
  put(f, "obs_layer", m.obs_layer, {nobs});
  put(f, "obs_present", m.obs_present, {nobs});
  put(f, "kind", m.kind, {nkind});
  put(f, "coverage_by_kind", m.coverage_by_kind, {nkind, nlayer});
  put(f, "coverage_without_kind", m.coverage_without_kind, {nkind, nlayer});
}

}  // namespace

bool write_map_file(const std::string& path, const MapContents& m, std::string& reason) {
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
  Dims d;
  d.lon = def_dim(f, "lon", m.lon.size());
  d.lat = def_dim(f, "lat", m.lat.size());
  d.layer = def_dim(f, "layer", m.layer.size());
  d.obs = def_dim(f, "obs", m.obs_lat.size());
  d.kind = def_dim(f, "kind", m.kind.size());
  define_globals(f, m.attributes);
  define_grid(f, d);
  define_coverage(f, d, m);
  define_observations(f, d);
  define_kinds(f, d);
  if (f.status == NC_NOERR) check(f, nc_enddef(f.ncid), "nc_enddef");
  put_all(f, m);
  check(f, nc_close(f.ncid), "nc_close");
  if (f.status != NC_NOERR) {
    reason = f.failed_step + ": " + nc_strerror(f.status);
    return false;
  }
  return file.commit(reason);
}

}  // namespace kelvo
