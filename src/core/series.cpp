#include "core/series.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "core/error.hpp"
#include "core/parallel.hpp"

namespace kelvo {

namespace {

// A record whose span is at most this many days long is looked up by its
// start; longer spans are looked at every day.
constexpr float short_span_days = 2.0f;

// The parts of the network whose decisions are combined: the whole network,
// and with by-kind, each kind alone.
struct Part {
  std::vector<Observation> repeating;  // present in every slot
  std::vector<std::uint32_t> short_spans;  // indices of records with short spans, by start
  std::vector<std::uint32_t> long_spans;   // indices of the other records with a span

  // The indices of the records with a span that are in the slot `slot`:
  // only the short ones starting within a day of the slot, or ending there,
  // can be.
  template <typename Each>
  void each_in_slot(std::span<const ObservationRecord> records, float slot, Each&& each) const {
    const auto first = std::lower_bound(short_spans.begin(), short_spans.end(), slot - 1.0f - short_span_days,
                                        [&](std::uint32_t n, float v) { return records[n].time.start < v; });
    for (auto it = first; it != short_spans.end() && records[*it].time.start < slot + 1.0f; ++it) {
      if (time_at_slot(records[*it].time, slot) != absent_time) each(*it);
    }
    for (std::uint32_t n : long_spans) {
      if (time_at_slot(records[n].time, slot) != absent_time) each(n);
    }
  }

  // The indices of the records with a span that are absent from the slot.
  template <typename Each>
  void each_absent(std::span<const ObservationRecord> records, float slot, Each&& each) const {
    for (const std::vector<std::uint32_t>* list : {&short_spans, &long_spans}) {
      for (std::uint32_t n : *list) {
        if (time_at_slot(records[n].time, slot) == absent_time) each(n);
      }
    }
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
// without kinds).
std::vector<Part> parts_of(std::span<const ObservationRecord> records, std::span<const std::int32_t> kinds,
                           float any_slot) {
  std::vector<Part> parts(1 + kinds.size());
  for (std::size_t n = 0; n < records.size(); ++n) {
    const ObservationRecord& r = records[n];
    const auto add = [&](Part& part) {
      if (r.time.is_always()) {
        part.repeating.push_back(placed(r, any_slot));
      } else if (r.time.end - r.time.start <= short_span_days) {
        part.short_spans.push_back(static_cast<std::uint32_t>(n));
      } else {
        part.long_spans.push_back(static_cast<std::uint32_t>(n));
      }
    };
    add(parts[0]);
    if (!kinds.empty()) add(parts[1 + static_cast<std::size_t>(std::lower_bound(kinds.begin(), kinds.end(), r.kind) - kinds.begin())]);
  }
  for (Part& part : parts) {
    std::stable_sort(part.short_spans.begin(), part.short_spans.end(), [&](std::uint32_t a, std::uint32_t b) {
      return records[a].time.start < records[b].time.start;
    });
  }
  return parts;
}

// What one layer of one part keeps for every day.
struct LayerPart {
  std::vector<std::uint8_t> base;  // covered by the repeating observations
  std::vector<std::uint8_t> absent_may;  // 1 where absent observations might cover (and base does not)
  bool any_absent_may = false;
};

std::int32_t count_ones(std::span<const std::uint8_t> plane) {
  std::int32_t n = 0;
  for (std::uint8_t v : plane) n += v;
  return n;
}

float fraction(std::int32_t covered, std::int32_t nwater) {
  return static_cast<float>(covered) / static_cast<float>(nwater);
}

LayerPart prepare(const GridAxes& grid, const LayerFields& layer, const Part& part, float any_slot, float dt_min) {
  LayerPart lp;
  lp.base.assign(static_cast<std::size_t>(grid.plane_size()), 0);
  CountRequest request;
  request.decisions = lp.base;
  count_covered(grid, layer, part.repeating, any_slot, request);
  for (std::size_t q = 0; q < lp.base.size(); ++q) {
    if (layer.water[q] != 1) lp.base[q] = 0;
  }
  lp.absent_may = absent_may_cover(grid, layer, dt_min);
  for (std::size_t q = 0; q < lp.absent_may.size(); ++q) {
    if (lp.base[q] == 1) lp.absent_may[q] = 0;
    if (lp.absent_may[q] == 1) lp.any_absent_may = true;
  }
  return lp;
}

// The decision of one part on one day of one layer, into `plane`.
void decide_day(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach, const LayerPart& lp,
                const std::vector<Observation>& present, const std::vector<Observation>& absent, float slot,
                std::vector<std::uint8_t>& plane, std::vector<std::uint8_t>& scratch) {
  plane = lp.base;
  mark_covered(grid, layer, reach, present, slot, plane);
  if (!lp.any_absent_may || absent.empty()) return;
  scratch = lp.absent_may;
  for (std::size_t q = 0; q < scratch.size(); ++q) {
    if (plane[q] == 1) scratch[q] = 0;
  }
  std::vector<std::uint8_t> decided(plane.size(), 0);
  CountRequest request;
  request.among = scratch;
  request.decisions = decided;
  count_covered(grid, layer, absent, slot, request);
  for (std::size_t q = 0; q < plane.size(); ++q) {
    if (scratch[q] == 1 && decided[q] == 1) plane[q] = 1;
  }
}

}  // namespace

struct SeriesAssessor::Parts {
  std::vector<Part> parts;
};

SeriesAssessor::~SeriesAssessor() = default;

SeriesAssessor::SeriesAssessor(std::span<const ObservationRecord> records, const SeriesRequest& request)
    : records_(records), request_(request), parts_(std::make_unique<Parts>()) {
  // A record present at every time takes the first day's slot.
  any_slot_ = request.slots.empty() ? 0.0f : request.slots.front();
  if (request.by_kind) kinds_ = kinds_of(records);
  parts_->parts = parts_of(records, kinds_, any_slot_);
  dt_min_ = std::numeric_limits<float>::infinity();
  for (float slot : request.slots) dt_min_ = std::min(dt_min_, std::fabs(slot - absent_time));
  const Part& all = parts_->parts[0];
  for (float slot : request.slots) {
    std::int32_t n = static_cast<std::int32_t>(all.repeating.size());
    all.each_in_slot(records, slot, [&](std::uint32_t) { ++n; });
    in_slot_.push_back(n);
  }
}

SeriesLayer SeriesAssessor::layer(const Domain& domain, std::int32_t ilayer) {
  const std::vector<Part>& parts = parts_->parts;
  const std::span<const ObservationRecord> records = records_;
  const std::size_t days = request_.slots.size();
  const std::size_t nkinds = kinds_.size();
  const std::size_t plane = static_cast<std::size_t>(domain.grid().plane_size());
  const GridAxes grid = domain.axes();
  const LayerFields fields = domain.fields(ilayer);
  const LayerReach reach = layer_reach(grid, fields);
  std::vector<LayerPart> prepared;
  for (const Part& part : parts) prepared.push_back(prepare(grid, fields, part, any_slot_, dt_min_));

  SeriesLayer out;
  out.covered_points.assign(days, 0);
  out.effective_coverage.assign(days, 0.0f);
  out.coverage_by_kind.assign(days * nkinds, 0.0f);
  // Sums of integers, so the order in which the days add theirs does not matter.
  allocate(out.covered_days, plane, std::int32_t{0}, "assess_series", "covered days");
  std::mutex lock;
  parallel_for(static_cast<std::int64_t>(days), std::max(1, request_.threads), [&](std::int64_t day) {
    const std::size_t d = static_cast<std::size_t>(day);
    const float slot = request_.slots[d];
    std::vector<std::uint8_t> day_plane, scratch;
    std::vector<Observation> present, absent;
    for (std::size_t p = 0; p < parts.size(); ++p) {
      present.clear();
      absent.clear();
      parts[p].each_in_slot(records, slot, [&](std::uint32_t n) { present.push_back(placed(records[n], slot)); });
      // The absent ones matter only where their time weight is not proved too small.
      if (prepared[p].any_absent_may) {
        parts[p].each_absent(records, slot, [&](std::uint32_t n) { absent.push_back(placed(records[n], slot)); });
      }
      decide_day(grid, fields, reach, prepared[p], present, absent, slot, day_plane, scratch);
      const std::int32_t ksum = count_ones(day_plane);
      if (p == 0) {
        out.covered_points[d] = ksum;
        out.effective_coverage[d] = fraction(ksum, domain.nwater(ilayer));
        const std::lock_guard<std::mutex> hold(lock);
        for (std::size_t q = 0; q < plane; ++q) out.covered_days[q] += day_plane[q];
      } else {
        out.coverage_by_kind[d * nkinds + (p - 1)] = fraction(ksum, domain.nwater(ilayer));
      }
    }
    if (request_.progress) {
      const std::lock_guard<std::mutex> hold(lock);
      request_.progress(++finished_);
    }
  });
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
