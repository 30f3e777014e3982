#include "core/series.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "core/error.hpp"
#include "core/parallel.hpp"

namespace kelvo {

namespace {

// The days of a series by their slots in ascending order (the request may
// give them in any order): position p is the request's day at[p].
struct SortedDays {
  std::vector<float> slots;
  std::vector<std::uint32_t> at;

  explicit SortedDays(std::span<const float> request) {
    at.resize(request.size());
    for (std::size_t d = 0; d < at.size(); ++d) at[d] = static_cast<std::uint32_t>(d);
    std::stable_sort(at.begin(), at.end(), [&](std::uint32_t a, std::uint32_t b) { return request[a] < request[b]; });
    for (std::uint32_t d : at) slots.push_back(request[d]);
  }

  // The positions first..last of the days whose slot holds a record with
  // the span `span` (first > last: none). A span is in a slot not more than
  // a day before its start nor after its end, so the days that hold it
  // follow one another.
  std::pair<std::int32_t, std::int32_t> holding(const TimeSpan& span) const {
    const auto early = std::partition_point(slots.begin(), slots.end(), [&](float slot) {
      return slot < span.start && time_at_slot(span, slot) == absent_time;
    });
    const auto late = std::partition_point(early, slots.end(), [&](float slot) {
      return time_at_slot(span, slot) != absent_time;
    });
    return {static_cast<std::int32_t>(early - slots.begin()), static_cast<std::int32_t>(late - slots.begin()) - 1};
  }
};

// A record with a span present in the slots of the days first..last.
struct Stretch {
  std::uint32_t record = 0;
  std::int32_t first = 0;
  std::int32_t last = 0;
  bool holds(std::int32_t day) const { return first <= day && day <= last; }
};

// Stretches longer than this many days are looked at on every day of a
// per-day assessment; shorter ones are found by their first day.
constexpr std::int32_t short_stretch = 4;

// Stretches in order of their first days, in five bytes or so each (a
// year's network has a million): the record, the length in a byte, and the
// first day implied by the position.
class StretchList {
 public:
  StretchList() = default;
  // From stretches in ascending first days (within 0..ndays-1).
  StretchList(std::span<const Stretch> sorted, std::int32_t ndays) : begin_(static_cast<std::size_t>(ndays) + 1, 0) {
    for (const Stretch& st : sorted) {
      const std::uint32_t idx = static_cast<std::uint32_t>(records_.size());
      records_.push_back(st.record);
      const std::int32_t extra = st.last - st.first;
      more_.push_back(static_cast<std::uint8_t>(std::min(extra, std::int32_t{255})));
      if (extra >= 255) longer_.push_back({idx, st.last});
      if (extra > short_stretch) long_.push_back(idx);
      ++begin_[static_cast<std::size_t>(st.first) + 1];
    }
    for (std::size_t d = 1; d < begin_.size(); ++d) begin_[d] += begin_[d - 1];
  }

  std::size_t size() const { return records_.size(); }

  // Stretch idx (its first day, when known, spares a search).
  Stretch at(std::uint32_t idx, std::int32_t first = -1) const {
    if (first < 0) first = static_cast<std::int32_t>(std::upper_bound(begin_.begin(), begin_.end(), idx) - begin_.begin()) - 1;
    std::int32_t last = first + more_[idx];
    if (more_[idx] == 255) {
      last = std::lower_bound(longer_.begin(), longer_.end(), std::pair{idx, std::int32_t{0}},
                              [](const auto& a, const auto& b) { return a.first < b.first; })->second;
    }
    return Stretch{records_[idx], first, last};
  }

  // each(idx, stretch) for stretches from..to-1 (indices), in order.
  template <typename Each>
  void each(std::size_t from, std::size_t to, Each&& each) const {
    std::int32_t day = from < size() ? at(static_cast<std::uint32_t>(from)).first : 0;
    for (std::size_t idx = from; idx < to; ++idx) {
      while (begin_[static_cast<std::size_t>(day) + 1] <= idx) ++day;
      each(at(static_cast<std::uint32_t>(idx), day));
    }
  }
  template <typename Each>
  void each(Each&& each_one) const { each(0, size(), each_one); }

  // The records of the stretches holding day `day`.
  template <typename Each>
  void each_holding(std::int32_t day, Each&& each_record) const {
    const std::int32_t first = std::max(0, day - short_stretch);
    each(begin_[static_cast<std::size_t>(first)], begin_[static_cast<std::size_t>(day) + 1], [&](const Stretch& st) {
      if (st.last - st.first <= short_stretch && st.holds(day)) each_record(st.record);
    });
    for (std::uint32_t idx : long_) {
      const Stretch st = at(idx);
      if (st.holds(day)) each_record(st.record);
    }
  }

 private:
  std::vector<std::uint32_t> records_;
  std::vector<std::uint8_t> more_;                              // last - first, 255: in longer_
  std::vector<std::pair<std::uint32_t, std::int32_t>> longer_;  // index and last day, by index
  std::vector<std::uint32_t> long_;                             // the indices of stretches longer than short_stretch
  std::vector<std::uint32_t> begin_;                            // per day: the first stretch from it on
};

// The parts of the network whose decisions are combined: the whole network,
// and with by-kind, each kind alone.
struct Part {
  std::vector<Observation> repeating;   // present on every day of the series
  StretchList stretches;                // present on some days, by first day
  std::vector<std::uint32_t> never;     // records in no day's slot

  // The indices of the records present on day `day`.
  template <typename Each>
  void each_present(std::int32_t day, Each&& each) const {
    stretches.each_holding(day, each);
  }

  // The indices of the records absent from the slot of day `day`.
  template <typename Each>
  void each_absent(std::int32_t day, Each&& each) const {
    stretches.each([&](const Stretch& st) {
      if (!st.holds(day)) each(st.record);
    });
    for (std::uint32_t n : never) each(n);
  }
};

std::vector<std::int32_t> kinds_of(std::span<const ObservationRecord> records) {
  std::vector<std::int32_t> kinds;
  for (const ObservationRecord& r : records) {
    if (std::find(kinds.begin(), kinds.end(), r.kind) == kinds.end()) kinds.push_back(r.kind);
  }
  std::sort(kinds.begin(), kinds.end());
  return kinds;
}

// Part 0 is the whole network, part 1 + k the kind kinds[k] alone (none
// without kinds). A record present on every day (at every time, or with a
// span that every day's slot holds) counts as at the first day's slot.
std::vector<Part> parts_of(std::span<const ObservationRecord> records, std::span<const std::int32_t> kinds,
                           const SortedDays& days, float any_slot) {
  std::vector<Part> parts(1 + kinds.size());
  std::vector<std::vector<Stretch>> stretches(parts.size());
  const std::int32_t ndays = static_cast<std::int32_t>(days.slots.size());
  for (std::size_t n = 0; n < records.size(); ++n) {
    const ObservationRecord& r = records[n];
    const auto [first, last] = r.time.is_always() ? std::pair{0, ndays - 1} : days.holding(r.time);
    const auto add = [&](std::size_t p) {
      if (first == 0 && last == ndays - 1) {
        parts[p].repeating.push_back(placed(r, any_slot));
      } else if (first > last) {
        parts[p].never.push_back(static_cast<std::uint32_t>(n));
      } else {
        stretches[p].push_back(Stretch{static_cast<std::uint32_t>(n), first, last});
      }
    };
    add(0);
    if (!kinds.empty()) add(1 + static_cast<std::size_t>(std::lower_bound(kinds.begin(), kinds.end(), r.kind) - kinds.begin()));
  }
  // By first day; within a day, neighbours follow one another (in bands
  // of latitude, east and west in turn), so that the points one stretch
  // looks at are still at hand for the next.
  const auto place_key = [&](const Stretch& s) {
    const ObservationRecord& r = records[s.record];
    if (!std::isfinite(r.lat) || !std::isfinite(r.lon)) return std::pair{std::numeric_limits<std::int32_t>::max(), 0.0f};
    const auto band = static_cast<std::int32_t>(std::floor(std::clamp(r.lat, -90.0f, 90.0f) / 4.0f));
    return std::pair{band, band % 2 == 0 ? r.lon : -r.lon};
  };
  for (std::size_t p = 0; p < parts.size(); ++p) {
    // In place (a year's network is large), the record deciding ties.
    std::sort(stretches[p].begin(), stretches[p].end(), [&](const Stretch& a, const Stretch& b) {
      if (a.first != b.first) return a.first < b.first;
      const auto ka = place_key(a), kb = place_key(b);
      return ka != kb ? ka < kb : a.record < b.record;
    });
    parts[p].stretches = StretchList(stretches[p], ndays);
    std::vector<Stretch>().swap(stretches[p]);
  }
  return parts;
}

std::int32_t count_ones(std::span<const std::uint8_t> plane) {
  std::int32_t n = 0;
  for (std::uint8_t v : plane) n += v;
  return n;
}

float fraction(std::int32_t covered, std::int32_t nwater) {
  return static_cast<float>(covered) / static_cast<float>(nwater);
}

// One layer of one part: the water points its repeating observations cover,
// and those where the absent ones might (and the others do not).
struct LayerPart {
  std::vector<std::uint8_t> base;
  std::vector<std::uint8_t> absent_may;
  bool any_absent_may = false;
};

LayerPart prepare(const GridAxes& grid, const LayerFields& layer, const Part& part, float any_slot,
                  std::span<const std::uint8_t> absent_may, int threads) {
  LayerPart lp;
  lp.base.assign(static_cast<std::size_t>(grid.plane_size()), 0);
  CountRequest request;
  request.decisions = lp.base;
  request.threads = std::max(1, threads);
  count_covered(grid, layer, part.repeating, any_slot, request);
  lp.absent_may.assign(absent_may.begin(), absent_may.end());
  for (std::size_t q = 0; q < lp.base.size(); ++q) {
    if (layer.water[q] != 1) lp.base[q] = 0;
    if (lp.base[q] == 1) lp.absent_may[q] = 0;
    if (lp.absent_may[q] == 1) lp.any_absent_may = true;
  }
  return lp;
}

// The decision of one part on one day of one layer, into `plane`.
void decide_day(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach, const LayerPart& lp,
                const std::vector<Observation>& present, const std::vector<Observation>& absent, float slot,
                std::vector<std::uint8_t>& plane) {
  plane = lp.base;
  mark_covered(grid, layer, reach, present, slot, plane);
  if (!lp.any_absent_may || absent.empty()) return;
  std::vector<std::uint8_t> among = lp.absent_may;
  for (std::size_t q = 0; q < among.size(); ++q) {
    if (plane[q] == 1) among[q] = 0;
  }
  std::vector<std::uint8_t> decided(plane.size(), 0);
  CountRequest request;
  request.among = among;
  request.decisions = decided;
  count_covered(grid, layer, absent, slot, request);
  for (std::size_t q = 0; q < plane.size(); ++q) {
    if (among[q] == 1 && decided[q] == 1) plane[q] = 1;
  }
}

// The covered points of one part by day (in ascending slots); the days each
// point is covered go to `covered_days` when it is not empty.
struct PartDays {
  std::vector<std::int32_t> covered;
};

// Where the observations absent from the slot cannot cover, a day is the
// repeating observations' points and those of the stretches holding it. The
// stretches are swept in order of their first days, each point keeping the
// last day it is covered through, so that a point is tested only against a
// stretch that would add days to it, and each stretch is decided once, as
// at its slot, for all its days.
PartDays sweep_part(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach, const LayerPart& lp,
                    const Part& part, std::span<const ObservationRecord> records, const SortedDays& days,
                    std::span<std::int32_t> covered_days, int threads) {
  const std::int32_t ndays = static_cast<std::int32_t>(days.slots.size());
  std::vector<std::int32_t> through;
  allocate(through, static_cast<std::uint64_t>(lp.base.size()), std::int32_t{-1}, "assess_series", "covered days");
  std::int64_t nbase = 0;
  for (std::size_t q = 0; q < through.size(); ++q) {
    if (layer.water[q] != 1 || lp.base[q] == 1) through[q] = std::numeric_limits<std::int32_t>::max();
    if (lp.base[q] == 1) {
      ++nbase;
      if (!covered_days.empty()) covered_days[q] = ndays;
    }
  }
  std::vector<std::int64_t> changes(static_cast<std::size_t>(ndays) + 1, 0);
  changes[0] = nbase;
  // Until the end of the sweep the covered-days plane holds, at each swept
  // point, the days it is not covered before the last it is covered through.
  const CoveredDaysTally tally{through, covered_days, changes};
  // A block of stretches at a time, so that their observations are not all
  // held: 65,536 (about 4 MB with the rows and tiles of the sweep) share the
  // cost of starting the threads and of waiting for the last tile.
  constexpr std::size_t block = 1 << 16;
  std::vector<PresentStretch> present;
  for (std::size_t from = 0; from < part.stretches.size(); from += block) {
    // Placed on all threads, a share of the block each.
    const std::size_t to = std::min(part.stretches.size(), from + block);
    present.resize(to - from);
    constexpr std::size_t share = 4096;
    parallel_for(static_cast<std::int64_t>((to - from + share - 1) / share), std::max(1, threads), [&](std::int64_t c) {
      const std::size_t begin = from + static_cast<std::size_t>(c) * share, end = std::min(to, begin + share);
      std::size_t n = begin - from;
      part.stretches.each(begin, end, [&](const Stretch& st) {
        present[n++] = PresentStretch{placed(records[st.record], days.slots[static_cast<std::size_t>(st.first)]),
                                      st.first, st.last};
      });
    });
    sweep_stretches(grid, layer, reach, present, tally, threads);
  }
  for (std::size_t q = 0; q < covered_days.size(); ++q) {
    if (through[q] != std::numeric_limits<std::int32_t>::max()) covered_days[q] = through[q] - covered_days[q] + 1;
  }
  PartDays out;
  std::int64_t running = 0;
  for (std::int32_t d = 0; d < ndays; ++d) {
    running += changes[static_cast<std::size_t>(d)];
    out.covered.push_back(static_cast<std::int32_t>(running));
  }
  return out;
}

// Where the absent observations might cover, each day is decided apart.
PartDays part_by_day(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach, const LayerPart& lp,
                     const Part& part, std::span<const ObservationRecord> records, const SortedDays& days,
                     std::span<std::int32_t> covered_days, int threads) {
  const std::size_t ndays = days.slots.size();
  PartDays out;
  out.covered.assign(ndays, 0);
  std::mutex lock;
  parallel_for(static_cast<std::int64_t>(ndays), std::max(1, threads), [&](std::int64_t day) {
    const float slot = days.slots[static_cast<std::size_t>(day)];
    std::vector<Observation> present, absent;
    part.each_present(static_cast<std::int32_t>(day), [&](std::uint32_t n) { present.push_back(placed(records[n], slot)); });
    if (lp.any_absent_may) {
      part.each_absent(static_cast<std::int32_t>(day), [&](std::uint32_t n) { absent.push_back(placed(records[n], slot)); });
    }
    std::vector<std::uint8_t> plane;
    decide_day(grid, layer, reach, lp, present, absent, slot, plane);
    out.covered[static_cast<std::size_t>(day)] = count_ones(plane);
    if (covered_days.empty()) return;
    const std::lock_guard<std::mutex> hold(lock);
    for (std::size_t q = 0; q < plane.size(); ++q) covered_days[q] += plane[q];
  });
  return out;
}

}  // namespace

struct SeriesAssessor::Parts {
  explicit Parts(std::span<const float> slots) : days(slots) {}
  SortedDays days;
  std::vector<Part> parts;
};

SeriesAssessor::~SeriesAssessor() = default;

SeriesAssessor::SeriesAssessor(std::span<const ObservationRecord> records, const SeriesRequest& request)
    : records_(records), request_(request), parts_(std::make_unique<Parts>(request.slots)) {
  // A record present at every time takes the first day's slot.
  any_slot_ = request.slots.empty() ? 0.0f : request.slots.front();
  if (request.by_kind) kinds_ = kinds_of(records);
  parts_->parts = parts_of(records, kinds_, parts_->days, any_slot_);
  dt_min_ = std::numeric_limits<float>::infinity();
  for (float slot : request.slots) dt_min_ = std::min(dt_min_, std::fabs(slot - absent_time));
  const Part& all = parts_->parts[0];
  in_slot_.assign(request.slots.size(), static_cast<std::int32_t>(all.repeating.size()));
  all.stretches.each([&](const Stretch& st) {
    for (std::int32_t d = st.first; d <= st.last; ++d) ++in_slot_[parts_->days.at[static_cast<std::size_t>(d)]];
  });
}

SeriesLayer SeriesAssessor::layer(const Domain& domain, std::int32_t ilayer) {
  const std::vector<Part>& parts = parts_->parts;
  const SortedDays& sorted = parts_->days;
  const std::size_t days = request_.slots.size();
  const std::size_t nkinds = kinds_.size();
  const std::size_t plane = static_cast<std::size_t>(domain.grid().plane_size());
  const GridAxes grid = domain.axes();
  const LayerFields fields = domain.fields(ilayer);
  LayerReach reach = layer_reach(grid, fields, FastTuning{}, request_.threads);
  const std::vector<std::uint8_t> absent_may = absent_may_cover(grid, fields, dt_min_, request_.threads);
  // Where every part is swept with the quadratic test, no point's own reach
  // is looked at: its planes are let go before the sweep takes its room.
  if (reach.quadratic && std::find(absent_may.begin(), absent_may.end(), 1) == absent_may.end()) {
    std::vector<float>().swap(reach.point_lat_deg);
    std::vector<float>().swap(reach.point_lon_deg);
  }

  SeriesLayer out;
  out.covered_points.assign(days, 0);
  out.effective_coverage.assign(days, 0.0f);
  out.coverage_by_kind.assign(days * nkinds, 0.0f);
  allocate(out.covered_days, plane, std::int32_t{0}, "assess_series", "covered days");
  for (std::size_t p = 0; p < parts.size(); ++p) {
    const LayerPart lp = prepare(grid, fields, parts[p], any_slot_, absent_may, request_.threads);
    const std::span<std::int32_t> covered_days = p == 0 ? std::span<std::int32_t>(out.covered_days) : std::span<std::int32_t>();
    const PartDays part = lp.any_absent_may
                              ? part_by_day(grid, fields, reach, lp, parts[p], records_, sorted, covered_days, request_.threads)
                              : sweep_part(grid, fields, reach, lp, parts[p], records_, sorted, covered_days, request_.threads);
    for (std::size_t pos = 0; pos < days; ++pos) {
      const std::size_t d = sorted.at[pos];
      const std::int32_t ksum = part.covered[pos];
      if (p == 0) {
        out.covered_points[d] = ksum;
        out.effective_coverage[d] = fraction(ksum, domain.nwater(ilayer));
      } else {
        out.coverage_by_kind[d * nkinds + (p - 1)] = fraction(ksum, domain.nwater(ilayer));
      }
    }
  }
  finished_ += days;
  if (request_.progress) request_.progress(finished_);
  return out;
}

void spread_layer(const SeriesLayer& one, std::size_t l, std::size_t layers, std::span<std::int32_t> covered_points,
                  std::span<float> effective_coverage, std::span<float> coverage_by_kind) {
  const std::size_t days = one.covered_points.size();
  const std::size_t nkinds = days == 0 ? 0 : one.coverage_by_kind.size() / days;
  for (std::size_t d = 0; d < days; ++d) {
    covered_points[d * layers + l] = one.covered_points[d];
    effective_coverage[d * layers + l] = one.effective_coverage[d];
    for (std::size_t k = 0; k < nkinds; ++k) {
      coverage_by_kind[(d * nkinds + k) * layers + l] = one.coverage_by_kind[d * nkinds + k];
    }
  }
}

SeriesResult assess_series(const Domain& domain, std::span<const ObservationRecord> records,
                           const SeriesRequest& request) {
  SeriesResult r;
  const std::size_t days = request.slots.size();
  r.k_first = request.first_layer;
  r.layers = layer_count(request.first_layer, request.last_layer);
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  const std::size_t plane = static_cast<std::size_t>(domain.grid().plane_size());
  SeriesAssessor series(records, request);
  r.kinds = series.kinds();
  const std::size_t nkinds = r.kinds.size();
  r.observations_in_slot = series.observations_in_slot();
  r.covered_points.assign(days * layers, 0);
  r.effective_coverage.assign(days * layers, 0.0f);
  r.coverage_by_kind.assign(days * nkinds * layers, 0.0f);
  r.covered_days.assign(layers * plane, 0);
  for (std::size_t l = 0; l < layers; ++l) {
    const SeriesLayer one = series.layer(domain, r.k_first + static_cast<std::int32_t>(l));
    spread_layer(one, l, layers, r.covered_points, r.effective_coverage, r.coverage_by_kind);
    std::copy(one.covered_days.begin(), one.covered_days.end(), r.covered_days.begin() + static_cast<std::ptrdiff_t>(l * plane));
  }
  return r;
}

}  // namespace kelvo
