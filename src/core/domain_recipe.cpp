#include "core/domain_recipe.hpp"

#include <cmath>

#include "core/error.hpp"

namespace kelvo {

namespace {

[[noreturn]] void bad_grid(const std::string& what) { throw Error(ErrorCode::bad_request, "regular_grid", what); }

// The number of points from `first` to `last` by `step`, both ends
// included (a step that does not divide the span ends at the last point
// before `last`, to a millionth of a step).
std::int64_t points_between(double first, double last, double step) {
  return static_cast<std::int64_t>(std::floor((last - first) / step + 1e-6)) + 1;
}

}  // namespace

double ReachRule::at(std::int32_t layer, float lat) const {
  switch (form) {
    case Form::constant:
      return values.front();
    case Form::per_layer:
      return values[static_cast<std::size_t>(layer - 1)];
    case Form::rossby: {
      const double s = std::fabs(std::sin(static_cast<double>(lat) * M_PI / 180.0));
      const double r = s > 0.0 ? at_30 * 0.5 / s : cap;
      return std::min(r, cap);
    }
  }
  return values.front();
}

Grid regular_grid(double west, double east, double south, double north, double dlon, double dlat,
                  std::span<const float> depths) {
  if (!(dlon > 0.0) || !(dlat > 0.0)) bad_grid("--step: the steps must be positive");
  if (!(east > west) || east - west > 360.0) bad_grid("--region: east must lie east of west, at most 360 degrees on");
  if (!(north >= south) || south < -90.0 || north > 90.0) bad_grid("--region: south to north within -90 to 90");
  if (depths.empty()) bad_grid("--depths: no layer");
  Grid g;
  const bool whole_circle = east - west >= 360.0 - 1e-9;
  const std::int64_t nlon = whole_circle ? static_cast<std::int64_t>(std::llround(360.0 / dlon))
                                         : points_between(west, east, dlon);
  const std::int64_t nlat = points_between(south, north, dlat);
  if (nlon < 1 || nlat < 1 || nlon > (1 << 24) || nlat > (1 << 24) || depths.size() > max_layers) {
    bad_grid("--region, --step: a grid of " + std::to_string(nlon) + " x " + std::to_string(nlat) + " points");
  }
  g.nlon = static_cast<std::int32_t>(nlon);
  g.nlat = static_cast<std::int32_t>(nlat);
  g.nz = static_cast<std::int32_t>(depths.size());
  g.west = static_cast<float>(west);
  g.dlon = static_cast<float>(dlon);
  g.south = static_cast<float>(south);
  g.dlat = static_cast<float>(dlat);
  build_axes(g);
  g.east = g.lon.back();
  g.north = g.lat.back();
  g.periodic = spans_full_circle(g.nlon, g.dlon);
  for (std::int32_t k = 1; k <= g.nz; ++k) g.levnum.push_back(k);
  g.depth.assign(depths.begin(), depths.end());
  return g;
}

bool recipe_water(const DomainRecipe& r, std::int32_t layer, std::size_t q) {
  const float sea = r.sea_depth[q];
  return sea > r.grid.depth[static_cast<std::size_t>(layer - 1)];
}

void fill_recipe_layer(const DomainRecipe& r, std::int32_t layer, LayerPlanes planes) {
  const Grid& g = r.grid;
  const float p[3] = {r.exponents.px, r.exponents.py, r.exponents.pt};
  const std::span<float> out[3] = {planes.sx, planes.sy, planes.st};
  for (std::int32_t j = 0; j < g.nlat; ++j) {
    const float lat = g.lat[static_cast<std::size_t>(j)];
    float coefficient[3];
    for (int c = 0; c < 3; ++c) {
      const double reach = r.reach[static_cast<std::size_t>(c)].at(layer, lat);
      coefficient[c] = static_cast<float>(std::pow(reach, -static_cast<double>(p[c])));
    }
    for (std::int32_t i = 0; i < g.nlon; ++i) {
      const std::size_t q = static_cast<std::size_t>(i) + static_cast<std::size_t>(g.nlon) * static_cast<std::size_t>(j);
      const bool water = recipe_water(r, layer, q);
      for (int c = 0; c < 3; ++c) out[c][q] = water ? coefficient[c] : no_value;
    }
  }
}

std::vector<Exponents> recipe_exponents(const DomainRecipe& r) {
  return std::vector<Exponents>(static_cast<std::size_t>(r.grid.nz), r.exponents);
}

}  // namespace kelvo
