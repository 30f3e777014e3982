// The fast evaluation of the coverage decision. It gives, for every water
// point, the same decision as examining every observation: an observation is
// passed over only where a bound proves its horizontal weight below the
// threshold, every observation that could decide is tested with the very
// same single-precision weights, and a point is settled by the first
// observation that covers it.
#pragma once

#include <cstdint>
#include <span>

namespace kelvo {

struct GridAxes;
struct LayerFields;
struct Observation;

struct FastTuning {
  // Relative safety margin on the reach: far more than the rounding of the
  // powers, products and exponentials can move a weight across the
  // threshold. Zero turns the safety margin off (tests only).
  double margin = 1e-4;
};

// The reach, in kilometres, beyond which exp(-(d^p * s)) is proved to be
// below the coverage threshold; +infinity where no bound is known.
double reach_km(float p, float s, const FastTuning& tuning);

// Number of covered water points of `layer` among the points where `among`
// is 1 (every point when empty), counting the observations `eligible` (each
// counts for the layer); with a non-empty `decisions`, each examined water
// point's decision too.
std::int32_t count_covered_fast(const GridAxes& grid, const LayerFields& layer,
                                std::span<const Observation> eligible, float slot,
                                std::span<const std::uint8_t> among, std::span<std::uint8_t> decisions,
                                const FastTuning& tuning);

}  // namespace kelvo
