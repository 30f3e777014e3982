#include "kelvo_mod/coverage_engine.hpp"

#include "kelvo_mod/coverage_weights.hpp"

namespace kelvo {

std::vector<float> row_km_per_degree(std::span<const float> lat) {
  std::vector<float> dxkm(lat.size());
  for (std::size_t j = 0; j < lat.size(); ++j) dxkm[j] = km_per_degree_lon(lat[j]);
  return dxkm;
}

PointScales point_scales(const GridAxes& grid, const LayerFields& layer, std::int64_t i, std::int64_t j) {
  const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
  return PointScales{grid.lon[static_cast<std::size_t>(i)], grid.lat[static_cast<std::size_t>(j)],
                     grid.dxkm[static_cast<std::size_t>(j)], layer.sx[q], layer.sy[q], layer.st[q],
                     layer.px, layer.py, layer.pt};
}

bool point_covered_exhaustive(const GridAxes& grid, const LayerFields& layer, std::span<const Observation> obs,
                              float slot, std::int64_t i, std::int64_t j) {
  const PointScales p = point_scales(grid, layer, i, j);
  bool covered = false;
  for (const Observation& o : obs) {
    if (!counts_for(o, layer.ilayer)) continue;
    const float dt = time_distance(slot, &o.time, 1);
    if (observation_covers(p, o.lat, o.lon, dt)) covered = true;
  }
  return covered;
}

namespace {

bool examined(const LayerFields& layer, std::span<const std::uint8_t> among, std::size_t q) {
  return layer.water[q] == 1 && (among.empty() || among[q] == 1);
}

std::int32_t count_covered_exhaustive(const GridAxes& grid, const LayerFields& layer,
                                      std::span<const Observation> obs, float slot, const CountRequest& r) {
  std::int32_t ksum = 0;
  for (std::int64_t j = 0; j < grid.nlat(); ++j) {
    for (std::int64_t i = 0; i < grid.nlon(); ++i) {
      const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
      if (!examined(layer, r.among, q)) continue;
      const bool covered = point_covered_exhaustive(grid, layer, obs, slot, i, j);
      if (covered) ++ksum;
      if (!r.decisions.empty()) r.decisions[q] = covered ? 1 : 0;
    }
  }
  return ksum;
}

std::vector<Observation> eligible_observations(std::span<const Observation> obs, std::int32_t ilayer) {
  std::vector<Observation> eligible;
  for (const Observation& o : obs) {
    if (counts_for(o, ilayer)) eligible.push_back(o);
  }
  return eligible;
}

}  // namespace

std::int32_t count_covered(const GridAxes& grid, const LayerFields& layer, std::span<const Observation> obs,
                           float slot, const CountRequest& request) {
  if (request.how == Evaluation::exhaustive) return count_covered_exhaustive(grid, layer, obs, slot, request);
  const std::vector<Observation> eligible = eligible_observations(obs, layer.ilayer);
  return count_covered_fast(grid, layer, eligible, slot, request.among, request.decisions, request.tuning);
}

std::vector<LayerCoverage> assess(const CoverageInputs& inputs, Evaluation how, bool keep_decisions) {
  std::vector<LayerCoverage> result;
  result.reserve(inputs.layers.size());
  for (const LayerFields& layer : inputs.layers) {
    LayerCoverage c;
    c.ilayer = layer.ilayer;
    CountRequest request;
    request.how = how;
    if (keep_decisions) {
      c.decisions.assign(static_cast<std::size_t>(inputs.grid.plane_size()), 0);
      request.decisions = c.decisions;
    }
    c.covered = count_covered(inputs.grid, layer, inputs.observations, inputs.slot, request);
    result.push_back(std::move(c));
  }
  return result;
}

}  // namespace kelvo
