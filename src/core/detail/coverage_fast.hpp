// The fast evaluation of the coverage decision. It gives, for every water
// point, the same decision as examining every observation: an observation is
// passed over only where a bound proves that it cannot cover the point, an
// observation is taken as covering only where a bound proves that the
// single-precision weights reach the threshold, every observation that could
// go either way is tested with the very same single-precision weights, and a
// point is settled by the first observation that covers it.
//
// The bounds rest on the weights being exp(-a) with a = d^p * s >= 0 where
// the scales and exponents of a point are positive and finite (a "trusted"
// point); at any other point every observation is tested exactly. In the
// logarithm, the single-precision decision fl(wt * fl(wx * wy)) >= threshold
// differs from the exact ax + ay <= level (level = ln wt - ln threshold) by
// the rounding of the powers, products and exponentials: a few units in the
// last place each, a relative error of about 1e-6 in all. Where a
// double-precision estimate of ax + ay is farther from the level than the
// margin (1e-4 by default, a hundred times that error), the decision is known.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "core/coverage_weights.hpp"

namespace kelvo {

struct GridAxes;
struct LayerFields;
struct Observation;

struct FastTuning {
  // Relative safety margin of every bound (reach, time pruning, and the
  // estimate that decides without the single-precision weights): far more
  // than the rounding of the powers, products and exponentials can move a
  // weight across the threshold. Zero turns the safety margin off (tests only).
  double margin = 1e-4;
};

// The reach, in kilometres, beyond which d^p * s is proved to exceed
// `level`, so that exp(-(d^p * s)) is below exp(-level); +infinity where no
// bound is known. Without a level, the coverage threshold's (1).
double reach_km(float p, float s, double level, const FastTuning& tuning);
double reach_km(float p, float s, const FastTuning& tuning);

// Observations may carry a tag below max_tags (such as the index of their
// kind): the search then finds, at each point, the tags whose observations
// cover it, as if each tag's observations were searched alone.
inline constexpr int max_tags = 64;
using TagSet = std::uint64_t;  // bit t: tag t
inline TagSet tag_bit(std::uint32_t tag) { return TagSet{1} << tag; }

// An observation as the search sees it: position, time distance and tag.
struct Candidate {
  float lat;
  float lon;
  float dt;
  std::uint32_t tag;
};

// A coarse latitude-longitude grid over the extent of a set's observations,
// in which each group counts its observations, summed from the south-west
// corner, so that whether any lies in a box is known from four values.
struct CellGrid {
  double lat0 = 0.0, lon0 = 0.0;
  double per_cell_lat = 1.0, per_cell_lon = 1.0;  // cells per degree
  std::int64_t nlat = 0, nlon = 0;
};

// Observations of one tag with a finite position and one time distance (or
// several, when `mixed`), in latitude rows, each row sorted by longitude, so that the
// observations within reach of a point are found by a few binary searches.
struct TimeGroup {
  TagSet tags = 0;                       // the tags of its candidates (one, when the set is tagged)
  bool mixed = false;                    // the candidates have several time distances
  float dt = 0.0f;                       // the time distance of all of them, unless mixed
  std::vector<Candidate> sorted;         // row by row, by longitude within a row
  std::vector<std::int64_t> row_start;   // nrows + 1 offsets into `sorted`
  std::vector<double> row_lat_min;       // latitude extent of the candidates of each row
  std::vector<double> row_lat_max;
  double lat0 = 0.0;
  double per_row_height = 1.0;           // rows per degree of latitude
  std::int64_t nrows = 0;
  // (nlat + 1) x (nlon + 1) of its set's cell grid: the candidates in the
  // cells south-west of each corner.
  std::vector<std::int32_t> cell_sums;
};

// The observations of one set, indexed for the search. Observations without
// a finite position can cover only points without a bound, where every
// observation is tested.
struct ObservationIndex {
  std::vector<TimeGroup> groups;
  CellGrid cells;
  // Each tag's placed observations counted in the cells, whatever their
  // time distance: a tag none of which lies within a point's widest reach
  // is passed over at once.
  struct TagCells {
    TagSet tag;
    std::vector<std::int32_t> sums;
  };
  std::vector<TagCells> tag_cells;
  std::vector<Candidate> all;  // every observation of the set, for points without a bound
  TagSet tags = 0;             // the tags of its observations
};

// Which observations of a set an index searches: every one, or those in
// the slot (a time other than absent_time); its `all` holds every one in
// both, for the points without a bound. An index of the present ones and
// one of the absent ones (index_at_time_distance of its `all`) together
// decide as one index of every observation.
enum class IndexPart { every, present };

// The index of observations that all count for the layers it is used for,
// at the assessment slot `slot`; `tags` gives each observation's tag (all 0
// when empty). Its candidates hold the longitudes placed by `wrap`, that of
// the grid it is searched for.
ObservationIndex index_observations(std::span<const Observation> eligible, std::span<const std::uint32_t> tags,
                                    float slot, LongitudeWrap wrap = {}, IndexPart part = IndexPart::every);
// The same index of the observations obs[k] (with their tags tags[k]) for
// each k of `members`, in that order, without copying them.
ObservationIndex index_observations(std::span<const Observation> obs, std::span<const std::uint32_t> tags,
                                    std::span<const std::uint32_t> members, float slot, LongitudeWrap wrap,
                                    IndexPart part);

// The index of the candidates of `candidates` (an index's `all`) `dt` days
// from the slot, its `all` empty: built from the index itself, after the
// observations it was made from may be gone.
ObservationIndex index_at_time_distance(std::span<const Candidate> candidates, float dt);

// Whether observations `dt` days from the slot may cover a trusted water
// point of `layer` (where `among` is 1, when given): false only where the
// search passes them over at every point for their time distance alone,
// so that an index of them may be left out of the layer's search.
bool time_distance_may_cover(const LayerFields& layer, std::span<const std::uint8_t> among, float dt,
                             const FastTuning& tuning);

// The longitudes a search around `lon` must look at to find every
// longitude within `reach` degrees of it, as the grid compares them: in
// order from west to east, at most three disjoint windows.
// Off a periodic grid [lon - reach, lon + reach]. On one, that window
// widened by the seam slack, and the longitudes 360 - reach less twice the
// slack or more away to either side (to the end of the axis, so that one
// more than 360 away, whose folded separation is negative, is looked at
// too); or every longitude where the reach with the slack is half the
// circle or more, or is not a number.
struct LonWindows {
  int count = 0;
  double lo[3] = {};
  double hi[3] = {};
};
LonWindows longitude_windows(const LongitudeWrap& wrap, double lon, double reach);

// The east-west separation in degrees that a search compares with a reach
// (in double precision, a and b in either order): |a - b|, and on a periodic
// grid, where that is more than 180, 360 less it and less the seam slack,
// so that it is never more than the decision's own folded separation in
// single precision. Every longitude it puts within a reach lies in the
// windows of that reach.
inline double search_separation(const LongitudeWrap& wrap, double a, double b) {
  const double d = std::fabs(a - b);
  if (!wrap.periodic || !(d > 180.0)) return d;
  return 360.0 - d - wrap.seam_slack();
}

// Rows [row_begin, row_end) (0-based) of a layer to decide, its
// observations being those of `indices` together: the water points where
// `among` is 1 (every point when empty), and where each examined point's
// decision goes when `decisions` is not empty: `ntags` planes, 1 in plane t
// where observations of tag t cover the point, 0 where none does.
struct RowsRequest {
  std::span<const ObservationIndex* const> indices;
  std::int64_t row_begin = 0;
  std::int64_t row_end = 0;
  std::span<const std::uint8_t> among{};
  std::span<std::uint8_t> decisions{};
  std::int32_t ntags = 1;
  FastTuning tuning{};
};

// The number of examined water points that observations of any tag cover.
std::int32_t count_covered_rows(const GridAxes& grid, const LayerFields& layer, const RowsRequest& request);

}  // namespace kelvo
