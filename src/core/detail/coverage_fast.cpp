#include "core/detail/coverage_fast.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "core/coverage_engine.hpp"
#include "core/coverage_weights.hpp"

namespace kelvo {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
// Time distances indexed each in a group of their own; with more distinct
// ones, all observations of a set share one mixed group.
constexpr std::size_t max_single_groups = 4;

// ---------------------------------------------------------------- the index

bool placed(const Candidate& c) { return std::isfinite(c.lat) && std::isfinite(c.lon); }

// floor((x - x0) * per_cell) clamped to [0, n - 1]: monotone in x, so the
// cells of the ends of a range bracket the cells of everything inside it.
// (Below 1 the clamp gives 0, and above it truncation is the floor.)
std::int64_t cell_of(double x, double x0, double per_cell, std::int64_t n) {
  const double c = (x - x0) * per_cell;
  if (!(c >= 1.0)) return 0;
  if (c >= static_cast<double>(n - 1)) return n - 1;
  return static_cast<std::int64_t>(c);
}

std::int64_t row_of(const TimeGroup& g, double lat) { return cell_of(lat, g.lat0, g.per_row_height, g.nrows); }

bool same_candidate(const Candidate& a, const Candidate& b) {
  return a.lat == b.lat && a.lon == b.lon && a.dt == b.dt && a.tag == b.tag;
}

// The candidates gathered row by row (by counting), and where each row starts.
std::vector<std::size_t> gather_rows(const TimeGroup& g, std::vector<Candidate>& members) {
  const std::size_t nrows = static_cast<std::size_t>(g.nrows);
  std::vector<std::size_t> row(members.size());
  std::vector<std::size_t> start(nrows + 1, 0);
  for (std::size_t k = 0; k < members.size(); ++k) {
    row[k] = static_cast<std::size_t>(row_of(g, members[k].lat));
    ++start[row[k] + 1];
  }
  for (std::size_t r = 1; r <= nrows; ++r) start[r] += start[r - 1];
  std::vector<Candidate> by_row(members.size());
  std::vector<std::size_t> next(start.begin(), start.end() - 1);
  for (std::size_t k = 0; k < members.size(); ++k) by_row[next[row[k]]++] = members[k];
  members = std::move(by_row);
  return start;
}

bool west_first(const Candidate& a, const Candidate& b) {
  if (a.lon != b.lon) return a.lon < b.lon;
  if (a.lat != b.lat) return a.lat < b.lat;
  if (a.dt != b.dt) return a.dt < b.dt;
  return a.tag < b.tag;
}

// Each gathered row sorted by longitude into g, twins kept once, with the
// latitude extent of its candidates.
void keep_sorted_rows(TimeGroup& g, std::vector<Candidate>& by_row, std::span<const std::size_t> start) {
  const std::size_t nrows = static_cast<std::size_t>(g.nrows);
  g.row_start.assign(nrows + 1, 0);
  g.row_lat_min.assign(nrows, infinity);
  g.row_lat_max.assign(nrows, -infinity);
  g.sorted.reserve(by_row.size());
  for (std::size_t r = 0; r < nrows; ++r) {
    const auto first = by_row.begin() + static_cast<std::ptrdiff_t>(start[r]);
    const auto last = by_row.begin() + static_cast<std::ptrdiff_t>(start[r + 1]);
    std::sort(first, last, west_first);
    const auto end = std::unique(first, last, same_candidate);
    for (auto it = first; it != end; ++it) {
      g.sorted.push_back(*it);
      g.row_lat_min[r] = std::min(g.row_lat_min[r], static_cast<double>(it->lat));
      g.row_lat_max[r] = std::max(g.row_lat_max[r], static_cast<double>(it->lat));
    }
    g.row_start[r + 1] = static_cast<std::int64_t>(g.sorted.size());
  }
}

// Cells about four per candidate, at most 128 x 128, over the extent of
// the candidates.
CellGrid cell_grid(std::span<const std::vector<Candidate>> candidates) {
  double lat_lo = infinity, lat_hi = -infinity, lon_lo = infinity, lon_hi = -infinity;
  std::size_t n = 0;
  for (const std::vector<Candidate>& cs : candidates) {
    n += cs.size();
    for (const Candidate& c : cs) {
      lat_lo = std::min(lat_lo, static_cast<double>(c.lat));
      lat_hi = std::max(lat_hi, static_cast<double>(c.lat));
      lon_lo = std::min(lon_lo, static_cast<double>(c.lon));
      lon_hi = std::max(lon_hi, static_cast<double>(c.lon));
    }
  }
  CellGrid cg;
  if (n == 0) return cg;
  const std::int64_t side = std::clamp<std::int64_t>(
      static_cast<std::int64_t>(std::ceil(2.0 * std::sqrt(static_cast<double>(n)))), 1, 128);
  cg.lat0 = lat_lo;
  cg.lon0 = lon_lo;
  cg.nlat = lat_hi > lat_lo ? side : 1;
  cg.nlon = lon_hi > lon_lo ? side : 1;
  cg.per_cell_lat = lat_hi > lat_lo ? static_cast<double>(cg.nlat) / (lat_hi - lat_lo) : 1.0;
  cg.per_cell_lon = lon_hi > lon_lo ? static_cast<double>(cg.nlon) / (lon_hi - lon_lo) : 1.0;
  return cg;
}

std::vector<std::int32_t> count_cells(const CellGrid& cg, std::span<const Candidate> members) {
  const std::size_t width = static_cast<std::size_t>(cg.nlon + 1);
  std::vector<std::int32_t> sum(static_cast<std::size_t>(cg.nlat + 1) * width, 0);
  for (const Candidate& c : members) {
    const auto y = static_cast<std::size_t>(cell_of(c.lat, cg.lat0, cg.per_cell_lat, cg.nlat));
    const auto x = static_cast<std::size_t>(cell_of(c.lon, cg.lon0, cg.per_cell_lon, cg.nlon));
    ++sum[(y + 1) * width + x + 1];
  }
  for (std::size_t y = 1; y < static_cast<std::size_t>(cg.nlat + 1); ++y) {
    for (std::size_t x = 1; x < width; ++x) {
      sum[y * width + x] += sum[(y - 1) * width + x] + sum[y * width + x - 1] - sum[(y - 1) * width + x - 1];
    }
  }
  return sum;
}

// The corners, in the cell sums, of the cells that a box
// [lat_lo, lat_hi] x [lon_lo, lon_hi] touches.
struct CellBox {
  std::size_t y0, y1, x0, x1;
};

CellBox box_cells(const CellGrid& cg, double lat_lo, double lat_hi, double lon_lo, double lon_hi) {
  return {static_cast<std::size_t>(cell_of(lat_lo, cg.lat0, cg.per_cell_lat, cg.nlat)),
          static_cast<std::size_t>(cell_of(lat_hi, cg.lat0, cg.per_cell_lat, cg.nlat)) + 1,
          static_cast<std::size_t>(cell_of(lon_lo, cg.lon0, cg.per_cell_lon, cg.nlon)),
          static_cast<std::size_t>(cell_of(lon_hi, cg.lon0, cg.per_cell_lon, cg.nlon)) + 1};
}

// Whether any candidate of the group may lie in the box: false only where
// none lies in the cells it touches.
bool any_in(const std::vector<std::int32_t>& sum, const CellGrid& cg, const CellBox& b) {
  if (sum.empty()) return false;
  const std::size_t width = static_cast<std::size_t>(cg.nlon + 1);
  return sum[b.y1 * width + b.x1] - sum[b.y0 * width + b.x1] - sum[b.y1 * width + b.x0] + sum[b.y0 * width + b.x0] > 0;
}

// Rows of about the square root of the number of candidates over their
// latitude span; within a row by longitude, and twins (the same position,
// time distance and tag, which decide alike) kept once.
TimeGroup make_group(std::vector<Candidate> members, bool mixed, TagSet tags, const CellGrid& cells) {
  TimeGroup g;
  g.tags = tags;
  g.mixed = mixed;
  g.dt = members.empty() ? 0.0f : members.front().dt;
  if (members.empty()) return g;
  const auto [lo, hi] = std::minmax_element(members.begin(), members.end(),
                                            [](const Candidate& a, const Candidate& b) { return a.lat < b.lat; });
  const double span_lat = static_cast<double>(hi->lat) - static_cast<double>(lo->lat);
  g.lat0 = lo->lat;
  g.nrows = std::clamp<std::int64_t>(
      static_cast<std::int64_t>(std::ceil(std::sqrt(static_cast<double>(members.size())))), 1, 4096);
  g.per_row_height = span_lat > 0.0 ? static_cast<double>(g.nrows) / span_lat : 1.0;
  if (!(span_lat > 0.0)) g.nrows = 1;
  const std::vector<std::size_t> start = gather_rows(g, members);
  keep_sorted_rows(g, members, start);
  g.cell_sums = count_cells(cells, g.sorted);
  return g;
}

// The distinct time distances of the candidates, ascending, when there are
// at most max_single_groups of them.
std::optional<std::vector<float>> few_time_distances(std::span<const Candidate> cands) {
  std::vector<float> dts;
  for (const Candidate& c : cands) {
    if (std::find(dts.begin(), dts.end(), c.dt) != dts.end()) continue;
    if (dts.size() == max_single_groups) return std::nullopt;
    dts.push_back(c.dt);
  }
  std::sort(dts.begin(), dts.end());
  return dts;
}

// ---------------------------------------------------------------- bounds

// ln of the threshold, and the level ax + ay + at must stay under.
const double log_threshold = std::log(static_cast<double>(coverage_threshold));
const double threshold_level = -log_threshold;

// d^p * s in double precision: an estimate of the single-precision
// powf(d, p) * s within a relative 1e-15, exact products for p = 1 and 2.
double power_term(double d, float p, float s) {
  if (p == 1.0f) return d * static_cast<double>(s);
  if (p == 2.0f) return d * d * static_cast<double>(s);
  return std::pow(d, static_cast<double>(p)) * static_cast<double>(s);
}

// The distance at which d^p * s reaches `level` (positive finite p, s),
// given 1 / s.
double distance_at(double level, float p, double per_s) {
  const double x = level * per_s;
  if (p == 1.0f) return x;
  if (p == 2.0f) return std::sqrt(x);
  return std::pow(x, 1.0 / static_cast<double>(p));
}

// A level widened by the safety margin: what ax + ay or a single term may
// reach at most and still belong to a covering observation.
double widened(double level, const FastTuning& t) { return level * (1.0 + t.margin) + t.margin; }

bool positive_finite(float v) { return v > 0.0f && std::isfinite(v); }

// The bounds hold only where both horizontal weights are at most 1 and
// shrink with distance: positive finite scales and exponents, a finite
// position, a positive number of kilometres per degree of longitude, and
// (on a periodic grid) no observation so far round that its separation
// taken the short way is negative.
bool bound_trusted(const PointScales& p) {
  return positive_finite(p.sx) && positive_finite(p.sy) && positive_finite(p.px) && positive_finite(p.py) &&
         positive_finite(p.dxkm) && std::isfinite(p.lon) && std::isfinite(p.lat) &&
         p.wrap.separations_not_negative(p.lon);
}

// The single-precision time weight exp(-(dt^pt * st)), as the decision
// forms it; at dt = 0 with a positive exponent and a finite scale it is 1
// (0^pt = +0, so the exponential of -0), without evaluating it.
float time_weight(float dt, float pt, float st) {
  if (dt == 0.0f && pt > 0.0f && std::isfinite(st)) return 1.0f;
  return direction_weight(dt, pt, st);
}

// Where the time scale and exponent are positive and finite, a time term
// far above the level proves the time weight, and with it every product of
// weights at most 1, below the threshold.
bool time_certainly_too_far(const PointScales& p, float dt, const FastTuning& t) {
  if (!positive_finite(p.pt) || !positive_finite(p.st)) return false;
  return power_term(dt, p.pt, p.st) > widened(threshold_level, t);
}

// What the time distance dt leaves at a trusted point: whether an
// observation that far in time can cover it at all and, if so, the level
// ax + ay must stay under (ln wt - ln threshold, the threshold's own
// level where wt >= 1) and the band around it where only the
// single-precision weights decide.
struct TimeLevel {
  bool can_cover = false;
  double level = 0.0;
  double band = 0.0;
};

TimeLevel time_level(const PointScales& p, float dt, const FastTuning& t) {
  if (time_certainly_too_far(p, dt, t)) return {};
  // fl(wt * w) <= wt with w <= 1: below the threshold whatever w is (also not a number).
  const float wt = time_weight(dt, p.pt, p.st);
  if (!(wt >= coverage_threshold)) return {};
  const double level = wt >= 1.0f ? threshold_level : std::log(static_cast<double>(wt)) - log_threshold;
  return {true, level, t.margin * (1.0 + level)};
}

// Does the observation c, its time distance leaving `tl`, cover the
// trusted point p? Away from the level the estimate decides; near it, the
// decision's own single-precision weights. The estimate starts from the
// decision's own single-precision distances (c.lon is placed, as the
// decision places it), so that only the powers, products and exponentials
// separate the two. `Round`: the grid may be periodic; without it (a grid
// known not to be) the separation is |c.lon - p.lon| as the decision's is
// there, the test of the wrap left out of the search's inner loop.
template <bool Round>
bool covers(const PointScales& p, const Candidate& c, const TimeLevel& tl) {
  const float separation = Round ? p.wrap.separation(c.lon, p.lon) : std::fabs(c.lon - p.lon);
  const float dx = separation * p.dxkm;
  const float dy = std::fabs(c.lat - p.lat) * km_per_degree;
  const double e = power_term(dx, p.px, p.sx) + power_term(dy, p.py, p.sy);
  if (e < tl.level - tl.band) return true;
  if (e > tl.level + tl.band) return false;
  return observation_covers(p, c.lat, c.lon, c.dt);
}

// Removes from `missing` the tags of the candidates that cover p, tested
// exactly; stops when none is missing.
void settle_exactly(const PointScales& p, std::span<const Candidate> candidates, TagSet& missing) {
  for (const Candidate& c : candidates) {
    if (missing == 0) return;
    if ((missing & tag_bit(c.tag)) != 0 && observation_covers(p, c.lat, c.lon, c.dt)) missing &= ~tag_bit(c.tag);
  }
}

// ---------------------------------------------------------------- the search

// The time levels of one point for the time distances asked for, the
// first few remembered (most observations share one to three, and each
// tag's groups ask for them in turn).
struct TimeLevels {
  static constexpr int kept = 4;
  const PointScales& p;
  const FastTuning& t;
  float dt[kept];
  TimeLevel tl[kept];
  int count = 0;
  TimeLevel other;

  TimeLevels(const PointScales& point, const FastTuning& tuning) : p(point), t(tuning) {}

  const TimeLevel& of(float d) {
    for (int k = 0; k < count; ++k) {
      if (dt[k] == d) return tl[k];
    }
    if (count == kept) {
      other = time_level(p, d, t);
      return other;
    }
    dt[count] = d;
    tl[count] = time_level(p, d, t);
    return tl[count++];
  }
};

// Extent of the search in one group: the latitude reach in degrees and the
// level (widened) the horizontal terms must stay under. The widening of the
// degrees absorbs the rounding of the differences and of the products by
// kilometres per degree.
// (The reciprocals replace divisions in the search: their rounding, a unit
// in the last place of a double, is far inside that widening.)
struct GroupReach {
  double level;
  double lat_deg;
  double lon_deg;  // in a row at the point's own latitude
};

// A trusted point as the search sees it, with the reciprocals of its
// scales and of its kilometres per degree of longitude, and the widening of
// reaches in degrees.
struct SearchPoint {
  PointScales p;
  double lat, lon;
  double per_sx, per_sy, per_dxkm;
  double widen, shrink;  // 1 + 1e-6 and its reciprocal; 1 without margin
};

SearchPoint search_point(const PointScales& p, const FastTuning& t) {
  const double widen = t.margin > 0.0 ? 1.0 + 1e-6 : 1.0;
  return {p,
          p.lat,
          p.lon,
          1.0 / static_cast<double>(p.sx),
          1.0 / static_cast<double>(p.sy),
          1.0 / static_cast<double>(p.dxkm),
          widen,
          1.0 / widen};
}

constexpr double per_km_per_degree = 1.0 / static_cast<double>(km_per_degree);
// Far more than the rounding that separates a row's reach from the point's.
constexpr double box_widening = 1.0 + 1e-9;

// The small steps of the search of a point, kept inline in the search of
// a grid that does not wrap round although the search of a periodic grid
// calls them too (called from two places, the compiler would keep them
// out of line, a few per cent of the search's time).
#define KELVO_SEARCH_STEP [[gnu::always_inline]] inline

KELVO_SEARCH_STEP GroupReach group_reach(const SearchPoint& sp, double level, const FastTuning& t) {
  const double w = widened(level, t);
  return {w, distance_at(w, sp.p.py, sp.per_sy) * per_km_per_degree * sp.widen,
          distance_at(w, sp.p.px, sp.per_sx) * sp.per_dxkm * sp.widen};
}

// The longitude reach in degrees left in row r of g: the nearest latitude
// of its candidates already uses part of the level. Negative when nothing
// of the row is within reach.
KELVO_SEARCH_STEP double row_lon_reach(const SearchPoint& sp, const TimeGroup& g, std::size_t r,
                                       const GroupReach& reach) {
  const double dlat = std::max({0.0, g.row_lat_min[r] - sp.lat, sp.lat - g.row_lat_max[r]});
  if (dlat > reach.lat_deg) return -1.0;
  if (dlat == 0.0) return reach.lon_deg;
  const double rest =
      reach.level - power_term(dlat * static_cast<double>(km_per_degree) * sp.shrink, sp.p.py, sp.p.sy);
  if (rest < 0.0) return -1.0;
  return distance_at(rest, sp.p.px, sp.per_sx) * sp.per_dxkm * sp.widen;
}

// The first candidate of [first, last) at or east of `lon`, searched
// outward from `hint` by doubling steps and then by halving: neighbouring
// points of a grid row look for nearly the same longitudes.
KELVO_SEARCH_STEP const Candidate* first_at_or_east(const Candidate* first, const Candidate* last,
                                                   const Candidate* hint, double lon) {
  const auto west_of = [lon](const Candidate& c) { return static_cast<double>(c.lon) < lon; };
  std::ptrdiff_t step = 1;
  if (hint == last || !west_of(*hint)) {
    const Candidate* hi = hint;
    for (;;) {
      const Candidate* lo = hi - std::min<std::ptrdiff_t>(step, hi - first);
      if (lo == first || west_of(*lo)) return std::partition_point(lo, hi, west_of);
      hi = lo;
      step *= 2;
    }
  }
  const Candidate* lo = hint + 1;
  for (;;) {
    const Candidate* hi = lo + std::min<std::ptrdiff_t>(step, last - lo);
    if (hi == last || !west_of(*hi)) return std::partition_point(lo, hi, west_of);
    lo = hi + 1;
    step *= 2;
  }
}

// Where the search of each row of each group began at the previous point.
struct RowHints {
  std::vector<std::vector<std::int64_t>> of_group;  // groups of every index in turn, then rows

  explicit RowHints(std::span<const ObservationIndex* const> indices) {
    for (const ObservationIndex* index : indices) {
      for (const TimeGroup& g : index->groups) of_group.emplace_back(static_cast<std::size_t>(g.nrows), 0);
    }
  }
};

// What the search of a point keeps: the tags not yet known to cover it,
// and the observation found covering it for each tag found.
struct PointSearch {
  TagSet missing;
  std::span<Candidate> coverer;  // per tag
};

// Looks through the candidates from `it` on, up to the first east of
// `lon_hi`, for observations of the missing tags covering the trusted
// point; true when none of the group's tags is missing any more.
template <bool Round>
KELVO_SEARCH_STEP bool scan_row(const SearchPoint& sp, const TimeGroup& g, const Candidate* it,
                                const Candidate* last, double lon_hi, const GroupReach& reach,
                                const TimeLevel& fixed, TimeLevels& times, PointSearch& search) {
  for (; it != last && static_cast<double>(it->lon) <= lon_hi; ++it) {
    if ((search.missing & tag_bit(it->tag)) == 0) continue;
    if (std::fabs(static_cast<double>(it->lat) - sp.lat) > reach.lat_deg) continue;
    const TimeLevel& tl = g.mixed ? times.of(it->dt) : fixed;
    if (tl.can_cover && covers<Round>(sp.p, *it, tl)) {
      search.missing &= ~tag_bit(it->tag);
      search.coverer[it->tag] = *it;
      if ((search.missing & g.tags) == 0) return true;
    }
  }
  return false;
}

// scan_row over the windows of a row's longitude reach on a periodic grid:
// the candidates hold placed longitudes, so those within reach the other
// way round the circle lie at the far end of the row. Only the window
// around the point keeps a hint; the one east of it is searched from the
// row's end.
bool scan_row_round(const SearchPoint& sp, const TimeGroup& g, std::size_t r, double lon_reach,
                    const GroupReach& reach, const TimeLevel& fixed, std::span<std::int64_t> hints,
                    TimeLevels& times, PointSearch& search) {
  const Candidate* first = g.sorted.data() + g.row_start[r];
  const Candidate* last = g.sorted.data() + g.row_start[r + 1];
  const LonWindows w = longitude_windows(sp.p.wrap, sp.lon, lon_reach);
  for (int k = 0; k < w.count; ++k) {
    const bool around_point = w.count == 3 && k == 1;
    const Candidate* hint = around_point ? first + hints[r] : (k == 2 ? last : first);
    const Candidate* it = first_at_or_east(first, last, hint, w.lo[k]);
    if (around_point) hints[r] = it - first;
    if (scan_row<true>(sp, g, it, last, w.hi[k], reach, fixed, times, search)) return true;
  }
  return false;
}

// Searches row r of group g for observations of the missing tags covering
// the trusted point; true when none of the group's tags is missing any more.
// `Round`: the grid is periodic (decided once per group, outside the rows).
template <bool Round>
bool search_row(const SearchPoint& sp, const TimeGroup& g, std::size_t r, const GroupReach& reach,
                const TimeLevel& fixed, std::span<std::int64_t> hints, TimeLevels& times, PointSearch& search) {
  if (g.row_start[r] == g.row_start[r + 1]) return false;
  const double lon_reach = row_lon_reach(sp, g, r, reach);
  if (lon_reach < 0.0) return false;
  if constexpr (Round) return scan_row_round(sp, g, r, lon_reach, reach, fixed, hints, times, search);
  const Candidate* first = g.sorted.data() + g.row_start[r];
  const Candidate* last = g.sorted.data() + g.row_start[r + 1];
  const double lon_hi = sp.lon + lon_reach;
  const Candidate* it = first_at_or_east(first, last, first + hints[r], sp.lon - lon_reach);
  hints[r] = it - first;
  return scan_row<false>(sp, g, it, last, lon_hi, reach, fixed, times, search);
}

// Searches the rows of group g within the reach for observations of the
// missing tags covering the trusted point; stops when none of the group's tags is missing.
template <bool Round>
void search_rows(const SearchPoint& sp, const TimeGroup& g, const GroupReach& reach, const TimeLevel& fixed,
                 std::span<std::int64_t> hints, TimeLevels& times, PointSearch& search) {
  const double lat = sp.lat;
  // row_of is monotone in the latitude and an observation's latitude is a
  // double exactly, so the rounded ends of the reach still bracket the row
  // of every observation within it.
  const std::int64_t r_lo = row_of(g, lat - reach.lat_deg);
  const std::int64_t r_hi = row_of(g, lat + reach.lat_deg);
  // Looking for several tags, most points need every row: south to north.
  const TagSet sought = search.missing & g.tags;
  if ((sought & (sought - 1)) != 0) {
    for (std::int64_t r = r_lo; r <= r_hi; ++r) {
      if (search_row<Round>(sp, g, static_cast<std::size_t>(r), reach, fixed, hints, times, search)) return;
    }
    return;
  }
  // For one, the point's own row first, then outward: the nearer
  // observations are the likelier to cover, and the first ends the search.
  const std::int64_t r_own = std::clamp(row_of(g, lat), r_lo, r_hi);
  for (std::int64_t step = 0; r_own - step >= r_lo || r_own + step <= r_hi; ++step) {
    for (const std::int64_t r : {r_own - step, r_own + step}) {
      if (r < r_lo || r > r_hi || (step == 0 && r != r_own - step)) continue;
      if (search_row<Round>(sp, g, static_cast<std::size_t>(r), reach, fixed, hints, times, search)) return;
    }
  }
}

// Whether the longitudes [lon - box_lon, lon + box_lon] of a box lie within
// the placed longitudes [west, east end) of a periodic grid by the seam
// slack on each side, so that no observation lies within reach the other
// way round the circle and the box holds every one within reach. (Out of
// line: the search of a grid that does not wrap round never calls it.)
[[gnu::noinline]] bool box_clear_of_seam(const LongitudeWrap& wrap, double lon, double box_lon) {
  const double slack = wrap.seam_slack();
  const double east_end = static_cast<double>(wrap.west + 360.0f);
  return lon - box_lon - slack >= static_cast<double>(wrap.west) && lon + box_lon + slack < east_end;
}

// The reach of one level at a point and the cells of a set's grid that the
// box around it touches: the rows look no farther than the reach in
// latitude and in longitude (a row's longitude reach is at most the
// point's own), and a box a little wider holds every observation they
// could examine (on a periodic grid, only a box clear of the seam).
struct LevelReach {
  double level;
  const CellGrid* cells;
  GroupReach reach;
  bool boxed;  // a finite reach, so that the box test applies
  CellBox box;
};

// The reaches of one point, the first few levels and sets remembered (the
// groups of every tag ask for the same ones in turn).
struct LevelReaches {
  static constexpr int kept = 8;
  const SearchPoint& sp;
  const FastTuning& t;
  LevelReach entry[kept];
  int count = 0;
  LevelReach other;

  LevelReaches(const SearchPoint& point, const FastTuning& tuning) : sp(point), t(tuning) {}

  const LevelReach& of(double level, const CellGrid& cells) {
    for (int k = 0; k < count; ++k) {
      if (entry[k].level == level && entry[k].cells == &cells) return entry[k];
    }
    LevelReach& r = count < kept ? entry[count++] : other;
    r.level = level;
    r.cells = &cells;
    r.reach = group_reach(sp, level, t);
    const double box_lat = r.reach.lat_deg * box_widening;
    const double box_lon = r.reach.lon_deg * box_widening;
    r.boxed = box_lat < infinity && box_lon < infinity;
    if (r.boxed && sp.p.wrap.periodic) r.boxed = box_clear_of_seam(sp.p.wrap, sp.lon, box_lon);
    if (r.boxed) r.box = box_cells(cells, sp.lat - box_lat, sp.lat + box_lat, sp.lon - box_lon, sp.lon + box_lon);
    return r;
  }
};

// Searches group g of `index` for observations of the missing tags covering
// the trusted point; stops when none of the group's tags is missing.
void search_group(const SearchPoint& sp, const ObservationIndex& index, const TimeGroup& g,
                  std::span<std::int64_t> hints, TimeLevels& times, LevelReaches& reaches, PointSearch& search) {
  if (g.nrows == 0 || (search.missing & g.tags) == 0) return;
  TimeLevel fixed;
  if (!g.mixed) {
    fixed = times.of(g.dt);
    if (!fixed.can_cover) return;
  }
  const LevelReach& r = reaches.of(g.mixed ? threshold_level : fixed.level, index.cells);
  if (r.boxed && !any_in(g.cell_sums, index.cells, r.box)) return;
  const GroupReach reach = r.reach;
  if (sp.p.wrap.periodic) {
    search_rows<true>(sp, g, reach, fixed, hints, times, search);
  } else {
    search_rows<false>(sp, g, reach, fixed, hints, times, search);
  }
}

// The observations that covered, for each tag, the previous point of the
// grid row and the point below (the previous row, same column) in this
// band: neighbouring points are mostly covered by the same observation.
struct RecentCoverers {
  std::int64_t nlon;
  std::vector<std::optional<Candidate>> left;   // per tag
  std::vector<std::optional<Candidate>> below;  // per tag and column
  std::vector<Candidate> found;                 // per tag, of the point being decided

  RecentCoverers(std::int32_t ntags, std::int64_t columns)
      : nlon(columns),
        left(static_cast<std::size_t>(ntags)),
        below(static_cast<std::size_t>(ntags) * static_cast<std::size_t>(columns)),
        found(static_cast<std::size_t>(ntags)) {}
  std::optional<Candidate>& below_of(std::uint32_t tag, std::int64_t i) {
    return below[static_cast<std::size_t>(tag) * static_cast<std::size_t>(nlon) + static_cast<std::size_t>(i)];
  }
};

bool recent_covers(const PointScales& p, const std::optional<Candidate>& c, TimeLevels& times) {
  if (!c) return false;
  const TimeLevel& tl = times.of(c->dt);
  return tl.can_cover && (p.wrap.periodic ? covers<true>(p, *c, tl) : covers<false>(p, *c, tl));
}

// The missing tags none of whose observations lies in the box of the
// point's widest reach (that of a time weight of 1), so that none covers it.
TagSet tags_out_of_reach(std::span<const ObservationIndex* const> indices, TagSet missing, LevelReaches& reaches) {
  TagSet near = 0;
  for (const ObservationIndex* index : indices) {
    if (index->tag_cells.empty()) continue;
    const LevelReach& widest = reaches.of(threshold_level, index->cells);
    if (!widest.boxed) return 0;
    for (const ObservationIndex::TagCells& tc : index->tag_cells) {
      if ((missing & tc.tag & ~near) != 0 && any_in(tc.sums, index->cells, widest.box)) near |= tc.tag;
    }
  }
  return missing & ~near;
}

// Tries, for each missing tag, the observations that covered the neighbours.
void try_recent(const PointScales& p, std::int64_t i, TimeLevels& times, RecentCoverers& recent,
                PointSearch& search) {
  for (TagSet m = search.missing; m != 0; m &= m - 1) {
    const auto tag = static_cast<std::uint32_t>(std::countr_zero(m));
    for (const std::optional<Candidate>* c : {&recent.left[tag], &recent.below_of(tag, i)}) {
      if (recent_covers(p, *c, times)) {
        search.missing &= ~tag_bit(tag);
        search.coverer[tag] = **c;
        break;
      }
    }
  }
}

// The tags covering trusted point (i, .) among `wanted`: first the
// observations that covered its neighbours, then the search of every group.
// Each tag's coverer becomes the neighbours' of the next points.
TagSet trusted_point_tags(const PointScales& p, std::int64_t i, std::span<const ObservationIndex* const> indices,
                          TagSet wanted, const FastTuning& t, RecentCoverers& recent, RowHints& hints) {
  PointSearch search{wanted, recent.found};
  TimeLevels times{p, t};
  try_recent(p, i, times, recent, search);
  TagSet out_of_reach = 0;
  if (search.missing != 0) {
    const SearchPoint sp = search_point(p, t);
    LevelReaches reaches{sp, t};
    out_of_reach = tags_out_of_reach(indices, search.missing, reaches);
    search.missing &= ~out_of_reach;
    std::size_t n = 0;
    for (const ObservationIndex* index : indices) {
      for (const TimeGroup& g : index->groups) {
        std::span<std::int64_t> group_hints = hints.of_group[n++];
        if (search.missing != 0) search_group(sp, *index, g, group_hints, times, reaches, search);
      }
    }
  }
  const TagSet covering = wanted & ~search.missing & ~out_of_reach;
  for (TagSet m = wanted; m != 0; m &= m - 1) {
    const auto tag = static_cast<std::uint32_t>(std::countr_zero(m));
    if ((covering & tag_bit(tag)) != 0) {
      recent.left[tag] = recent.found[tag];
      recent.below_of(tag, i) = recent.found[tag];
    } else {
      recent.left[tag].reset();
      recent.below_of(tag, i).reset();
    }
  }
  return covering;
}

TagSet untrusted_point_tags(const PointScales& p, std::span<const ObservationIndex* const> indices, TagSet wanted) {
  TagSet missing = wanted;
  for (const ObservationIndex* index : indices) settle_exactly(p, index->all, missing);
  return wanted & ~missing;
}

}  // namespace

double reach_km(float p, float s, double level, const FastTuning& tuning) {
  if (!positive_finite(p) || !positive_finite(s)) return infinity;
  // d^p * s > level' <=> d > (level' / s)^(1/p), level' the widened level
  const double r = distance_at(widened(level, tuning), p, 1.0 / static_cast<double>(s));
  return std::isnan(r) ? infinity : r;
}

double reach_km(float p, float s, const FastTuning& tuning) { return reach_km(p, s, 1.0, tuning); }

LonWindows longitude_windows(const LongitudeWrap& wrap, double lon, double reach) {
  if (!wrap.periodic) return {1, {lon - reach}, {lon + reach}};
  const double slack = wrap.seam_slack();
  // From half the circle on, the windows would meet: the whole axis.
  if (!(reach + 2.0 * slack < 180.0)) return {1, {-infinity}, {infinity}};
  return {3,
          {-infinity, lon - reach - slack, lon + 360.0 - reach - 2.0 * slack},
          {lon - 360.0 + reach + 2.0 * slack, lon + reach + slack, infinity}};
}

namespace {

bool searched_in(IndexPart part, const Observation& o) { return part == IndexPart::every || o.time != absent_time; }

}  // namespace

bool time_distance_may_cover(const LayerFields& layer, std::span<const std::uint8_t> among, float dt,
                             const FastTuning& tuning) {
  const double too_far = widened(threshold_level, tuning);
  const bool exponent_bounds = positive_finite(layer.pt);
  PointScales p{};
  p.pt = layer.pt;
  for (std::size_t q = 0; q < layer.water.size(); ++q) {
    if (layer.water[q] != 1 || (!among.empty() && among[q] != 1)) continue;
    const float st = layer.st[q];
    // time_certainly_too_far, at once for the usual point.
    if (exponent_bounds && positive_finite(st) && power_term(dt, layer.pt, st) > too_far) continue;
    p.st = st;
    if (time_level(p, dt, tuning).can_cover) return true;
  }
  return false;
}

namespace {

// The cell grid, each tag's cell counts and its groups of the placed
// candidates of each tag.
void group_by_tag(ObservationIndex& index, std::vector<std::vector<Candidate>>& placed_of_tag) {
  index.cells = cell_grid(placed_of_tag);
  // Each tag's groups of its own: a search for the tags still missing at a
  // point passes over the observations of the tags already found.
  for (std::vector<Candidate>& placed_ones : placed_of_tag) {
    if (placed_ones.empty()) continue;
    const TagSet tag = tag_bit(placed_ones.front().tag);
    index.tag_cells.push_back({tag, count_cells(index.cells, placed_ones)});
    const std::optional<std::vector<float>> dts = few_time_distances(placed_ones);
    if (!dts) {
      index.groups.push_back(make_group(std::move(placed_ones), true, tag, index.cells));
      continue;
    }
    if (dts->size() == 1) {
      index.groups.push_back(make_group(std::move(placed_ones), false, tag, index.cells));
      continue;
    }
    for (float dt : *dts) {
      std::vector<Candidate> members;
      for (const Candidate& c : placed_ones) {
        if (c.dt == dt) members.push_back(c);
      }
      index.groups.push_back(make_group(std::move(members), false, tag, index.cells));
    }
  }
}

}  // namespace

namespace {

// The index of `count` observations, the n-th being observation(n) with
// tag tag(n).
template <typename ObservationAt, typename TagAt>
ObservationIndex index_of(std::size_t count, ObservationAt observation, TagAt tag_of, float slot, LongitudeWrap wrap,
                          IndexPart part) {
  ObservationIndex index;
  index.all.reserve(count);
  // Room for each tag's observations, counted first.
  std::vector<std::size_t> per_tag(1, 0);
  for (std::size_t n = 0; n < count; ++n) {
    if (!searched_in(part, observation(n))) continue;
    const std::uint32_t tag = tag_of(n);
    if (tag >= per_tag.size()) per_tag.resize(tag + 1, 0);
    ++per_tag[tag];
  }
  std::vector<std::vector<Candidate>> placed_of_tag(per_tag.size());
  for (std::size_t t = 0; t < per_tag.size(); ++t) placed_of_tag[t].reserve(per_tag[t]);
  for (std::size_t n = 0; n < count; ++n) {
    const Observation& o = observation(n);
    const Candidate c{o.lat, wrap.place(o.lon), time_distance(slot, &o.time, 1), tag_of(n)};
    // The tags of `all` too: the points without a bound look for them there.
    index.all.push_back(c);
    index.tags |= tag_bit(c.tag);
    if (!searched_in(part, o) || !placed(c)) continue;
    if (c.tag >= placed_of_tag.size()) placed_of_tag.resize(c.tag + 1);
    placed_of_tag[c.tag].push_back(c);
  }
  group_by_tag(index, placed_of_tag);
  return index;
}

}  // namespace

ObservationIndex index_at_time_distance(std::span<const Candidate> candidates, float dt) {
  ObservationIndex index;
  std::vector<std::vector<Candidate>> placed_of_tag(1);
  for (const Candidate& c : candidates) {
    if (c.dt != dt || !placed(c)) continue;
    index.tags |= tag_bit(c.tag);
    if (c.tag >= placed_of_tag.size()) placed_of_tag.resize(c.tag + 1);
    placed_of_tag[c.tag].push_back(c);
  }
  group_by_tag(index, placed_of_tag);
  return index;
}

ObservationIndex index_observations(std::span<const Observation> eligible, std::span<const std::uint32_t> tags,
                                    float slot, LongitudeWrap wrap, IndexPart part) {
  return index_of(
      eligible.size(), [&](std::size_t n) -> const Observation& { return eligible[n]; },
      [&](std::size_t n) { return tags.empty() ? 0u : tags[n]; }, slot, wrap, part);
}

ObservationIndex index_observations(std::span<const Observation> obs, std::span<const std::uint32_t> tags,
                                    std::span<const std::uint32_t> members, float slot, LongitudeWrap wrap,
                                    IndexPart part) {
  return index_of(
      members.size(), [&](std::size_t n) -> const Observation& { return obs[members[n]]; },
      [&](std::size_t n) { return tags.empty() ? 0u : tags[members[n]]; }, slot, wrap, part);
}


std::int32_t count_covered_rows(const GridAxes& grid, const LayerFields& layer, const RowsRequest& r) {
  TagSet wanted = 0;
  for (const ObservationIndex* index : r.indices) wanted |= index->tags;
  const std::size_t plane = static_cast<std::size_t>(grid.plane_size());
  std::int32_t ksum = 0;
  RowHints hints(r.indices);
  RecentCoverers recent(r.ntags, grid.nlon());
  for (std::int64_t j = r.row_begin; j < r.row_end; ++j) {
    std::fill(recent.left.begin(), recent.left.end(), std::nullopt);
    for (std::int64_t i = 0; i < grid.nlon(); ++i) {
      const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
      if (layer.water[q] != 1) continue;
      if (!r.among.empty() && r.among[q] != 1) continue;
      const PointScales p = point_scales(grid, layer, i, j);
      const TagSet covering = bound_trusted(p) ? trusted_point_tags(p, i, r.indices, wanted, r.tuning, recent, hints)
                                               : untrusted_point_tags(p, r.indices, wanted);
      if (covering != 0) ++ksum;
      if (r.decisions.empty()) continue;
      for (std::int32_t tag = 0; tag < r.ntags; ++tag) {
        r.decisions[static_cast<std::size_t>(tag) * plane + q] = (covering & tag_bit(static_cast<std::uint32_t>(tag))) != 0 ? 1 : 0;
      }
    }
  }
  return ksum;
}

#undef KELVO_SEARCH_STEP

}  // namespace kelvo
