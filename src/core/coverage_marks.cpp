// Observation-centric marking of covered points, for assessments that add a
// few observations to a known decision (a series of days, a planned
// platform): each observation is tested only at the points inside the
// layer's largest reach around it, with the same weights as every other
// evaluation.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/coverage_engine.hpp"
#include "core/parallel.hpp"

namespace kelvo {

namespace {

bool positive_finite(float v) { return v > 0.0f && std::isfinite(v); }

// The horizontal weights shrink with distance and stay at most 1 only with
// positive finite scales and exponents, a finite position, a positive
// number of kilometres per degree and (on a periodic grid) no separation
// taken the short way round that is negative.
bool bounded(const PointScales& p) {
  return positive_finite(p.sx) && positive_finite(p.sy) && positive_finite(p.px) && positive_finite(p.py) &&
         positive_finite(p.dxkm) && std::isfinite(p.lon) && std::isfinite(p.lat) &&
         p.wrap.separations_not_negative(p.lon);
}

bool examined(const LayerFields& layer, std::span<const std::uint8_t> among, std::size_t q) {
  return layer.water[q] == 1 && (among.empty() || among[q] == 1);
}

// A reach as a float that is not below it.
float rounded_up(double v) {
  const float f = static_cast<float>(v);
  return static_cast<double>(f) < v ? std::nextafter(f, std::numeric_limits<float>::infinity()) : f;
}

// The first column whose longitude is not below `lon` (0 when the axis is
// not known to increase).
std::int64_t first_column(const GridAxes& grid, const LayerReach& reach, double lon) {
  if (!reach.lon_ascending) return 0;
  const auto at = std::lower_bound(grid.lon.begin(), grid.lon.end(), lon,
                                   [](float l, double v) { return static_cast<double>(l) < v; });
  return at - grid.lon.begin();
}

bool covers(const PointScales& p, const Observation& o, float slot) {
  return observation_covers(p, o.lat, o.lon, time_distance(slot, &o.time, 1));
}

}  // namespace

LayerReach layer_reach(const GridAxes& grid, const LayerFields& layer, const FastTuning& tuning, int threads) {
  LayerReach r;
  r.lon_deg.assign(static_cast<std::size_t>(grid.nlat()), 0.0);
  r.row_lat_deg.assign(static_cast<std::size_t>(grid.nlat()), 0.0f);
  r.point_lat_deg.assign(static_cast<std::size_t>(grid.plane_size()), 0.0f);
  r.point_lon_deg.assign(static_cast<std::size_t>(grid.plane_size()), 0.0f);
  r.lon_ascending = std::adjacent_find(grid.lon.begin(), grid.lon.end(),
                                       [](float a, float b) { return !(a < b); }) == grid.lon.end();
  // The same widening as the fast search: the rounding of the differences
  // and of the products by kilometres per degree cannot carry an observation
  // past it.
  const double widen = tuning.margin > 0.0 ? 1.0 + 1e-6 : 1.0;
  // Rows in bands shared among the threads; what spans rows (the largest
  // reach, the unbounded points in order) is gathered band by band.
  struct Band {
    double lat_deg = 0.0;
    bool quadratic = true;
    std::vector<std::uint32_t> unbounded;
  };
  const std::int64_t nbands = std::clamp<std::int64_t>(4 * static_cast<std::int64_t>(threads), 1, std::max<std::int64_t>(1, grid.nlat()));
  std::vector<Band> bands(static_cast<std::size_t>(nbands));
  parallel_for(nbands, std::max(1, threads), [&](std::int64_t b) {
    Band& band = bands[static_cast<std::size_t>(b)];
    for (std::int64_t j = grid.nlat() * b / nbands; j < grid.nlat() * (b + 1) / nbands; ++j) {
      for (std::int64_t i = 0; i < grid.nlon(); ++i) {
        const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
        if (layer.water[q] != 1) continue;
        const PointScales p = point_scales(grid, layer, i, j);
        if (!std::isfinite(p.st)) band.quadratic = false;
        if (!bounded(p)) {
          band.unbounded.push_back(static_cast<std::uint32_t>(q));
          continue;
        }
        const double lat = reach_km(p.py, p.sy, tuning) / static_cast<double>(km_per_degree) * widen;
        const double lon = reach_km(p.px, p.sx, tuning) / static_cast<double>(p.dxkm) * widen;
        r.point_lat_deg[q] = rounded_up(lat);
        r.point_lon_deg[q] = rounded_up(lon);
        float& row_lat = r.row_lat_deg[static_cast<std::size_t>(j)];
        row_lat = std::max(row_lat, r.point_lat_deg[q]);
        band.lat_deg = std::max(band.lat_deg, lat);
        double& row = r.lon_deg[static_cast<std::size_t>(j)];
        row = std::max(row, lon);
      }
    }
  });
  r.quadratic = quadratic_exponents(layer.px, layer.py, layer.pt, 0.0f);
  for (const Band& band : bands) {
    r.lat_deg = std::max(r.lat_deg, band.lat_deg);
    r.quadratic = r.quadratic && band.quadratic;
    r.unbounded.insert(r.unbounded.end(), band.unbounded.begin(), band.unbounded.end());
  }
  return r;
}

namespace {

// Calls visit(i, dlon) for every column i whose longitude is within
// `lon_reach` degrees of the placed longitude `lon` (dlon: its
// search_separation, at most lon_reach), each once. Off a periodic grid the
// columns from the first one at lon - lon_reach on, up to the first east
// of `lon` out of reach (every column when the axis does not increase); on
// one the columns of each window of the reach round the circle, or every
// column when the axis does not increase.
template <typename Visit>
void visit_columns(const GridAxes& grid, const LayerReach& reach, double lon, double lon_reach, Visit&& visit) {
  const auto lon_of = [&](std::int64_t i) { return static_cast<double>(grid.lon[static_cast<std::size_t>(i)]); };
  if (!grid.wrap.periodic) {
    for (std::int64_t i = first_column(grid, reach, lon - lon_reach); i < grid.nlon(); ++i) {
      const double dlon = std::fabs(lon - lon_of(i));
      if (!(dlon <= lon_reach)) {
        if (reach.lon_ascending && lon_of(i) > lon) break;
        continue;
      }
      visit(i, dlon);
    }
    return;
  }
  const LonWindows w = reach.lon_ascending ? longitude_windows(grid.wrap, lon, lon_reach)
                                           : LonWindows{1, {-std::numeric_limits<double>::infinity()},
                                                        {std::numeric_limits<double>::infinity()}};
  for (int k = 0; k < w.count; ++k) {
    for (std::int64_t i = first_column(grid, reach, w.lo[k]); i < grid.nlon(); ++i) {
      if (lon_of(i) > w.hi[k]) break;
      const double dlon = search_separation(grid.wrap, lon, lon_of(i));
      if (dlon <= lon_reach) visit(i, dlon);
    }
  }
}

// Calls on_cover(q) at every examined point q of the layer's largest reach
// around `o` (every examined point for a position that is not finite) that
// `skip(q)` leaves and that `o` covers; points without a bound are left to
// the caller. The reach is taken around the observation's placed longitude.
template <typename Skip, typename OnCover>
void visit_reach(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach, const Observation& o,
                 float slot, std::span<const std::uint8_t> among, Skip&& skip, OnCover&& on_cover) {
  if (!std::isfinite(o.lat) || !std::isfinite(o.lon)) {
    for (std::int64_t j = 0; j < grid.nlat(); ++j) {
      for (std::int64_t i = 0; i < grid.nlon(); ++i) {
        const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
        if (skip(q) || !examined(layer, among, q)) continue;
        if (covers(point_scales(grid, layer, i, j), o, slot)) on_cover(q);
      }
    }
    return;
  }
  const double lon = grid.wrap.place(o.lon);
  for (std::int64_t j = 0; j < grid.nlat(); ++j) {
    const double dlat = std::fabs(static_cast<double>(o.lat) - static_cast<double>(grid.lat[static_cast<std::size_t>(j)]));
    if (!(dlat <= reach.lat_deg)) continue;
    visit_columns(grid, reach, lon, reach.lon_deg[static_cast<std::size_t>(j)], [&](std::int64_t i, double dlon) {
      const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
      if (skip(q) || !examined(layer, among, q)) return;
      // The point's own reach first; points without a bound (reach 0
      // here) are tested by the caller against every observation.
      if (!(dlat <= static_cast<double>(reach.point_lat_deg[q])) ||
          !(dlon <= static_cast<double>(reach.point_lon_deg[q]))) {
        return;
      }
      if (covers(point_scales(grid, layer, i, j), o, slot)) on_cover(q);
    });
  }
}

// Does the search around a finite `o` reach point q (in the layer's and
// the point's own reach)? The same separation as visit_reach's.
bool in_reach(const GridAxes& grid, const LayerReach& reach, const Observation& o, std::size_t q) {
  const std::size_t j = q / static_cast<std::size_t>(grid.nlon()), i = q % static_cast<std::size_t>(grid.nlon());
  const double dlat = std::fabs(static_cast<double>(o.lat) - static_cast<double>(grid.lat[j]));
  const double dlon =
      search_separation(grid.wrap, grid.wrap.place(o.lon), static_cast<double>(grid.lon[i]));
  return dlat <= reach.lat_deg && dlon <= reach.lon_deg[j] && dlat <= static_cast<double>(reach.point_lat_deg[q]) &&
         dlon <= static_cast<double>(reach.point_lon_deg[q]);
}

// Is `o` at an unbounded point q, where the search around it did not look?
// (Positions that are not finite were tested at every point.)
bool covers_unbounded(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach, const Observation& o,
                      float slot, std::uint32_t q) {
  if (!std::isfinite(o.lat) || !std::isfinite(o.lon) || in_reach(grid, reach, o, q)) return false;
  return covers(point_scales(grid, layer, q % grid.nlon(), q / grid.nlon()), o, slot);
}

}  // namespace

void mark_covered(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                  std::span<const Observation> obs, float slot, std::span<std::uint8_t> decisions,
                  std::span<const std::uint8_t> among) {
  std::vector<const Observation*> eligible;
  const auto marked = [&](std::size_t q) { return decisions[q] == 1; };
  const auto mark = [&](std::size_t q) { decisions[q] = 1; };
  for (const Observation& o : obs) {
    if (!counts_for(o, layer.ilayer)) continue;
    eligible.push_back(&o);
    visit_reach(grid, layer, reach, o, slot, among, marked, mark);
  }
  for (std::uint32_t q : reach.unbounded) {
    if (decisions[q] == 1 || !examined(layer, among, q)) continue;
    const std::int64_t i = q % grid.nlon();
    const std::int64_t j = q / grid.nlon();
    const PointScales p = point_scales(grid, layer, i, j);
    for (const Observation* o : eligible) {
      if (covers(p, *o, slot)) {
        decisions[q] = 1;
        break;
      }
    }
  }
}

namespace {

// Whether no observation of `obs` absent from the slot can cover any point of the layer.
bool absent_pass_over(const GridAxes& grid, const LayerFields& layer, std::span<const Observation> obs, float slot) {
  if (std::none_of(obs.begin(), obs.end(), [](const Observation& o) { return o.time == absent_time; })) return false;
  const std::vector<std::uint8_t> may = absent_may_cover(grid, layer, std::fabs(slot - absent_time));
  return std::none_of(may.begin(), may.end(), [](std::uint8_t m) { return m == 1; });
}

}  // namespace

void tally_covered(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                   std::span<const Observation> obs, float slot, std::span<std::uint8_t> count,
                   std::span<std::int32_t> first, std::span<const std::uint8_t> among,
                   std::span<const std::uint32_t> groups) {
  const auto never = [](std::size_t) { return false; };
  // Without groups every observation is a group of its own.
  const auto same_group = [&](std::size_t a, std::size_t b) { return groups.empty() ? a == b : groups[a] == groups[b]; };
  // The observations absent from the slot (often most of a year's network)
  // are passed over where their time weight is proved too small at every point.
  const bool absent_pass = absent_pass_over(grid, layer, obs, slot);
  for (std::size_t n = 0; n < obs.size(); ++n) {
    if (!counts_for(obs[n], layer.ilayer)) continue;
    if (absent_pass && obs[n].time == absent_time) continue;
    const auto add = [&](std::size_t q) {
      if (count[q] == 0) {
        first[q] = static_cast<std::int32_t>(n);
        count[q] = 1;
      } else if (count[q] == 1 && !same_group(static_cast<std::size_t>(first[q]), n)) {
        count[q] = 2;
      }
    };
    visit_reach(grid, layer, reach, obs[n], slot, among, never, add);
    for (std::uint32_t q : reach.unbounded) {
      if (examined(layer, among, q) && covers_unbounded(grid, layer, reach, obs[n], slot, q)) add(q);
    }
  }
}

namespace {

// The sum of weight(q) over the examined points q that `o` covers.
template <typename Sum, typename Weight>
Sum weigh_one(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach, const Observation& o,
              float slot, std::span<const std::uint8_t> among, Weight&& weight) {
  if (!counts_for(o, layer.ilayer)) return 0;
  Sum n = 0;
  visit_reach(grid, layer, reach, o, slot, among, [](std::size_t) { return false; },
              [&](std::size_t q) { n += weight(q); });
  for (std::uint32_t q : reach.unbounded) {
    if (examined(layer, among, q) && covers_unbounded(grid, layer, reach, o, slot, q)) n += weight(q);
  }
  return n;
}

// weigh_one of every observation of `obs` into gains[n], found point by
// point: each examined point looks for the observations within its own
// reach, for many observations at once.
template <typename Sum, typename Weight>
void weigh_each(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                std::span<const Observation> obs, float slot, std::span<Sum> gains,
                std::span<const std::uint8_t> among, Weight&& weight) {
  // The finite positions in latitude bands, each band by longitude (placed
  // on a periodic grid).
  std::vector<std::uint32_t> finite;
  std::vector<float> lon(obs.size());
  for (std::size_t n = 0; n < obs.size(); ++n) lon[n] = grid.wrap.place(obs[n].lon);
  for (std::size_t n = 0; n < obs.size(); ++n) {
    gains[n] = 0;
    if (!counts_for(obs[n], layer.ilayer)) continue;
    if (std::isfinite(obs[n].lat) && std::isfinite(obs[n].lon)) {
      finite.push_back(static_cast<std::uint32_t>(n));
    } else {
      gains[n] = weigh_one<Sum>(grid, layer, reach, obs[n], slot, among, weight);
    }
  }
  if (finite.empty()) return;
  double lo = obs[finite[0]].lat, hi = lo;
  for (std::uint32_t n : finite) lo = std::min(lo, static_cast<double>(obs[n].lat)), hi = std::max(hi, static_cast<double>(obs[n].lat));
  const std::int64_t bands = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::sqrt(static_cast<double>(finite.size()))));
  const double width = hi > lo ? (hi - lo) / static_cast<double>(bands) : 1.0;
  // Clamped before the conversion: the ends of a point's reach may lie
  // beyond any integer (an infinite reach, where the scales give no
  // finite one), and converting those was undefined (on x86 every such
  // end became band 0, and the search missed the other bands).
  const auto band = [&](double lat) {
    const double b = std::floor((lat - lo) / width);
    return b <= 0.0 ? std::int64_t{0} : (b >= static_cast<double>(bands - 1) ? bands - 1 : static_cast<std::int64_t>(b));
  };
  std::sort(finite.begin(), finite.end(), [&](std::uint32_t a, std::uint32_t b) {
    const std::int64_t ba = band(obs[a].lat), bb = band(obs[b].lat);
    return ba != bb ? ba < bb : (lon[a] != lon[b] ? lon[a] < lon[b] : a < b);
  });
  std::vector<std::size_t> start(static_cast<std::size_t>(bands) + 1, finite.size());
  for (std::size_t k = finite.size(); k-- > 0;) start[static_cast<std::size_t>(band(obs[finite[k]].lat))] = k;
  for (std::int64_t b = bands - 1; b >= 0; --b) start[static_cast<std::size_t>(b)] = std::min(start[static_cast<std::size_t>(b)], start[static_cast<std::size_t>(b) + 1]);
  std::vector<std::uint8_t> unbounded(static_cast<std::size_t>(grid.plane_size()), 0);
  for (std::uint32_t q : reach.unbounded) unbounded[q] = 1;
  constexpr double slack = 1e-3;  // degrees: the exact test below decides
  for (std::int64_t j = 0; j < grid.nlat(); ++j) {
    for (std::int64_t i = 0; i < grid.nlon(); ++i) {
      const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
      if (!examined(layer, among, q)) continue;
      const PointScales p = point_scales(grid, layer, i, j);
      if (unbounded[q] == 1) {
        for (std::uint32_t n : finite) {
          if (covers(p, obs[n], slot)) gains[n] += weight(q);
        }
        continue;
      }
      const double plat = grid.lat[static_cast<std::size_t>(j)], plon = grid.lon[static_cast<std::size_t>(i)];
      const double rlat = std::min(reach.lat_deg, static_cast<double>(reach.point_lat_deg[q])) + slack;
      const double rlon = std::min(reach.lon_deg[static_cast<std::size_t>(j)], static_cast<double>(reach.point_lon_deg[q])) + slack;
      // [plon - rlon, plon + rlon], or on a periodic grid the windows of
      // that reach round the circle.
      const LonWindows w = longitude_windows(grid.wrap, plon, rlon);
      for (std::int64_t b = band(plat - rlat); b <= band(plat + rlat); ++b) {
        const auto first = finite.begin() + static_cast<std::ptrdiff_t>(start[static_cast<std::size_t>(b)]);
        const auto last = finite.begin() + static_cast<std::ptrdiff_t>(start[static_cast<std::size_t>(b) + 1]);
        for (int k = 0; k < w.count; ++k) {
          auto at = std::lower_bound(first, last, w.lo[k],
                                     [&](std::uint32_t n, double v) { return static_cast<double>(lon[n]) < v; });
          for (; at != last && static_cast<double>(lon[*at]) <= w.hi[k]; ++at) {
            if (in_reach(grid, reach, obs[*at], q) && covers(p, obs[*at], slot)) gains[*at] += weight(q);
          }
        }
      }
    }
  }
}

}  // namespace

std::int32_t count_newly_covered(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                                 const Observation& o, float slot, std::span<const std::uint8_t> among) {
  return weigh_one<std::int32_t>(grid, layer, reach, o, slot, among, [](std::size_t) { return 1; });
}

void count_newly_covered_each(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                              std::span<const Observation> obs, float slot, std::span<std::int32_t> gains,
                              std::span<const std::uint8_t> among) {
  weigh_each<std::int32_t>(grid, layer, reach, obs, slot, gains, among, [](std::size_t) { return 1; });
}

std::int64_t weigh_newly_covered(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                                 const Observation& o, float slot, std::span<const std::int32_t> weights,
                                 std::span<const std::uint8_t> among) {
  return weigh_one<std::int64_t>(grid, layer, reach, o, slot, among,
                                 [&](std::size_t q) { return std::int64_t{weights[q]}; });
}

void weigh_newly_covered_each(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                              std::span<const Observation> obs, float slot, std::span<const std::int32_t> weights,
                              std::span<std::int64_t> gains, std::span<const std::uint8_t> among) {
  weigh_each<std::int64_t>(grid, layer, reach, obs, slot, gains, among,
                           [&](std::size_t q) { return std::int64_t{weights[q]}; });
}

namespace {

// dt_power: dt_min^pt, the same for every point of the layer.
bool absent_may_cover_point(const GridAxes& grid, const LayerFields& layer, double dt_power, std::size_t q) {
  if (layer.water[q] != 1) return false;
  // With scales that are not negative and distances that are not negative
  // the horizontal weight is at most 1
  // (or not a number, which never covers), so the product with the time
  // weight stays below the threshold whenever the time weight does; that
  // holds, by a margin far wider than the rounding of powf, expf and the
  // product, once dt^pt * St exceeds 1 + 1e-4.
  // A row with no positive number of kilometres per degree (past a pole)
  // gives negative distances, whose powers can exceed any bound; so does
  // a column of a periodic grid more than 360 degrees from some placed
  // longitude.
  const float dxkm = grid.dxkm[q / static_cast<std::size_t>(grid.nlon())];
  const float lon = grid.lon[q % static_cast<std::size_t>(grid.nlon())];
  const bool horizontal_at_most_one = !(layer.sx[q] < 0.0f) && !(layer.sy[q] < 0.0f) &&
                                      (dxkm > 0.0f || std::isnan(dxkm)) &&
                                      grid.wrap.separations_not_negative(lon);
  const bool proved = horizontal_at_most_one && positive_finite(layer.pt) && positive_finite(layer.st[q]) &&
                      dt_power * static_cast<double>(layer.st[q]) > 1.0 + 1e-4;
  return !proved;
}

}  // namespace

std::vector<std::uint8_t> absent_may_cover(const GridAxes& grid, const LayerFields& layer, float dt_min, int threads) {
  std::vector<std::uint8_t> may(static_cast<std::size_t>(grid.plane_size()), 0);
  const double dt_power = std::pow(static_cast<double>(dt_min), static_cast<double>(layer.pt));
  const std::int64_t rows = std::max<std::int64_t>(1, grid.nlat());
  const std::int64_t bands = std::min<std::int64_t>(rows, 4 * static_cast<std::int64_t>(std::max(1, threads)));
  parallel_for(bands, threads, [&](std::int64_t band) {
    const std::size_t begin = static_cast<std::size_t>(grid.nlon() * (rows * band / bands));
    const std::size_t end = std::min(may.size(), static_cast<std::size_t>(grid.nlon() * (rows * (band + 1) / bands)));
    for (std::size_t q = begin; q < end; ++q) may[q] = absent_may_cover_point(grid, layer, dt_power, q) ? 1 : 0;
  });
  return may;
}

namespace {

// The columns [begin, end) of a row among which visit_columns finds those
// within `lon_reach` of the placed longitude `lon`: the same windows, cut
// where visit_columns stops.
struct ColumnRanges {
  int count = 0;
  std::int64_t begin[3] = {};
  std::int64_t end[3] = {};
};

// The first index in [lo, hi) at which `holds` is true (it is false, then
// true along the axis), hi when there is none: galloping out from `guess`,
// then halving, so that a good guess costs a few tests.
template <typename Holds>
std::int64_t first_holding(std::int64_t lo, std::int64_t hi, std::int64_t guess, Holds&& holds) {
  if (lo >= hi) return lo;
  guess = std::clamp(guess, lo, hi - 1);
  std::int64_t a = lo, b = hi;  // the answer is in [a, b]
  if (holds(guess)) {
    b = guess;
    for (std::int64_t step = 1;; step *= 2) {
      const std::int64_t p = b - step;
      if (p < a) break;
      if (!holds(p)) {
        a = p + 1;
        break;
      }
      b = p;
    }
  } else {
    a = guess + 1;
    for (std::int64_t step = 1;; step *= 2) {
      const std::int64_t p = guess + step;
      if (p >= b) break;
      if (holds(p)) {
        b = p;
        break;
      }
      a = p + 1;
    }
  }
  while (a < b) {
    const std::int64_t m = a + (b - a) / 2;
    if (holds(m)) b = m; else a = m + 1;
  }
  return a;
}

// Where a longitude falls among the columns of an increasing axis, as a
// first guess: exact on an evenly spaced axis, and near on others.
struct ColumnGuess {
  double lon0 = 0.0, per_degree = 0.0;
  explicit ColumnGuess(const GridAxes& grid) {
    if (grid.nlon() > 1) {
      lon0 = grid.lon.front();
      const double span = static_cast<double>(grid.lon.back()) - lon0;
      per_degree = span > 0.0 ? static_cast<double>(grid.nlon() - 1) / span : 0.0;
    }
  }
  std::int64_t operator()(double lon) const {
    const double at = (lon - lon0) * per_degree;
    return at > 0.0 ? (at < 1e15 ? static_cast<std::int64_t>(at) : std::int64_t{1} << 50) : 0;
  }
};

ColumnRanges column_ranges(const GridAxes& grid, const LayerReach& reach, const ColumnGuess& guess, double lon,
                           double lon_reach) {
  ColumnRanges r;
  if (grid.nlon() == 0) return r;
  if (!reach.lon_ascending) {
    r.count = 1;
    r.end[0] = grid.nlon();
    return r;
  }
  const auto lon_of = [&](std::int64_t i) { return static_cast<double>(grid.lon[static_cast<std::size_t>(i)]); };
  // first_column: the first column whose longitude is not below v.
  const auto first_from = [&](double v) {
    return first_holding(0, grid.nlon(), guess(v), [&](std::int64_t i) { return !(lon_of(i) < v); });
  };
  if (!grid.wrap.periodic) {
    r.count = 1;
    r.begin[0] = first_from(lon - lon_reach);
    r.end[0] = first_holding(r.begin[0], grid.nlon(), guess(lon + lon_reach), [&](std::int64_t i) {
      return lon_of(i) > lon && !(std::fabs(lon - lon_of(i)) <= lon_reach);
    });
    return r;
  }
  const LonWindows w = longitude_windows(grid.wrap, lon, lon_reach);
  const double west = lon_of(0), east = lon_of(grid.nlon() - 1);
  for (int k = 0; k < w.count; ++k) {
    // A window beyond either end of the axis (those across the seam, most
    // of the time) holds no column.
    if (w.hi[k] < west || w.lo[k] > east) continue;
    r.begin[k] = first_from(w.lo[k]);
    r.end[k] = first_holding(r.begin[k], grid.nlon(), guess(w.hi[k]), [&](std::int64_t i) { return lon_of(i) > w.hi[k]; });
  }
  r.count = w.count;
  return r;
}

// The rows [begin, end) of the plane.
struct RowRange {
  std::int64_t begin = 0, end = 0;
};

// The rows within the layer's largest reach of an observation (every row
// for a position that is not finite, or a latitude axis that does not increase).
RowRange rows_of(const GridAxes& grid, const LayerReach& reach, bool lat_ascending, const Observation& o) {
  if (!std::isfinite(o.lat) || !std::isfinite(o.lon) || !lat_ascending) return {0, grid.nlat()};
  const double lat = o.lat;
  const auto j0 = std::lower_bound(grid.lat.begin(), grid.lat.end(), lat - reach.lat_deg,
                                   [](float l, double v) { return static_cast<double>(l) < v; }) - grid.lat.begin();
  const auto j1 = std::upper_bound(grid.lat.begin(), grid.lat.end(), lat + reach.lat_deg,
                                   [](double v, float l) { return v < static_cast<double>(l); }) - grid.lat.begin();
  return {j0, j1};
}

struct StretchSweep {
  const GridAxes& grid;
  const LayerFields& layer;
  const LayerReach& reach;
  const CoveredDaysTally& tally;
  std::span<std::int64_t> changes;
  ColumnGuess guess;
  bool quadratic = false;  // every water point's exponents and time scale allow the quadratic test

  // The stretch covers point q: the days after those it is covered through.
  // The counts of the stretch's first two days and of the day after its
  // last gather in `edges` (a point starts on the first day, or on the
  // second after yesterday's record), the rest go to changes directly.
  struct Edges {
    std::int64_t at_first = 0, at_second = 0, after_last = 0;
  };
  void count_start(std::int32_t from, const PresentStretch& s, Edges& edges) const {
    if (from == s.first) {
      ++edges.at_first;
    } else if (from == s.first + 1) {
      ++edges.at_second;
    } else {
      changes[static_cast<std::size_t>(from)] += 1;
    }
  }
  void extend(std::size_t q, const PresentStretch& s, Edges& edges) const {
    const std::int32_t from = std::max(s.first, tally.through[q] + 1);
    const std::int32_t gap = from - tally.through[q] - 1;
    if (gap > 0 && !tally.uncovered.empty()) tally.uncovered[q] += gap;
    count_start(from, s, edges);
    ++edges.after_last;
    tally.through[q] = s.last;
  }
  void flush(const PresentStretch& s, const Edges& edges) const {
    changes[static_cast<std::size_t>(s.first)] += edges.at_first;
    if (edges.at_second > 0) changes[static_cast<std::size_t>(s.first) + 1] += edges.at_second;
    changes[static_cast<std::size_t>(s.last) + 1] -= edges.after_last;
  }
  void extend(std::size_t q, const PresentStretch& s) const {
    Edges edges;
    extend(q, s, edges);
    flush(s, edges);
  }

  // Points passed over (land, points covered already through the
  // stretch's last day) have `through` at least that day.
  bool pending(std::size_t q, const PresentStretch& s) const { return tally.through[q] < s.last; }

  void test(std::int64_t i, std::int64_t j, const PresentStretch& s) const {
    const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
    if (pending(q, s) && layer.water[q] == 1 &&
        observation_covers_at_slot(point_scales(grid, layer, i, j), s.obs.lat, s.obs.lon)) {
      extend(q, s);
    }
  }

  void test_in_reach(std::int64_t i, std::int64_t j, double lon, double dlat, double lon_reach,
                     const PresentStretch& s, Edges& edges) const {
    const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
    if (!pending(q, s) || layer.water[q] != 1 || !(dlat <= static_cast<double>(reach.point_lat_deg[q]))) return;
    const double dlon = search_separation(grid.wrap, lon, static_cast<double>(grid.lon[static_cast<std::size_t>(i)]));
    if (!(dlon <= lon_reach) || !(dlon <= static_cast<double>(reach.point_lon_deg[q]))) return;
    if (observation_covers_at_slot(point_scales(grid, layer, i, j), s.obs.lat, s.obs.lon)) extend(q, s, edges);
  }

  // The quadratic test in blocks of quick_block points, `lanes` at a time
  // in vector registers (four floats fit one on every x86-64): for a layer
  // whose exponents allow it, `lon` the stretch's placed longitude and dy
  // its distance from the row. Single precision errs by a few ulps, far
  // inside the band; the distances are those of the decision itself, each
  // lane taking the operations of the scalar decision in the same order.
  static constexpr std::int64_t quick_block = 16;
  static constexpr std::int64_t lanes = 4;
  using Floats = float __attribute__((vector_size(4 * lanes)));
  using Ints = std::int32_t __attribute__((vector_size(4 * lanes)));
  struct QuickRow {
    float lon = 0.0f, dy2 = 0.0f, dxkm = 0.0f;
    bool dy_moderate = false;
    bool periodic = false;
  };
  // A block's columns: longitudes, scales and covered-through days.
  struct QuickBlock {
    const float* lons;
    const float* sx;
    const float* sy;
    const std::int32_t* through;
  };

  template <typename T, typename V>
  static V load(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  template <typename To, typename From>
  static To same_bits(From v) {
    To t;
    std::memcpy(&t, &v, sizeof t);
    return t;
  }
  static Floats magnitude(Floats v) { return same_bits<Floats>(same_bits<Ints>(v) & 0x7fffffff); }
  static Floats select(Ints mask, Floats yes, Floats no) {
    return same_bits<Floats>((same_bits<Ints>(yes) & mask) | (same_bits<Ints>(no) & ~mask));
  }
  // The lanes of a mask (-1 or 0 each) as bits, lane b as bit b.
  static unsigned bits_of(Ints mask) {
#if defined(__SSE2__)
    return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(same_bits<__m128i>(mask))));
#else
    unsigned bits = 0;
    for (std::int64_t b = 0; b < lanes; ++b) bits |= (mask[b] != 0 ? 1u : 0u) << b;
    return bits;
#endif
  }
  // The number of lanes set in `bits` (std::popcount is a library call on
  // x86-64 processors that may lack the instruction).
  static std::int64_t lanes_in(unsigned bits) {
    static_assert(lanes == 4);
    constexpr std::int8_t count[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
    return count[bits & 15u];
  }
  static Ints mask_of(unsigned bits) {
    Ints mask;
    for (std::int64_t b = 0; b < lanes; ++b) mask[b] = (bits >> b) & 1u ? -1 : 0;
    return mask;
  }
  static Ints pending(std::int32_t last, const std::int32_t* through) {
    return load<std::int32_t, Ints>(through) < last;
  }
  static bool any_pending(std::int32_t last, const std::int32_t* through) {
    Ints all = pending(last, through);
    for (std::int64_t b = lanes; b < quick_block; b += lanes) all |= pending(last, through + b);
    return bits_of(all) != 0;
  }

  // The lanes (b.. of a block) that are pending and covered, and those
  // that are pending and left to the weights.
  struct Verdicts {
    Ints covered, unsure;
  };
  static Verdicts quick_verdicts(const QuickRow& r, std::int32_t last, const QuickBlock& at, std::int64_t b) {
    const float below = static_cast<float>(1.0 - quadratic_band), above = static_cast<float>(1.0 + quadratic_band);
    const Floats sx = load<float, Floats>(at.sx + b), sy = load<float, Floats>(at.sy + b);
    const Floats d0 = magnitude(r.lon - load<float, Floats>(at.lons + b));
    const Ints wraps = (d0 > 180.0f) & (d0 <= FLT_MAX) & (r.periodic ? -1 : 0);
    const Floats d = select(wraps, 360.0f - d0, d0);
    const Floats dx = d * r.dxkm;
    const Floats ax = magnitude(dx);
    const Ints moderate =
        ((dx == 0.0f) | ((ax >= 1e-18f) & (ax <= 1e18f))) & (sx >= 0.0f) & (sy >= 0.0f) & (r.dy_moderate ? -1 : 0);
    const Floats sum = dx * dx * sx + r.dy2 * sy;
    const Ints le = sum <= below, ge = sum >= above;
    const Ints open = pending(last, at.through + b);
    return {open & moderate & le, open & (~moderate | (~le & ~ge))};
  }

  // The block of `n` (at most quick_block) points from column i of row j.
  void block_quadratic(std::int64_t i, std::int64_t n, std::int64_t j, const QuickRow& r, const PresentStretch& s,
                       Edges& edges) const {
    const std::size_t q0 = static_cast<std::size_t>(i + grid.nlon() * j);
    QuickBlock at{grid.lon.data() + i, layer.sx.data() + q0, layer.sy.data() + q0, tally.through.data() + q0};
    // A short block is padded with points passed over.
    float lons[quick_block] = {}, sx[quick_block] = {}, sy[quick_block] = {};
    std::int32_t through[quick_block];
    if (n < quick_block) {
      std::fill(std::begin(through), std::end(through), std::numeric_limits<std::int32_t>::max());
      std::copy_n(at.lons, n, lons);
      std::copy_n(at.sx, n, sx);
      std::copy_n(at.sy, n, sy);
      std::copy_n(at.through, n, through);
      at = QuickBlock{lons, sx, sy, through};
    }
    for (std::int64_t c = 0; c < quick_block; c += lanes) {
      const Verdicts v = quick_verdicts(r, s.last, at, c);
      unsigned covered = bits_of(v.covered);
      // Where the test is unsure, the weights decide.
      for (unsigned unsure = bits_of(v.unsure); unsure != 0; unsure &= unsure - 1) {
        const int b = std::countr_zero(unsure);
        if (observation_covers(point_scales(grid, layer, i + c + b, j), s.obs.lat, s.obs.lon, 0.0f)) covered |= 1u << b;
      }
      if (covered == 0) continue;
      if (c + lanes <= n) {
        extend_lanes(q0 + static_cast<std::size_t>(c), covered, s, edges);
      } else {
        for (; covered != 0; covered &= covered - 1) extend(q0 + static_cast<std::size_t>(c + std::countr_zero(covered)), s, edges);
      }
    }
  }

  // extend at the lanes `covered` (bits) of the points q.., all at once.
  void extend_lanes(std::size_t q, unsigned covered_bits, const PresentStretch& s, Edges& edges) const {
    const Ints covered = mask_of(covered_bits);
    const Ints through = load<std::int32_t, Ints>(tally.through.data() + q);
    // The lanes passed over may hold the largest int: only the covered
    // ones (before the stretch's last day) take the day after.
    const Ints next = (through & covered) + 1;
    const Ints later = next > s.first;
    const Ints from = (next & later) | (s.first & ~later);
    if (!tally.uncovered.empty()) {
      const Ints uncovered = load<std::int32_t, Ints>(tally.uncovered.data() + q) + ((from - next) & covered);
      std::memcpy(tally.uncovered.data() + q, &uncovered, sizeof uncovered);
    }
    const Ints extended = (s.last & covered) | (through & ~covered);
    std::memcpy(tally.through.data() + q, &extended, sizeof extended);
    const unsigned first = covered_bits & bits_of(from == s.first), second = covered_bits & bits_of(from == s.first + 1);
    edges.at_first += lanes_in(first);
    edges.at_second += lanes_in(second);
    edges.after_last += lanes_in(covered_bits);
    for (unsigned beyond = covered_bits & ~first & ~second; beyond != 0; beyond &= beyond - 1) {
      changes[static_cast<std::size_t>(from[std::countr_zero(beyond)])] += 1;
    }
  }


  void row(std::int64_t j, double lon, double dlat, const PresentStretch& s) const {
    const double lon_reach = reach.lon_deg[static_cast<std::size_t>(j)];
    const ColumnRanges ranges = column_ranges(grid, reach, guess, lon, lon_reach);
    const std::int32_t* through = tally.through.data() + grid.nlon() * j;
    const float dy = std::fabs(s.obs.lat - grid.lat[static_cast<std::size_t>(j)]) * km_per_degree;
    const QuickRow quick{static_cast<float>(lon), dy * dy, grid.dxkm[static_cast<std::size_t>(j)],
                         dy == 0.0f || (std::fabs(dy) >= 1e-18f && std::fabs(dy) <= 1e18f), grid.wrap.periodic};
    Edges edges;
    for (int k = 0; k < ranges.count; ++k) {
      // Most points are passed over: they are looked at a block at a time.
      for (std::int64_t i = ranges.begin[k]; i < ranges.end[k]; i += quick_block) {
        const std::int64_t n = std::min(quick_block, ranges.end[k] - i);
        if (n == quick_block) {
          if (!any_pending(s.last, through + i)) continue;
        } else {
          bool some = false;
          for (std::int64_t b = 0; b < n; ++b) some |= through[i + b] < s.last;
          if (!some) continue;
        }
        if (quadratic) {
          block_quadratic(i, n, j, quick, s, edges);
        } else {
          for (std::int64_t b = 0; b < n; ++b) test_in_reach(i + b, j, lon, dlat, lon_reach, s, edges);
        }
      }
    }
    flush(s, edges);
  }

  // The stretch at the rows of `rows` (those of rows_of, cut to a tile).
  void stretch(const PresentStretch& s, RowRange rows) const {
    const Observation& o = s.obs;
    if (!std::isfinite(o.lat) || !std::isfinite(o.lon)) {
      for (std::int64_t j = rows.begin; j < rows.end; ++j) {
        for (std::int64_t i = 0; i < grid.nlon(); ++i) test(i, j, s);
      }
      return;
    }
    const double lon = grid.wrap.place(o.lon);
    const double lat = o.lat;
    for (std::int64_t j = rows.begin; j < rows.end; ++j) {
      const double dlat = std::fabs(lat - static_cast<double>(grid.lat[static_cast<std::size_t>(j)]));
      if (!(dlat <= reach.lat_deg) || !(dlat <= static_cast<double>(reach.row_lat_deg[static_cast<std::size_t>(j)]))) continue;
      row(j, lon, dlat, s);
    }
  }
};

// The stretches of a sweep by tiles of whole rows, each tile's in the
// sweep's order: a tile's points stay at hand while the stretches near it
// pass, and the tiles are shared among the threads.
struct TiledStretches {
  std::int64_t tile_rows = 1, tiles = 0;
  std::vector<std::uint32_t> begin;    // per tile, into entries
  std::vector<std::uint32_t> entries;  // stretch indices
  std::vector<RowRange> rows;          // per stretch

  TiledStretches(const GridAxes& grid, const LayerReach& reach, bool lat_ascending,
                 std::span<const PresentStretch* const> here, int threads) {
    const std::int64_t nlat = grid.nlat(), nlon = grid.nlon();
    // At most about 24,000 points a tile, so that their planes fit a core's
    // cache, and at least eight tiles where there are rows enough, so that
    // the threads finish together.
    const std::int64_t cached = 24576 / std::max<std::int64_t>(1, nlon);
    const std::int64_t shared = (nlat + 7) / 8;
    tile_rows = std::clamp<std::int64_t>(std::min(cached, shared), 1, 64);
    tiles = (nlat + tile_rows - 1) / tile_rows;
    begin.assign(static_cast<std::size_t>(tiles) + 1, 0);
    rows.resize(here.size());
    constexpr std::int64_t chunk = 4096;
    parallel_for((static_cast<std::int64_t>(here.size()) + chunk - 1) / chunk, threads, [&](std::int64_t c) {
      const std::size_t end = std::min(here.size(), static_cast<std::size_t>((c + 1) * chunk));
      for (std::size_t n = static_cast<std::size_t>(c * chunk); n < end; ++n) {
        rows[n] = rows_of(grid, reach, lat_ascending, here[n]->obs);
      }
    });
    for (const RowRange& r : rows) each_tile(r, [&](std::int64_t t) { ++begin[static_cast<std::size_t>(t) + 1]; });
    for (std::size_t t = 1; t < begin.size(); ++t) begin[t] += begin[t - 1];
    entries.resize(begin.back());
    std::vector<std::uint32_t> at(begin.begin(), begin.end() - 1);
    for (std::size_t n = 0; n < here.size(); ++n) {
      each_tile(rows[n], [&](std::int64_t t) { entries[at[static_cast<std::size_t>(t)]++] = static_cast<std::uint32_t>(n); });
    }
  }

  template <typename Each>
  void each_tile(RowRange r, Each&& each) const {
    if (r.begin >= r.end) return;
    for (std::int64_t t = r.begin / tile_rows; t <= (r.end - 1) / tile_rows; ++t) each(t);
  }

  RowRange cut(RowRange r, std::int64_t tile) const {
    return {std::max(r.begin, tile * tile_rows), std::min(r.end, (tile + 1) * tile_rows)};
  }
};

}  // namespace

void sweep_stretches(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                     std::span<const PresentStretch> stretches, const CoveredDaysTally& tally, int threads) {
  // Points without a bound are swept apart, each against every stretch;
  // the search around the stretches passes over them.
  std::vector<std::int32_t> unbounded_through;
  for (std::uint32_t q : reach.unbounded) {
    unbounded_through.push_back(tally.through[q]);
    tally.through[q] = std::numeric_limits<std::int32_t>::max();
  }
  std::vector<const PresentStretch*> here;
  for (const PresentStretch& s : stretches) {
    if (counts_for(s.obs, layer.ilayer)) here.push_back(&s);
  }
  const bool lat_ascending =
      std::adjacent_find(grid.lat.begin(), grid.lat.end(), [](float a, float b) { return !(a < b); }) == grid.lat.end();
  const TiledStretches tiled(grid, reach, lat_ascending, here, threads);
  // Each thread counts its changes apart; it takes the next tile when done.
  const std::int64_t workers = std::clamp<std::int64_t>(threads, 1, std::max<std::int64_t>(1, tiled.tiles));
  std::vector<std::vector<std::int64_t>> changes(static_cast<std::size_t>(workers),
                                                 std::vector<std::int64_t>(tally.changes.size(), 0));
  std::atomic<std::int64_t> next_tile{0};
  parallel_for(workers, static_cast<int>(workers), [&](std::int64_t w) {
    const StretchSweep sweep{grid, layer, reach, tally, changes[static_cast<std::size_t>(w)], ColumnGuess(grid),
                             reach.quadratic};
    for (std::int64_t t = next_tile++; t < tiled.tiles; t = next_tile++) {
      for (std::uint32_t e = tiled.begin[static_cast<std::size_t>(t)]; e < tiled.begin[static_cast<std::size_t>(t) + 1]; ++e) {
        const std::uint32_t n = tiled.entries[e];
        sweep.stretch(*here[n], tiled.cut(tiled.rows[n], t));
      }
    }
  });
  const StretchSweep sweep{grid, layer, reach, tally, changes[0], ColumnGuess(grid), reach.quadratic};
  for (std::size_t u = 0; u < reach.unbounded.size(); ++u) {
    const std::uint32_t q = reach.unbounded[u];
    tally.through[q] = unbounded_through[u];
    const std::int64_t i = q % grid.nlon(), j = q / grid.nlon();
    for (const PresentStretch* s : here) sweep.test(i, j, *s);
  }
  for (const std::vector<std::int64_t>& c : changes) {
    for (std::size_t d = 0; d < c.size(); ++d) tally.changes[d] += c[d];
  }
}

}  // namespace kelvo
