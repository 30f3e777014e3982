// The fast evaluation of the coverage decision. It gives, for every water
// point, the same decision as examining every observation: an observation is
// passed over only where a bound proves its horizontal weight below the
// threshold, every observation that could decide is tested with the very
// same single-precision weights, and a point is settled by the first
// observation that covers it.
#pragma once

#include <cstdint>
#include <span>

#include "kelvo_mod/domain_state.hpp"

namespace kelvo {

struct FastTuning {
  // Relative safety margin on the reach: far more than the rounding of the
  // powers, products and exponentials can move a weight across the
  // threshold. Zero turns the safety margin off (tests only).
  double margin = 1e-4;
};

// The reach, in kilometres, beyond which exp(-(d^p * s)) is proved to be
// below the coverage threshold; +infinity where no bound is known.
double reach_km(float p, float s, const FastTuning& tuning);

// Number of covered water points of `ilayer` counting only the observations
// `ids` (1-based); with a non-empty `map`, each water point's decision too.
std::int32_t count_covered_fast(const DomainState& ds, std::int32_t ilayer,
                                std::span<const float> dxkm, std::span<const std::int32_t> ids,
                                std::span<std::uint8_t> map, const FastTuning& tuning = {});

// The same, counting only the water points where `among` (nlon x nlat) is 1;
// `map` is written at those points alone.
std::int32_t count_covered_fast_among(const DomainState& ds, std::int32_t ilayer,
                                      std::span<const float> dxkm, std::span<const std::int32_t> ids,
                                      std::span<const std::uint8_t> among, std::span<std::uint8_t> map,
                                      const FastTuning& tuning = {});

}  // namespace kelvo
