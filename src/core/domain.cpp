#include "core/domain.hpp"

#include <string>

#include "core/error.hpp"

namespace kelvo {

namespace {

[[noreturn]] void misfit(const std::string& what) { throw Error(ErrorCode::bad_request, "domain", what); }

// Marks the water points of a layer and returns their number.
std::int32_t mark_water(DomainLayer& l) {
  l.water.assign(l.sx.size(), 0);
  std::int32_t count = 0;
  for (std::size_t p = 0; p < l.sx.size(); ++p) {
    if (!is_no_value(l.sx[p]) && !is_no_value(l.sy[p]) && !is_no_value(l.st[p])) {
      l.water[p] = 1;
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

void build_axes(Grid& g) {
  build_axis(g.lon, g.nlon, g.dlon, g.west);
  build_axis(g.lat, g.nlat, g.dlat, g.south);
}

Domain Domain::build(std::string name, std::string param, Grid grid, std::vector<LayerScales> scales,
                     std::vector<Exponents> exponents) {
  if (!valid_grid_sizes(grid.nlon, grid.nlat, grid.nz)) misfit("grid sizes outside their range");
  const auto size_of = [](std::int32_t n) { return static_cast<std::size_t>(n); };
  if (grid.lon.size() != size_of(grid.nlon) || grid.lat.size() != size_of(grid.nlat) ||
      grid.levnum.size() != size_of(grid.nz)) {
    misfit("grid axes of other sizes than the grid's");
  }
  if (exponents.size() != static_cast<std::size_t>(grid.nz)) misfit("not one set of exponents per layer");
  Domain d;
  d.name_ = std::move(name);
  d.param_ = std::move(param);
  d.first_ = scales.empty() ? 1 : scales.front().layer;
  const std::size_t plane = static_cast<std::size_t>(grid.plane_size());
  for (std::size_t n = 0; n < scales.size(); ++n) {
    LayerScales& s = scales[n];
    if (s.layer != d.first_ + static_cast<std::int32_t>(n) || s.layer < 1 || s.layer > grid.nz) {
      misfit("layers not consecutive inside the grid's layers");
    }
    if (s.sx.size() != plane || s.sy.size() != plane || s.st.size() != plane) {
      misfit("a scale plane not of the grid's size");
    }
    DomainLayer l;
    l.number = s.layer;
    l.sx = std::move(s.sx);
    l.sy = std::move(s.sy);
    l.st = std::move(s.st);
    l.nwater = mark_water(l);
    d.layers_.push_back(std::move(l));
  }
  d.exponents_ = std::move(exponents);
  d.dxkm_ = row_km_per_degree(grid.lat);
  d.grid_ = std::move(grid);
  return d;
}

const DomainLayer& Domain::layer(std::int32_t k) const {
  if (!has_layer(k)) misfit("layer " + std::to_string(k) + " has no scales in this domain");
  return layers_[static_cast<std::size_t>(k - first_)];
}

LayerFields Domain::fields(std::int32_t k) const {
  const DomainLayer& l = layer(k);
  const Exponents& e = exponents(k);
  return LayerFields{k, l.sx, l.sy, l.st, l.water, e.px, e.py, e.pt};
}

}  // namespace kelvo
