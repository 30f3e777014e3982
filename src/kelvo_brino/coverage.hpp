// Effective coverage: for every water point of every layer of the range,
// whether an eligible observation lies within decorrelation reach in
// distance and time, and the covered fraction of each layer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "kelvo_brino/coverage_weights.hpp"
#include "kelvo_mod/domain_state.hpp"

namespace kelvo {

// How the covered points of a layer are found. Both give the same decision
// for every point; the exhaustive form examines every observation for every
// point and is the reference the fast form is tested against.
enum class Evaluation { exhaustive, fast };

// Kilometres per degree of longitude of each grid row.
std::vector<float> row_km_per_degree(const DomainState& ds);

// True when observation n (1-based) counts for layer `ilayer`.
inline bool eligible(const DomainState& ds, std::int32_t n, std::int32_t ilayer) {
  const std::int32_t layer = ds.obs_layer(n);
  return layer < 0 || layer == ilayer;
}

// The observations (1-based, in list order) that count for `ilayer`.
std::vector<std::int32_t> eligible_observations(const DomainState& ds, std::int32_t nobs,
                                                std::int32_t ilayer);

// Position, scales and exponents of grid point (i, j) of `ilayer`.
PointScales point_scales(const DomainState& ds, std::int32_t i, std::int32_t j, std::int32_t ilayer,
                         float dxkm);

// Is grid point (i, j) of `ilayer` covered? Every one of the first `nobs`
// observations is examined in order.
bool point_covered_exhaustive(const DomainState& ds, std::int32_t nobs, std::int32_t i,
                              std::int32_t j, std::int32_t ilayer, float dxkm);

// Number of covered water points of a layer among the first `nobs`
// observations; with a non-empty `map` (nlon x nlat, i fastest) each water
// point's decision is stored there too (1 covered, 0 not).
std::int32_t count_covered(const DomainState& ds, std::int32_t nobs, std::int32_t ilayer,
                           std::span<const float> dxkm, Evaluation how,
                           std::span<std::uint8_t> map = {});

// The decision at every water point of the assessed layers, for maps:
// one nlon x nlat plane per layer of the range (i fastest), 1 where covered.
struct CoverageMaps {
  std::vector<std::uint8_t> covered;
  std::int32_t k_first = 1;
  std::int64_t plane_size = 0;
  std::span<std::uint8_t> layer(std::int32_t k) {
    return {covered.data() + plane_size * (k - k_first), static_cast<std::size_t>(plane_size)};
  }
};

// Assesses layers level_start..level_end: Kpct and two lines per layer;
// with `maps`, also each point's decision.
void assess_coverage(DomainState& ds, std::int32_t nobs_sel, std::int32_t level_start,
                     std::int32_t level_end, Evaluation how = Evaluation::fast,
                     CoverageMaps* maps = nullptr);

}  // namespace kelvo
