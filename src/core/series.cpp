#include "core/series.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "core/parallel.hpp"

namespace kelvo {

namespace {

// The parts of the network whose decisions are combined: the whole network,
// and with by-kind, each kind alone.
struct Part {
  std::vector<Observation> repeating;  // present in every slot
  std::vector<std::size_t> one_time;   // indices into the records of the part's other observations
};

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

SeriesResult assess_series(const Domain& domain, std::span<const ObservationRecord> records,
                           const SeriesRequest& request) {
  SeriesResult r;
  const std::size_t days = request.slots.size();
  r.k_first = request.first_layer;
  r.layers = layer_count(request.first_layer, request.last_layer);
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  const std::size_t plane = static_cast<std::size_t>(domain.grid().plane_size());
  // Placed anywhere: only their kinds and layers are used, and a record present
  // at every time takes the first day's slot.
  const float any_slot = request.slots.empty() ? 0.0f : request.slots.front();
  const std::vector<Observation> obs = place_at(records, any_slot);
  if (request.by_kind) r.kinds = kinds_present(obs);
  const std::size_t nkinds = r.kinds.size();
  const std::vector<std::uint32_t> kind_of = kind_tags(obs, r.kinds);

  // Part 0 is the whole network, part 1 + k the kind r.kinds[k] alone.
  std::vector<Part> parts(1 + nkinds);
  for (std::size_t n = 0; n < obs.size(); ++n) {
    const std::size_t kind_part = nkinds == 0 ? 0 : 1 + static_cast<std::size_t>(kind_of[n]);
    const std::vector<std::size_t> targets =
        nkinds == 0 ? std::vector<std::size_t>{0} : std::vector<std::size_t>{0, kind_part};
    for (std::size_t p : targets) {
      if (records[n].time.is_always()) {
        parts[p].repeating.push_back(obs[n]);
      } else {
        parts[p].one_time.push_back(n);
      }
    }
  }

  float dt_min = std::numeric_limits<float>::infinity();
  for (float slot : request.slots) dt_min = std::min(dt_min, std::fabs(slot - absent_time));

  const GridAxes grid = domain.axes();
  std::vector<LayerFields> fields;
  std::vector<LayerReach> reach;
  std::vector<std::vector<LayerPart>> prepared(layers);
  for (std::size_t l = 0; l < layers; ++l) {
    fields.push_back(domain.fields(r.k_first + static_cast<std::int32_t>(l)));
    reach.push_back(layer_reach(grid, fields.back()));
    for (const Part& part : parts) prepared[l].push_back(prepare(grid, fields[l], part, any_slot, dt_min));
  }

  r.covered_points.assign(days * layers, 0);
  r.effective_coverage.assign(days * layers, 0.0f);
  r.observations_in_slot.assign(days, 0);
  r.coverage_by_kind.assign(days * nkinds * layers, 0.0f);
  const int threads = std::max(1, request.threads);
  // Sums of integers, so the order in which the days add theirs does not matter.
  r.covered_days.assign(layers * plane, 0);
  std::mutex lock;
  std::size_t finished = 0;
  parallel_for(static_cast<std::int64_t>(days), threads, [&](std::int64_t day) {
    const std::size_t d = static_cast<std::size_t>(day);
    const float slot = request.slots[d];
    std::vector<std::uint8_t> day_plane, scratch;
    std::vector<Observation> present, absent;
    std::int32_t in_slot = 0;
    for (std::size_t p = 0; p < parts.size(); ++p) {
      present.clear();
      absent.clear();
      for (std::size_t n : parts[p].one_time) {
        const Observation o = placed(records[n], slot);
        (o.time == absent_time ? absent : present).push_back(o);
      }
      if (p == 0) in_slot = static_cast<std::int32_t>(parts[0].repeating.size() + present.size());
      for (std::size_t l = 0; l < layers; ++l) {
        const std::int32_t ilayer = r.k_first + static_cast<std::int32_t>(l);
        decide_day(grid, fields[l], reach[l], prepared[l][p], present, absent, slot, day_plane, scratch);
        const std::int32_t ksum = count_ones(day_plane);
        if (p == 0) {
          r.covered_points[d * layers + l] = ksum;
          r.effective_coverage[d * layers + l] = fraction(ksum, domain.nwater(ilayer));
          const std::lock_guard<std::mutex> hold(lock);
          std::int32_t* acc = r.covered_days.data() + l * plane;
          for (std::size_t q = 0; q < plane; ++q) acc[q] += day_plane[q];
        } else {
          r.coverage_by_kind[(d * nkinds + (p - 1)) * layers + l] = fraction(ksum, domain.nwater(ilayer));
        }
      }
    }
    r.observations_in_slot[d] = in_slot;
    if (request.progress) {
      const std::lock_guard<std::mutex> hold(lock);
      request.progress(++finished);
    }
  });
  return r;
}

}  // namespace kelvo
