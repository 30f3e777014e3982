// The weights of the coverage decision, in single precision and in the one
// order of operations that every evaluation of the decision shares.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

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

// How longitudes compare on a grid. On a periodic grid (one that spans 360
// degrees east-west) an observation's longitude is first moved by a
// multiple of 360 into [west, west + 360), and the east-west separation is
// taken the short way round; elsewhere longitudes are used as they are.
struct LongitudeWrap {
  bool periodic = false;
  float west = 0.0f;

  // `lon` moved into [west, west + 360) on a periodic grid (the move is
  // exact in double precision and rounded once to a float; a value that
  // rounds up to west + 360 is the seam, west); unchanged otherwise, and
  // for a longitude that is not finite. The remainder by 360 (exact) is
  // taken first, so that the move stays exact for the largest floats too:
  // a placed longitude is always in [west, west + 360), and placing it
  // again leaves it as it is.
  float place(float lon) const {
    const float east_end = west + 360.0f;
    if (!periodic || !(lon < west || lon >= east_end) || !std::isfinite(lon)) return lon;
    const double rest = std::fmod(static_cast<double>(lon), 360.0);
    double moved = rest + 360.0 * std::ceil((static_cast<double>(west) - rest) / 360.0);
    if (moved < static_cast<double>(west)) moved += 360.0;  // a quotient rounded down to a whole turn
    const float rounded = static_cast<float>(moved);
    return rounded < east_end ? rounded : west;
  }

  // The east-west separation in degrees of a placed observation longitude
  // and a point's: |obs - point|, and on a periodic grid 360 less it where
  // it is more than 180 and finite (an infinite longitude stays infinitely
  // far, as on any other grid, rather than minus infinity away).
  float separation(float obs_lon, float point_lon) const {
    float d = std::fabs(obs_lon - point_lon);
    if (periodic && d > 180.0f && d <= FLT_MAX) d = 360.0f - d;
    return d;
  }

  // Whether no placed longitude is more than 360 degrees from `point_lon`,
  // so that no separation from it is negative: always off a periodic grid;
  // on one, for a point within [east end - 360, west + 360], the east end
  // being west + 360 rounded as place() rounds it (every column of a grid
  // that goes round once, a duplicated seam column included). False where
  // west is not a number.
  bool separations_not_negative(float point_lon) const {
    if (!periodic) return true;
    const double east_end = static_cast<double>(west + 360.0f);
    const double lon = point_lon;
    return lon >= east_end - 360.0 && lon <= static_cast<double>(west) + 360.0;
  }

  // Degrees by which a search on a periodic grid widens a reach where the
  // separation is taken the short way round. There 360 - fl(|a - b|) is off
  // the exact folded separation by up to half a unit in the last place of a
  // value near 360 (about 1.5e-5), and the placed longitudes may pass
  // west + 360 by half a unit of its own (a little more for a west of a few
  // hundred degrees): absolute errors that a relative widening of a small
  // reach does not cover. This is several times both.
  double seam_slack() const { return 1e-4 + 1e-7 * std::fabs(static_cast<double>(west)); }
};

// Whether observations placed for `a` are placed for `b` too (the west of
// grids that do not wrap round does not matter).
inline bool same_placing(const LongitudeWrap& a, const LongitudeWrap& b) {
  if (a.periodic != b.periodic) return false;
  return !a.periodic || std::memcmp(&a.west, &b.west, sizeof(float)) == 0;
}

// The place and exponents of one grid point of a layer.
struct PointScales {
  float lon, lat, dxkm;  // position and kilometres per degree of longitude of its row
  float sx, sy, st;      // scale entries
  float px, py, pt;      // the layer's exponents
  LongitudeWrap wrap{};  // how the grid's longitudes compare
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
// the point? On a periodic grid the observation's longitude is placed first
// (placing a placed longitude leaves it as it is). The horizontal test comes first and spares the time weight.
inline bool observation_covers(const PointScales& p, float obs_lat, float obs_lon, float dt) {
  const float dx = p.wrap.separation(p.wrap.place(obs_lon), p.lon) * p.dxkm;
  const float dy = std::fabs(obs_lat - p.lat) * km_per_degree;
  const float w = horizontal_weight(dx, dy, p.px, p.py, p.sx, p.sy);
  if (!reaches_threshold(w)) return false;
  const float wt = direction_weight(dt, p.pt, p.st);
  return reaches_threshold(wt * w);
}

// Relative band round the threshold inside which the quadratic test below
// leaves the decision to the weights themselves.
inline constexpr double quadratic_band = 1e-4;

// The answer of the quadratic test: covered, not covered, or left to the weights.
enum class Quick { covered, not_covered, unsure };

// For an observation at the slot itself (dt = 0) with the exponents px =
// py = 2 (and pt > 0 with a finite time scale, so that the time weight is
// exactly 1), from the distances dx and dy of the decision: the weight is
// exp(-(A + B)), A = dx^2 sx and B = dy^2 sy, and it reaches exp(-1) when
// A + B <= 1. With scales that are not negative, and distances whose
// squares are normal floats (or zero), the single precision weight is
// within a relative 1e-6 of exp(-(A + B)) whenever A + B is near 1 (pow,
// exp and the products each err by about an ulp; an overflow only makes it
// 0), so A + B in double further than quadratic_band from 1 settles the
// decision.
inline Quick quadratic_test(float dx, float dy, float sx, float sy) {
  const auto moderate = [](float d) { return d == 0.0f || (std::fabs(d) >= 1e-18f && std::fabs(d) <= 1e18f); };
  if (!(sx >= 0.0f) || !(sy >= 0.0f) || !moderate(dx) || !moderate(dy)) return Quick::unsure;
  const double sum = static_cast<double>(dx) * dx * sx + static_cast<double>(dy) * dy * sy;
  if (sum <= 1.0 - quadratic_band) return Quick::covered;
  if (sum >= 1.0 + quadratic_band) return Quick::not_covered;
  return Quick::unsure;
}

// Whether the quadratic test holds for a point's exponents and time scale.
inline bool quadratic_exponents(float px, float py, float pt, float st) {
  return px == 2.0f && py == 2.0f && pt > 0.0f && std::isfinite(st);
}

// observation_covers for an observation at the slot itself (dt = 0),
// settled by the quadratic test where it applies.
inline bool observation_covers_at_slot(const PointScales& p, float obs_lat, float obs_lon) {
  if (quadratic_exponents(p.px, p.py, p.pt, p.st)) {
    const float dx = p.wrap.separation(p.wrap.place(obs_lon), p.lon) * p.dxkm;
    const float dy = std::fabs(obs_lat - p.lat) * km_per_degree;
    const Quick quick = quadratic_test(dx, dy, p.sx, p.sy);
    if (quick != Quick::unsure) return quick == Quick::covered;
  }
  return observation_covers(p, obs_lat, obs_lon, 0.0f);
}

}  // namespace kelvo
