#include "io/bathymetry.hpp"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "core/error.hpp"
#include "io/netcdf.hpp"

namespace kelvo::io {

namespace {

// One axis of the bathymetry: its dimension and values.
struct Axis {
  int dim = -1;
  std::vector<double> values;
  bool whole_circle = false;  // a longitude axis that spans 360 degrees

  double step() const { return values.size() > 1 ? std::fabs(values[1] - values[0]) : 0.0; }
};

Axis find_axis(const NcInput& r, std::initializer_list<const char*> names, const char* what) {
  for (const char* name : names) {
    int dim = -1, var = -1;
    if (nc_inq_dimid(r.id(), name, &dim) != NC_NOERR || nc_inq_varid(r.id(), name, &var) != NC_NOERR) continue;
    std::size_t n = 0;
    r.check(nc_inq_dimlen(r.id(), dim, &n), name);
    Axis a;
    a.dim = dim;
    a.values.resize(n);
    r.check(nc_get_var_double(r.id(), var, a.values.data()), name);
    const bool ascending = std::is_sorted(a.values.begin(), a.values.end(), std::less_equal<>());
    const bool descending = std::is_sorted(a.values.begin(), a.values.end(), std::greater_equal<>());
    if (n == 0 || (n > 1 && !ascending && !descending)) {
      r.fail(ErrorCode::bad_request, std::string("its ") + what + " axis " + name + " is not monotonic");
    }
    return a;
  }
  r.fail(ErrorCode::bad_request, std::string("no ") + what + " axis (a coordinate variable lon, longitude or x; lat, latitude or y)");
}

// The variable: the one named, or the first of two dimensions (lat, lon).
int find_variable(const NcInput& r, const std::string& name, const Axis& lon, const Axis& lat) {
  int var = -1;
  if (!name.empty()) {
    if (nc_inq_varid(r.id(), name.c_str(), &var) != NC_NOERR) r.fail(ErrorCode::bad_request, "no variable " + name);
  } else {
    int nvars = 0;
    r.check(nc_inq_nvars(r.id(), &nvars), "nc_inq_nvars");
    for (int v = 0; v < nvars && var < 0; ++v) {
      int ndims = 0, dims[NC_MAX_VAR_DIMS];
      r.check(nc_inq_varndims(r.id(), v, &ndims), "nc_inq_varndims");
      if (ndims != 2) continue;
      r.check(nc_inq_vardimid(r.id(), v, dims), "nc_inq_vardimid");
      if (dims[0] == lat.dim && dims[1] == lon.dim) var = v;
    }
    if (var < 0) r.fail(ErrorCode::bad_request, "no variable on (latitude, longitude)");
  }
  int ndims = 0, dims[NC_MAX_VAR_DIMS];
  r.check(nc_inq_varndims(r.id(), var, &ndims), "nc_inq_varndims");
  r.check(nc_inq_vardimid(r.id(), var, dims), "nc_inq_vardimid");
  if (ndims != 2 || dims[0] != lat.dim || dims[1] != lon.dim) {
    r.fail(ErrorCode::bad_request, "the variable is not on (latitude, longitude)");
  }
  return var;
}

bool holds_depths(const NcInput& r, int var, const std::string& name) {
  std::string lower = name + " " + r.text_attribute(var, "standard_name");
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::string positive = r.text_attribute(var, "positive");
  if (positive == "down") return true;
  if (positive == "up") return false;
  return lower.find("depth") != std::string::npos;
}

// The index of the node of `a` nearest `v`, or none outside its extent
// (by more than half a step).
std::optional<std::size_t> nearest(const Axis& a, double v) {
  const std::vector<double>& x = a.values;
  const std::size_t n = x.size();
  const double half = a.step() / 2.0;
  const double lo = std::min(x.front(), x.back()), hi = std::max(x.front(), x.back());
  if (a.whole_circle) v = lo + std::fmod(std::fmod(v - lo + half, 360.0) + 360.0, 360.0) - half;
  if (!(v >= lo - half - 1e-9 && v <= hi + half + 1e-9)) {
    // Round the circle, the first node may be the nearest to a point past the last.
    if (!a.whole_circle) return std::nullopt;
  }
  const bool ascending = n < 2 || x[1] > x[0];
  const auto it = ascending ? std::lower_bound(x.begin(), x.end(), v)
                            : std::lower_bound(x.begin(), x.end(), v, std::greater<>());
  std::size_t i = static_cast<std::size_t>(it - x.begin());
  if (i == n) {
    i = n - 1;
    if (a.whole_circle && std::fabs(x.front() + 360.0 - v) < std::fabs(v - x.back())) i = 0;
    return i;
  }
  if (i > 0 && std::fabs(v - x[i - 1]) <= std::fabs(x[i] - v)) --i;
  return i;
}

}  // namespace

BathymetrySample sample_bathymetry(const std::string& path, const std::string& variable, const Grid& grid) {
  const NcInput r(path, "read_bathymetry", "--bathymetry " + path);
  Axis lon = find_axis(r, {"lon", "longitude", "x"}, "longitude");
  const Axis lat = find_axis(r, {"lat", "latitude", "y"}, "latitude");
  lon.whole_circle = lon.values.size() > 1 &&
                     std::fabs(lon.values.back() - lon.values.front()) + lon.step() >= 360.0 - 1e-6;
  const int var = find_variable(r, variable, lon, lat);
  BathymetrySample s;
  char name[NC_MAX_NAME + 1] = {};
  r.check(nc_inq_varname(r.id(), var, name), "nc_inq_varname");
  s.variable = name;
  s.depth_positive_down = holds_depths(r, var, s.variable);
  const double scale = r.number_attribute(var, "scale_factor").value_or(1.0);
  const double offset = r.number_attribute(var, "add_offset").value_or(0.0);
  const std::optional<double> fill = r.number_attribute(var, "_FillValue");
  const std::optional<double> missing = r.number_attribute(var, "missing_value");

  std::vector<std::optional<std::size_t>> column(static_cast<std::size_t>(grid.nlon));
  for (std::size_t i = 0; i < column.size(); ++i) column[i] = nearest(lon, grid.lon[i]);
  s.sea_depth.assign(static_cast<std::size_t>(grid.plane_size()), std::nanf(""));
  std::vector<double> row(lon.values.size());
  std::optional<std::size_t> row_read;
  for (std::size_t j = 0; j < static_cast<std::size_t>(grid.nlat); ++j) {
    const std::optional<std::size_t> jb = nearest(lat, grid.lat[j]);
    if (jb && jb != row_read) {
      const std::size_t start[2] = {*jb, 0}, count[2] = {1, row.size()};
      r.check(nc_get_vara_double(r.id(), var, start, count, row.data()), "reading " + s.variable);
      row_read = jb;
    }
    for (std::size_t i = 0; i < column.size(); ++i) {
      float& out = s.sea_depth[i + j * column.size()];
      if (!jb || !column[i]) {
        ++s.outside;
        continue;
      }
      const double raw = row[*column[i]];
      if ((fill && raw == *fill) || (missing && raw == *missing) || !std::isfinite(raw)) continue;
      const double value = raw * scale + offset;
      out = static_cast<float>(s.depth_positive_down ? value : -value);
    }
  }
  return s;
}

}  // namespace kelvo::io
