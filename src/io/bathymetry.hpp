// A bathymetry: any NetCDF grid of elevation or depth on longitude and
// latitude axes (GEBCO's elevation(lat, lon), GMT's z(y, x), ...), sampled
// onto a domain's grid.
//
// The variable is the one named, or else the first two-dimensional variable
// on the latitude and longitude dimensions. Its values are elevations
// (negative below sea level, as GEBCO and grdlandmask give them) unless its
// `positive` attribute is "down" or its name or standard name says depth,
// when they are depths (positive down); scale_factor and add_offset apply,
// and _FillValue or missing_value means no value.
//
// Sampling: each grid point takes the value of the nearest bathymetry node
// in longitude and in latitude apart (the lower index on a tie); on a
// bathymetry that spans 360 degrees longitudes are compared round the
// circle. A point outside the bathymetry's extent (by more than half a
// node spacing) has no value. The bathymetry is read one row at a time, only
// the rows nearest the grid's latitudes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/domain.hpp"

namespace kelvo::io {

struct BathymetrySample {
  std::vector<float> sea_depth;  // a plane of the grid: metres below sea level (negative on land); NaN: no value
  std::string variable;          // the variable read
  bool depth_positive_down = false;  // its values were depths
  std::int64_t outside = 0;      // grid points outside the bathymetry's extent
};

// Errors (operation "read_bathymetry"): cannot_open, bad_request (no
// longitude or latitude axis, no such variable, axes not monotonic).
BathymetrySample sample_bathymetry(const std::string& path, const std::string& variable, const Grid& grid);

}  // namespace kelvo::io
