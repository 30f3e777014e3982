// Writing CF NetCDF files with the NetCDF C library: a file that records
// its first failure (every later step is then passed over), helpers for
// dimensions, variables and attributes, and the atomic write of a whole
// file through a temporary name.
#pragma once

#include <netcdf.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "kelvo_map/map_contents.hpp"

namespace kelvo {

// An open file and the first failure met while writing it; once a step has
// failed, every later step is passed over.
struct NcFile {
  int ncid = -1;
  int status = NC_NOERR;
  std::string failed_step;
};

inline bool check(NcFile& f, int status, std::string_view step) {
  if (f.status == NC_NOERR && status != NC_NOERR) {
    f.status = status;
    f.failed_step = step;
  }
  return f.status == NC_NOERR;
}

// A dimension of length 0 is created unlimited (netCDF-4 allows several).
inline int def_dim(NcFile& f, const char* name, std::size_t length) {
  int id = -1;
  if (f.status == NC_NOERR) check(f, nc_def_dim(f.ncid, name, length, &id), "nc_def_dim");
  return id;
}

inline int def_var(NcFile& f, const char* name, nc_type type, std::initializer_list<int> dims) {
  int id = -1;
  if (f.status != NC_NOERR) return id;
  const std::vector<int> ids(dims);
  check(f, nc_def_var(f.ncid, name, type, static_cast<int>(ids.size()), ids.data(), &id), "nc_def_var");
  return id;
}

inline void text_att(NcFile& f, int var, const char* name, std::string_view value) {
  if (f.status != NC_NOERR) return;
  check(f, nc_put_att_text(f.ncid, var, name, value.size(), value.data()), "nc_put_att_text");
}

inline void byte_att(NcFile& f, int var, const char* name, std::initializer_list<signed char> values) {
  if (f.status != NC_NOERR) return;
  const std::vector<signed char> v(values);
  check(f, nc_put_att_schar(f.ncid, var, name, NC_BYTE, v.size(), v.data()), "nc_put_att_schar");
}

inline void describe(NcFile& f, int var, std::string_view long_name, std::string_view units = {}) {
  text_att(f, var, "long_name", long_name);
  if (!units.empty()) text_att(f, var, "units", units);
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
  } else if constexpr (std::is_same_v<T, double>) {
    status = nc_put_vara_double(f.ncid, var, start.data(), count.data(), values.data());
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    status = nc_put_vara_int(f.ncid, var, start.data(), count.data(), values.data());
  } else {
    static_assert(std::is_same_v<T, std::int8_t>);
    status = nc_put_vara_schar(f.ncid, var, start.data(), count.data(),
                               reinterpret_cast<const signed char*>(values.data()));
  }
  check(f, status, "nc_put_vara " + std::string(name));
}

// The global attributes every file of the tool carries: the conventions,
// title, `source`, domain, parameter, the day (or period) under the name
// `day_attribute`, the files read and the history.
void define_globals(NcFile& f, const MapAttributes& a, std::string_view source, const char* day_attribute);

// lon(lon) and lat(lat) with their CF attributes; layer(layer) and levnum(layer).
void define_horizontal_axes(NcFile& f, int lon_dim, int lat_dim);
void define_layer_axes(NcFile& f, int layer_dim);
// obs_lat(obs) and obs_lon(obs), the positions of the kept observations.
void define_observation_positions(NcFile& f, int obs_dim);

// Writes the file at `path` through a temporary file beside it: `body`
// defines and fills it (on an open file in define mode); the file is closed,
// flushed to disk and renamed over `path` only when every step succeeded.
// False, with the failing step and the library's message, otherwise.
bool write_netcdf_file(const std::string& path, std::string& reason, const std::function<void(NcFile&)>& body);

}  // namespace kelvo
