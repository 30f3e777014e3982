// The weights of the coverage decision, in single precision and in the one
// order of operations that every evaluation of the decision shares.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace kelvo {

inline constexpr float pi_f = 3.1415927f;
inline constexpr float one_over_180 = 1.0f / 180.0f;
inline constexpr float km_per_degree = 111.12f;
// Smallest weight that counts as covered: the float nearest exp(-1).
inline constexpr float coverage_threshold = 0.36787944117144233f;
inline constexpr float time_distance_start = FLT_MAX;

// Kilometres per degree of longitude at latitude `lat` (degrees).
inline float km_per_degree_lon(float lat) {
  const float radians = (pi_f * lat) * one_over_180;
  return std::cos(radians) * km_per_degree;
}

// One direction's weight exp(-(d^p * s)).
inline float direction_weight(float d, float p, float s) { return std::exp(-(std::pow(d, p) * s)); }

// The horizontal weight wx * wy; the meridional weight is formed first.
inline float horizontal_weight(float dx, float dy, float px, float py, float sx, float sy) {
  const float wy = direction_weight(dy, py, sy);
  const float wx = direction_weight(dx, px, sx);
  return wx * wy;
}

// True when a weight reaches the threshold; not-a-number never does.
inline bool reaches_threshold(float w) { return w >= coverage_threshold; }

// The place and exponents of one grid point of a layer.
struct PointScales {
  float lon, lat, dxkm;  // position and kilometres per degree of longitude of its row
  float sx, sy, st;      // scale entries
  float px, py, pt;      // the layer's exponents
};

// Time distance of an observation from the assessment slot: the smallest
// distance over its time entries, measured from the first slot.
inline float time_distance(float slot, const float* obs_times, std::int32_t ntimes) {
  float dt = time_distance_start;
  for (std::int32_t m = 0; m < ntimes; ++m) {
    const float d = std::fabs(slot - obs_times[m]);
    if (d < dt) dt = d;
  }
  return dt;
}

// Does an observation at (obs_lat, obs_lon), `dt` days from the slot, cover
// the point? The horizontal test comes first and spares the time weight.
inline bool observation_covers(const PointScales& p, float obs_lat, float obs_lon, float dt) {
  const float dx = std::fabs(obs_lon - p.lon) * p.dxkm;
  const float dy = std::fabs(obs_lat - p.lat) * km_per_degree;
  const float w = horizontal_weight(dx, dy, p.px, p.py, p.sx, p.sy);
  if (!reaches_threshold(w)) return false;
  const float wt = direction_weight(dt, p.pt, p.st);
  return reaches_threshold(wt * w);
}

}  // namespace kelvo
