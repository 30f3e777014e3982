#include "core/domain.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/error.hpp"

namespace kelvo {

namespace {

[[noreturn]] void misfit(const std::string& what) { throw Error(ErrorCode::bad_request, "domain", what); }

// Marks the water points of a layer in `water` and returns their number.
std::int32_t mark_water(const DomainLayer& l, std::span<std::int32_t> water) {
  std::int32_t count = 0;
  for (std::size_t p = 0; p < water.size(); ++p) {
    if (!is_no_value(l.sx[p]) && !is_no_value(l.sy[p]) && !is_no_value(l.st[p])) {
      water[p] = 1;
      ++count;
    }
  }
  return count;
}

void build_axis(std::vector<float>& axis, std::int32_t n, float step, float edge) {
  axis.resize(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    const float offset = static_cast<float>(i) * step;
    axis[static_cast<std::size_t>(i)] = offset + edge;
  }
}

}  // namespace

bool valid_grid_sizes(std::int32_t nlon, std::int32_t nlat, std::int32_t nz) {
  return nlon >= 1 && nlat >= 1 && nz >= 1 && nz <= max_layers;
}

void check_layer_range(const Grid& grid, std::int32_t first, std::int32_t last) {
  if (first >= 1 && last <= grid.nz) return;
  Error e(ErrorCode::bad_layers, "check_layer_range",
          "layers " + std::to_string(first) + " to " + std::to_string(last) + ": outside the grid's layers 1 to " +
              std::to_string(grid.nz));
  e.items = {std::int64_t{first}, std::int64_t{last}, std::int64_t{grid.nz}};
  throw e;
}

bool spans_full_circle(std::int32_t nlon, float dlon) {
  // 360 degrees less a millionth: a step rounded to a float, such as
  // 1/12 degree, may fall short of 360 by that much over the axis.
  return static_cast<double>(nlon) * std::fabs(static_cast<double>(dlon)) >= 360.0 * (1.0 - 1e-6);
}

void build_axes(Grid& g) {
  build_axis(g.lon, g.nlon, g.dlon, g.west);
  build_axis(g.lat, g.nlat, g.dlat, g.south);
}

Domain Domain::build(std::string name, std::string param, Grid grid, ScaleFields scales) {
  if (!valid_grid_sizes(grid.nlon, grid.nlat, grid.nz)) misfit("grid sizes outside their range");
  const auto size_of = [](std::int32_t n) { return static_cast<std::size_t>(n); };
  if (grid.lon.size() != size_of(grid.nlon) || grid.lat.size() != size_of(grid.nlat) ||
      grid.levnum.size() != size_of(grid.nz)) {
    misfit("grid axes of other sizes than the grid's");
  }
  if (scales.exponents.size() != size_of(grid.nz)) misfit("not one set of exponents per layer");
  if (grid.depth.empty()) grid.depth.assign(size_of(grid.nz), std::nanf(""));
  if (grid.depth.size() != size_of(grid.nz)) misfit("not one depth per layer");
  const bool inside = scales.layers == 0 || (scales.layers > 0 && scales.first_layer >= 1 &&
                                             scales.first_layer + scales.layers - 1 <= grid.nz);
  if (!inside) misfit("layers outside the grid's layers");
  const std::int64_t plane = grid.plane_size();
  if ((scales.layers > 0 && scales.plane_size != plane) ||
      scales.values.size() != static_cast<std::size_t>(plane * 3 * scales.layers)) {
    misfit("scale planes not of the grid's size");
  }
  Domain d;
  d.name_ = std::move(name);
  d.param_ = std::move(param);
  d.scales_ = std::move(scales);
  const ScaleFields& s = d.scales_;
  allocate(d.water_, element_count({plane, s.layers}), std::int32_t{0}, "count_water_points", "water_mask");
  for (std::int32_t n = 0; n < s.layers; ++n) {
    DomainLayer l;
    l.number = s.first_layer + n;
    l.sx = s.plane(l.number, 0);
    l.sy = s.plane(l.number, 1);
    l.st = s.plane(l.number, 2);
    const std::span<std::int32_t> water(d.water_.data() + plane * n, static_cast<std::size_t>(plane));
    l.nwater = mark_water(l, water);
    l.water = water;
    d.layers_.push_back(l);
  }
  d.dxkm_ = row_km_per_degree(grid.lat);
  d.grid_ = std::move(grid);
  return d;
}

const DomainLayer& Domain::layer(std::int32_t k) const {
  if (!has_layer(k)) misfit("layer " + std::to_string(k) + " has no scales in this domain");
  return layers_[static_cast<std::size_t>(k - first_layer())];
}

void copy_planes(const DomainLayer& layer, LayerPlanes planes) {
  std::copy(layer.sx.begin(), layer.sx.end(), planes.sx.begin());
  std::copy(layer.sy.begin(), layer.sy.end(), planes.sy.begin());
  std::copy(layer.st.begin(), layer.st.end(), planes.st.begin());
}

LayerFields Domain::fields(std::int32_t k) const {
  const DomainLayer& l = layer(k);
  const Exponents& e = exponents(k);
  return LayerFields{k, l.sx, l.sy, l.st, l.water, e.px, e.py, e.pt};
}

}  // namespace kelvo
