// The coverage engine: the one decision, for every water point of a layer,
// whether an observation lies within decorrelation reach in distance and
// time, over plain read-only inputs. Every tool calls it with inputs of its
// own (the files of a run, another assessment day, another or a larger set of
// observations); it keeps no state between calls.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/detail/coverage_fast.hpp"
#include "core/coverage_weights.hpp"

namespace kelvo {

// Layer assignment of an observation: every layer, no layer, or (positive)
// the one layer it counts for.
inline constexpr std::int32_t every_layer = -9;
inline constexpr std::int32_t no_layer = 0;
// Time of an observation absent from the assessment slot.
inline constexpr float absent_time = -99999.0f;

struct Observation {
  float lat = 0.0f;             // degrees north
  float lon = 0.0f;             // degrees east
  float time = absent_time;     // day number at the slot, or absent_time
  std::int32_t layer = no_layer;
  std::int32_t kind = 0;        // platform kind code
};

inline bool counts_for(const Observation& o, std::int32_t ilayer) { return o.layer < 0 || o.layer == ilayer; }

// The grid: axes and kilometres per degree of longitude of each row.
struct GridAxes {
  std::span<const float> lon;   // nlon
  std::span<const float> lat;   // nlat
  std::span<const float> dxkm;  // nlat
  LongitudeWrap wrap{};         // periodic grids: longitudes wrap round at wrap.west
  std::int64_t nlon() const { return static_cast<std::int64_t>(lon.size()); }
  std::int64_t nlat() const { return static_cast<std::int64_t>(lat.size()); }
  std::int64_t plane_size() const { return nlon() * nlat(); }
};

// Kilometres per degree of longitude at each latitude.
std::vector<float> row_km_per_degree(std::span<const float> lat);

// The fields of one layer, nlon x nlat planes with the longitude fastest.
struct LayerFields {
  std::int32_t ilayer = 1;          // the layer number observations are assigned to
  std::span<const float> sx, sy, st;
  std::span<const std::int32_t> water;  // 1 at a water point
  float px = 0.0f, py = 0.0f, pt = 0.0f;
};

// How the covered points are found. Both give the same decision for every
// point; the exhaustive form examines every observation for every point and
// is the reference the fast form is tested against.
enum class Evaluation { exhaustive, fast };

// How an assessment is evaluated: the decision's form, the number of threads
// the rows of its layers are shared among (the results do not depend on
// it), and the fast search's safety margin.
struct EngineOptions {
  Evaluation how = Evaluation::fast;
  int threads = 1;
  FastTuning tuning{};
};

// The indices of one set of observations: those that count for every
// layer, and per layer of a range those that count for it alone.
struct LayerIndices {
  ObservationIndex every_layer;
  std::vector<ObservationIndex> own;
};

// A set of observations ready for the layers first_layer..last_layer at the
// slot `slot`: indexed once for every layer, and still in the order given
// for the exhaustive evaluation. The caller keeps `source` and `tags` alive.
// With tags (one per observation, below ntags), every tag's observations
// are decided apart: a job's decisions are then ntags planes. The index
// holds longitudes placed for one grid's wrap, and serves only grids that
// place them alike.
//
// The observations absent from the slot (time absent_time), most of a list
// dated over years, are indexed apart, and only when a layer is searched
// whose time scales let them cover somewhere (their time distance alone
// rules them out at every point of almost every real layer); that index is
// made from the candidates of the present ones' indices, so `source` may be
// let go once the observations are prepared.
struct PreparedObservations {
  std::span<const Observation> source;
  std::span<const std::uint32_t> tags;  // empty: every observation has tag 0
  std::int32_t ntags = 1;
  float slot = 0.0f;
  std::int32_t first_layer = 1;
  std::int32_t last_layer = 0;
  LongitudeWrap wrap{};            // how the indexed longitudes were placed
  LayerIndices present;            // the observations in the slot (`all`: every observation)
  bool has_absent = false;         // some observation is absent from the slot
  float absent_dt = 0.0f;          // their time distance from the slot

  PreparedObservations();
  PreparedObservations(PreparedObservations&&) noexcept;
  PreparedObservations& operator=(PreparedObservations&&) noexcept;
  ~PreparedObservations();

  // The indices that together hold the observations counting for `ilayer`
  // (a layer of the range; an Error otherwise), the absent ones' with them
  // when `with_absent` (indexed at the first such call, on any thread,
  // without reading `source`).
  std::vector<const ObservationIndex*> for_layer(std::int32_t ilayer, bool with_absent = true) const;

 private:
  struct Absent;
  std::unique_ptr<Absent> absent_;
};

// `wrap` is that of the grid the observations are counted on (grid.wrap).
PreparedObservations prepare_observations(std::span<const Observation> obs, float slot, std::int32_t first_layer,
                                          std::int32_t last_layer, int threads = 1,
                                          std::span<const std::uint32_t> tags = {}, std::int32_t ntags = 1,
                                          LongitudeWrap wrap = {});

// The kind codes of the observations, each once, ascending, and each
// observation's tag: the index of its kind among them.
std::vector<std::int32_t> kinds_present(std::span<const Observation> obs);
std::vector<std::uint32_t> kind_tags(std::span<const Observation> obs, std::span<const std::int32_t> kinds);

// One layer to count against one prepared set of observations (prepared for
// a range holding the layer).
struct CoverageJob {
  LayerFields layer;
  const PreparedObservations* observations = nullptr;
  // When non-empty (a plane), only the points where it is 1 are examined.
  std::span<const std::uint8_t> among{};
  // When non-empty (a plane per tag of the observations), each examined
  // water point's decision goes there: 1 covered, 0 not.
  std::span<std::uint8_t> decisions{};
};

// The covered water points (by observations of any tag) of each job, in the order of the jobs; the rows
// of all the jobs are shared among the threads of `options`. A job whose
// observations were prepared for another longitude wrap than the grid's
// is an Error (bad_request).
std::vector<std::int32_t> count_covered(const GridAxes& grid, std::span<const CoverageJob> jobs,
                                        const EngineOptions& options);

// What to count, and what to keep, for one layer.
struct CountRequest {
  Evaluation how = Evaluation::fast;
  // When non-empty (a plane), each examined water point's decision goes
  // there: 1 covered, 0 not.
  std::span<std::uint8_t> decisions{};
  // When non-empty (a plane), only the points where it is 1 are examined.
  std::span<const std::uint8_t> among{};
  FastTuning tuning{};
  int threads = 1;
};

// Number of covered water points of `layer` with the observations `obs` at
// the assessment slot `slot` (a day number).
std::int32_t count_covered(const GridAxes& grid, const LayerFields& layer, std::span<const Observation> obs,
                           float slot, const CountRequest& request = {});

// Position, scales and exponents of grid point (i, j) (0-based) of `layer`.
PointScales point_scales(const GridAxes& grid, const LayerFields& layer, std::int64_t i, std::int64_t j);

// Is grid point (i, j) (0-based) of `layer` covered? Every observation is
// examined in order.
bool point_covered_exhaustive(const GridAxes& grid, const LayerFields& layer, std::span<const Observation> obs,
                              float slot, std::int64_t i, std::int64_t j);

// A whole assessment: every layer given, its covered points and, when asked,
// the decision at each of its points.
struct CoverageInputs {
  GridAxes grid;
  std::span<const LayerFields> layers;
  std::span<const Observation> observations;
  float slot = 0.0f;
};

struct LayerCoverage {
  std::int32_t ilayer = 0;
  std::int32_t covered = 0;            // Ksum
  std::vector<std::uint8_t> decisions;  // a plane, when asked for
};

std::vector<LayerCoverage> assess(const CoverageInputs& inputs, const EngineOptions& options = {},
                                  bool keep_decisions = false);

}  // namespace kelvo

namespace kelvo {

// For marking the points that a few observations cover, observation by
// observation: the largest reach of the layer's points in degrees (the same
// proved bound the fast search uses), and the points where no bound holds.
struct LayerReach {
  double lat_deg = 0.0;                  // largest reach in latitude
  std::vector<double> lon_deg;           // per row, largest reach in longitude
  std::vector<float> row_lat_deg;        // per row, largest reach in latitude of its points
  std::vector<float> point_lat_deg;      // per point, its reach (rounded up; 0 off water)
  std::vector<float> point_lon_deg;
  std::vector<std::uint32_t> unbounded;  // water points without a bound (plane indices)
  bool lon_ascending = false;            // the longitude axis strictly increases
  bool quadratic = false;                // every water point's exponents and time scale allow the quadratic test
};

// The rows are shared among `threads`; the reach does not depend on them.
LayerReach layer_reach(const GridAxes& grid, const LayerFields& layer, const FastTuning& tuning = {}, int threads = 1);

// Sets decisions[q] to 1 at every water point q (where `among` is 1, when
// given) that one of `obs` covers; other entries are left as they are. The
// decision at each point is exactly count_covered's.
void mark_covered(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                  std::span<const Observation> obs, float slot, std::span<std::uint8_t> decisions,
                  std::span<const std::uint8_t> among = {});

// For every examined water point q (where `among` is 1, when given): in
// count[q] how many of `obs` cover it, counted up to 2 (entries start at 0),
// and in first[q] the index in `obs` of the first one that covers it. Each
// observation's decision is exactly count_covered's. With `groups` (one per
// observation), observations of one group count as one: count[q] reaches 2
// only when observations of two groups cover q.
void tally_covered(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                   std::span<const Observation> obs, float slot, std::span<std::uint8_t> count,
                   std::span<std::int32_t> first, std::span<const std::uint8_t> among = {},
                   std::span<const std::uint32_t> groups = {});

// An observation present, as at its slot, on the days first..last
// (positions in a list of days in ascending order).
struct PresentStretch {
  Observation obs;
  std::int32_t first = 0;
  std::int32_t last = 0;
};

// The covered days that a sweep through stretches keeps for one layer.
struct CoveredDaysTally {
  // A plane: the last day through which each point is covered so far; -1
  // before any, and at least every stretch's last day at a point passed
  // over, as every point that is not water must be (and a point covered on
  // every day already may be).
  std::span<std::int32_t> through;
  // A plane (left alone when empty): the days before `through` that a point
  // is not covered, so that it is covered on through - uncovered + 1 days
  // (0 before any). Changed only where coverage starts after a gap, which
  // spares most stretches a write to a second plane.
  std::span<std::int32_t> uncovered;
  std::span<std::int64_t> changes;  // days + 1: +1 on the day a covered stretch of a point starts, -1 after it ends
};

// Adds to `tally` the days on which `stretches` (in ascending first days)
// cover each water point: at a point covered through day t so far, a
// stretch that covers it adds the days after t (and from its first day on)
// up to its last. A point is tested only against the stretches that would
// add days, with exactly count_covered's decision at the slot; the rows of
// the layer are shared among `threads`.
void sweep_stretches(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                     std::span<const PresentStretch> stretches, const CoveredDaysTally& tally, int threads = 1);

// The number of water points (where `among` is 1, when given) that `o`
// covers: the points mark_covered would set for `o` alone on a zero plane.
std::int32_t count_newly_covered(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                                 const Observation& o, float slot, std::span<const std::uint8_t> among = {});

// count_newly_covered of every observation of `obs` into gains[n], found
// point by point (each examined point looks for the observations within its
// own reach), for many observations at once.
void count_newly_covered_each(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                              std::span<const Observation> obs, float slot, std::span<std::int32_t> gains,
                              std::span<const std::uint8_t> among = {});

// The weighted forms: the sum of weights[q] (a plane) over the points that
// count_newly_covered counts, for one observation and for many at once.
std::int64_t weigh_newly_covered(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                                 const Observation& o, float slot, std::span<const std::int32_t> weights,
                                 std::span<const std::uint8_t> among = {});
void weigh_newly_covered_each(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                              std::span<const Observation> obs, float slot, std::span<const std::int32_t> weights,
                              std::span<std::int64_t> gains, std::span<const std::uint8_t> among = {});

// 1 at the water points where an observation absent from every slot (its
// time distance at least `dt_min` days) might still cover, 0 where its time
// weight is proved below the threshold. The rows are shared among `threads`.
std::vector<std::uint8_t> absent_may_cover(const GridAxes& grid, const LayerFields& layer, float dt_min,
                                           int threads = 1);

}  // namespace kelvo
