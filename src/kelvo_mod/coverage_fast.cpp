#include "kelvo_mod/coverage_fast.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "kelvo_mod/coverage_engine.hpp"
#include "kelvo_mod/coverage_weights.hpp"

namespace kelvo {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

struct Candidate {
  float lat;
  float lon;
  float dt;
};

// The layer's observations in latitude rows, each row sorted by longitude,
// so that the observations within reach of a point are found by a few
// binary searches. Observations without a finite position stay aside and
// are tested for every point.
struct ObservationRows {
  std::vector<Candidate> sorted;          // row by row, by longitude within a row
  std::vector<std::size_t> row_start;     // nrows + 1 offsets into `sorted`
  double lat0 = 0.0;
  double row_height = 1.0;
  std::int64_t nrows = 0;
  std::vector<Candidate> unplaced;        // non-finite latitude or longitude
  std::vector<Candidate> all;             // every observation, for untrusted points
};

std::int64_t row_of(const ObservationRows& rows, double lat) {
  const double r = std::floor((lat - rows.lat0) / rows.row_height);
  if (!(r > 0.0)) return 0;
  if (r >= static_cast<double>(rows.nrows - 1)) return rows.nrows - 1;
  return static_cast<std::int64_t>(r);
}

ObservationRows build_rows(std::span<const Observation> eligible, float slot) {
  ObservationRows rows;
  std::vector<Candidate> placed;
  for (const Observation& o : eligible) {
    const Candidate c{o.lat, o.lon, time_distance(slot, &o.time, 1)};
    rows.all.push_back(c);
    if (std::isfinite(c.lat) && std::isfinite(c.lon)) {
      placed.push_back(c);
    } else {
      rows.unplaced.push_back(c);
    }
  }
  if (placed.empty()) return rows;

  const auto [lo, hi] = std::minmax_element(placed.begin(), placed.end(),
                                            [](const Candidate& a, const Candidate& b) { return a.lat < b.lat; });
  const double span_lat = static_cast<double>(hi->lat) - static_cast<double>(lo->lat);
  rows.lat0 = lo->lat;
  rows.nrows = std::clamp<std::int64_t>(
      static_cast<std::int64_t>(std::ceil(std::sqrt(static_cast<double>(placed.size())))), 1, 4096);
  rows.row_height = span_lat > 0.0 ? span_lat / static_cast<double>(rows.nrows) : 1.0;
  if (!(span_lat > 0.0)) rows.nrows = 1;

  std::vector<std::int64_t> row(placed.size());
  for (std::size_t k = 0; k < placed.size(); ++k) row[k] = row_of(rows, placed[k].lat);
  std::vector<std::size_t> order(placed.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (row[a] != row[b]) return row[a] < row[b];
    return placed[a].lon < placed[b].lon;
  });
  rows.row_start.assign(static_cast<std::size_t>(rows.nrows) + 1, 0);
  rows.sorted.reserve(placed.size());
  for (std::size_t k : order) {
    rows.sorted.push_back(placed[k]);
    ++rows.row_start[static_cast<std::size_t>(row[k]) + 1];
  }
  for (std::size_t r = 1; r < rows.row_start.size(); ++r) rows.row_start[r] += rows.row_start[r - 1];
  return rows;
}

// The bound holds only where both horizontal weights are at most 1 and
// shrink with distance: positive finite scales and exponents, a finite
// position and a positive number of kilometres per degree of longitude.
bool bound_trusted(const PointScales& p) {
  const auto positive = [](float v) { return v > 0.0f && std::isfinite(v); };
  return positive(p.sx) && positive(p.sy) && positive(p.px) && positive(p.py) && positive(p.dxkm) &&
         std::isfinite(p.lon) && std::isfinite(p.lat);
}

bool any_covers(const PointScales& p, std::span<const Candidate> candidates) {
  for (const Candidate& c : candidates) {
    if (observation_covers(p, c.lat, c.lon, c.dt)) return true;
  }
  return false;
}

// Reach of a point in degrees of latitude and longitude, widened so that the
// rounding of the differences and of the products by kilometres per degree
// cannot carry an observation past it.
struct Reach {
  double lat_deg;
  double lon_deg;
};

Reach point_reach(const PointScales& p, const FastTuning& tuning) {
  const double widen = tuning.margin > 0.0 ? 1.0 + 1e-6 : 1.0;
  return Reach{reach_km(p.py, p.sy, tuning) / static_cast<double>(km_per_degree) * widen,
               reach_km(p.px, p.sx, tuning) / static_cast<double>(p.dxkm) * widen};
}

bool covered_within_reach(const PointScales& p, const Reach& reach, const ObservationRows& rows) {
  if (any_covers(p, rows.unplaced)) return true;
  if (rows.nrows == 0) return false;
  const double lat = p.lat;
  const double lon = p.lon;
  // One row more on each side absorbs any rounding in the row of an observation.
  const std::int64_t r_lo = std::max<std::int64_t>(0, row_of(rows, lat - reach.lat_deg) - 1);
  const std::int64_t r_hi = std::min<std::int64_t>(rows.nrows - 1, row_of(rows, lat + reach.lat_deg) + 1);
  const double lon_lo = lon - reach.lon_deg;
  const double lon_hi = lon + reach.lon_deg;
  for (std::int64_t r = r_lo; r <= r_hi; ++r) {
    const auto first = rows.sorted.begin() + static_cast<std::ptrdiff_t>(rows.row_start[static_cast<std::size_t>(r)]);
    const auto last = rows.sorted.begin() + static_cast<std::ptrdiff_t>(rows.row_start[static_cast<std::size_t>(r) + 1]);
    auto it = std::lower_bound(first, last, lon_lo,
                               [](const Candidate& c, double v) { return static_cast<double>(c.lon) < v; });
    for (; it != last && static_cast<double>(it->lon) <= lon_hi; ++it) {
      if (std::fabs(static_cast<double>(it->lat) - lat) > reach.lat_deg) continue;
      if (observation_covers(p, it->lat, it->lon, it->dt)) return true;
    }
  }
  return false;
}

}  // namespace

double reach_km(float p, float s, const FastTuning& tuning) {
  if (!(p > 0.0f) || !(s > 0.0f) || !std::isfinite(p) || !std::isfinite(s)) return infinity;
  // d^p * s > 1 + margin  <=>  d > ((1 + margin) / s)^(1/p)
  const double r = std::pow((1.0 + tuning.margin) / static_cast<double>(s), 1.0 / static_cast<double>(p));
  return std::isnan(r) ? infinity : r;
}

std::int32_t count_covered_fast(const GridAxes& grid, const LayerFields& layer,
                                std::span<const Observation> eligible, float slot,
                                std::span<const std::uint8_t> among, std::span<std::uint8_t> decisions,
                                const FastTuning& tuning) {
  const ObservationRows rows = build_rows(eligible, slot);
  std::int32_t ksum = 0;
  for (std::int64_t j = 0; j < grid.nlat(); ++j) {
    for (std::int64_t i = 0; i < grid.nlon(); ++i) {
      const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
      if (layer.water[q] != 1) continue;
      if (!among.empty() && among[q] != 1) continue;
      const PointScales p = point_scales(grid, layer, i, j);
      const bool covered = bound_trusted(p) ? covered_within_reach(p, point_reach(p, tuning), rows)
                                            : any_covers(p, rows.all);
      if (covered) ++ksum;
      if (!decisions.empty()) decisions[q] = covered ? 1 : 0;
    }
  }
  return ksum;
}

}  // namespace kelvo
