#include "core/plan.hpp"

#include <algorithm>
#include <functional>
#include <queue>
#include <unordered_map>

#include "core/error.hpp"
#include "core/parallel.hpp"
#include "core/series.hpp"

namespace kelvo {

namespace {

// Every layer's work on the shared loop of the engine.
template <typename Body>
void for_each_layer(std::size_t n, int threads, Body&& body) {
  kelvo::parallel_for(static_cast<std::int64_t>(n), threads, [&](std::int64_t l) { body(static_cast<std::size_t>(l)); });
}

struct Layers {
  GridAxes grid;
  std::vector<LayerFields> fields;
  std::vector<LayerReach> reach;
};

Layers layers_of(const Domain& domain, std::int32_t first, std::int32_t count, int threads) {
  Layers L;
  L.grid = domain.axes();
  for (std::int32_t l = 0; l < count; ++l) L.fields.push_back(domain.fields(first + l));
  L.reach.resize(static_cast<std::size_t>(count));
  for_each_layer(L.reach.size(), threads, [&](std::size_t l) { L.reach[l] = layer_reach(L.grid, L.fields[l]); });
  return L;
}

// Per layer, the weight of every point (the point-days a new platform
// covering it would add) and the points still open (weight above 0).
struct Weights {
  std::vector<std::vector<std::int32_t>> of;
  std::vector<std::vector<std::uint8_t>> open;
};

std::int64_t gain_of(const Layers& L, const Observation& c, float slot, const Weights& w) {
  std::int64_t g = 0;
  for (std::size_t l = 0; l < L.fields.size(); ++l) {
    g += weigh_newly_covered(L.grid, L.fields[l], L.reach[l], c, slot, w.of[l], w.open[l]);
  }
  return g;
}

// A candidate's gain, counted at the step `step`; gains only shrink as
// platforms are added, so an older count bounds the current one.
struct Entry {
  std::int64_t gain;
  std::size_t index;
  std::int32_t step;
};
// The larger gain first; among equal gains the first candidate.
struct Lower {
  bool operator()(const Entry& a, const Entry& b) const {
    return a.gain != b.gain ? a.gain < b.gain : a.index > b.index;
  }
};
using Queue = std::priority_queue<Entry, std::vector<Entry>, Lower>;

// The next pick: the candidate with the largest gain at `step`.
std::size_t next_pick(Queue& queue, const Layers& L, const PlanRequest& request, float slot, const Weights& w,
                      std::int32_t step) {
  for (;;) {
    const Entry top = queue.top();
    queue.pop();
    if (top.step == step) return top.index;
    queue.push({gain_of(L, request.candidates[top.index], slot, w), top.index, step});
  }
}

// The first gains of all candidates at once, point by point.
Queue first_gains(const Layers& L, const PlanRequest& request, float slot, const Weights& w) {
  const std::size_t layers = L.fields.size(), ncand = request.candidates.size();
  std::vector<std::int64_t> gains(layers * ncand, 0);
  for_each_layer(layers, request.threads, [&](std::size_t l) {
    weigh_newly_covered_each(L.grid, L.fields[l], L.reach[l], request.candidates, slot, w.of[l],
                             std::span<std::int64_t>(gains.data() + l * ncand, ncand), w.open[l]);
  });
  std::vector<Entry> initial(ncand);
  for (std::size_t c = 0; c < ncand; ++c) {
    initial[c] = {0, c, 0};
    for (std::size_t l = 0; l < layers; ++l) initial[c].gain += gains[l * ncand + c];
  }
  return Queue(Lower{}, std::move(initial));
}

// The greedy placement of request.add candidates on the weights `w`: the
// points a pick covers are taken out (weight 0) and marked as the plan's in
// r.classes; r's picks and their new points and point-days are added.
void place(const Layers& L, const PlanRequest& request, float slot, Weights& w, PlanResult& r) {
  const std::size_t layers = L.fields.size();
  const std::size_t plane = static_cast<std::size_t>(L.grid.plane_size());
  Queue queue = first_gains(L, request, slot, w);
  std::vector<std::uint8_t> newly(plane);
  r.covered_after = r.covered_before;
  r.point_days_after = r.point_days_before;
  for (std::int32_t step = 0; step < request.add && !queue.empty(); ++step) {
    const std::size_t pick = next_pick(queue, L, request, slot, w, step);
    r.picks.push_back(pick);
    for (std::size_t l = 0; l < layers; ++l) {
      std::fill(newly.begin(), newly.end(), std::uint8_t{0});
      const Observation one[] = {request.candidates[pick]};
      mark_covered(L.grid, L.fields[l], L.reach[l], one, slot, newly, w.open[l]);
      std::int32_t n = 0;
      std::int64_t gain = 0;
      for (std::size_t q = 0; q < plane; ++q) {
        if (newly[q] != 1) continue;
        ++n;
        gain += w.of[l][q];
        w.of[l][q] = 0;
        w.open[l][q] = 0;
        r.classes[l * plane + q] = 3;
      }
      r.pick_new.push_back(n);
      r.pick_gain.push_back(gain);
      r.covered_after[l] += n;
      r.point_days_after[l] += gain;
    }
  }
}

// The weights of a network whose points are covered on covered_days[l][q]
// of `days` days: the days left uncovered at every water point; and the
// classes and the points covered on every day.
Weights weights_of(const Layers& L, std::int32_t days, const std::function<std::int32_t(std::size_t, std::size_t)>& covered_days,
                   PlanResult& r) {
  const std::size_t layers = L.fields.size();
  const std::size_t plane = static_cast<std::size_t>(L.grid.plane_size());
  Weights w;
  w.of.assign(layers, std::vector<std::int32_t>(plane, 0));
  w.open.assign(layers, std::vector<std::uint8_t>(plane, 0));
  r.classes.assign(layers * plane, 0);
  r.covered_before.assign(layers, 0);
  for (std::size_t l = 0; l < layers; ++l) {
    for (std::size_t q = 0; q < plane; ++q) {
      if (L.fields[l].water[q] != 1) continue;
      const std::int32_t left = days - covered_days(l, q);
      w.of[l][q] = left;
      w.open[l][q] = left > 0 ? 1 : 0;
      r.classes[l * plane + q] = left > 0 ? 1 : 2;
      r.covered_before[l] += left > 0 ? 0 : 1;
    }
  }
  return w;
}

void critical_observations(std::span<const Observation> obs, const Assessment& a, const Layers& L, float slot,
                           const PlanRequest& request, PlanResult& r) {
  const std::size_t layers = L.fields.size();
  r.unique.assign(obs.size() * layers, 0);
  r.group_unique.assign(request.ngroups * layers, 0);
  for_each_layer(layers, request.threads, [&](std::size_t l) {
    const std::span<const std::uint8_t> covered = a.decisions(r.k_first + static_cast<std::int32_t>(l));
    const std::vector<std::int32_t> u = unique_coverage(L.grid, L.fields[l], L.reach[l], obs, slot, covered);
    for (std::size_t n = 0; n < u.size(); ++n) r.unique[n * layers + l] = u[n];
    if (request.groups.empty()) return;
    const std::vector<std::int32_t> g =
        unique_coverage(L.grid, L.fields[l], L.reach[l], obs, slot, covered, request.groups, request.ngroups);
    for (std::size_t n = 0; n < g.size(); ++n) r.group_unique[n * layers + l] = g[n];
  });
}

}  // namespace

PlatformGroups platform_groups(std::span<const ObservationRecord> records) {
  PlatformGroups g;
  std::unordered_map<std::uint32_t, std::uint32_t> group_of_platform;
  for (std::size_t n = 0; n < records.size(); ++n) {
    const std::uint32_t next = static_cast<std::uint32_t>(g.size());
    const std::uint32_t group =
        records[n].platform == 0 ? next : group_of_platform.try_emplace(records[n].platform, next).first->second;
    if (group == next) {
      g.first.push_back(n);
      g.records.push_back(0);
    }
    g.of.push_back(group);
    ++g.records[group];
  }
  return g;
}

std::vector<std::int32_t> unique_coverage(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                                          std::span<const Observation> obs, float slot,
                                          std::span<const std::uint8_t> among, std::span<const std::uint32_t> groups,
                                          std::size_t ngroups) {
  if (!groups.empty() && groups.size() != obs.size()) {
    throw Error(ErrorCode::bad_request, "plan", "the groups do not match the observations one for one");
  }
  const std::size_t plane = static_cast<std::size_t>(grid.plane_size());
  std::vector<std::uint8_t> count(plane, 0);
  std::vector<std::int32_t> first(plane, -1);
  tally_covered(grid, layer, reach, obs, slot, count, first, among, groups);
  std::vector<std::int32_t> unique(groups.empty() ? obs.size() : ngroups, 0);
  for (std::size_t q = 0; q < plane; ++q) {
    if (count[q] != 1) continue;
    const std::size_t n = static_cast<std::size_t>(first[q]);
    ++unique[groups.empty() ? n : groups[n]];
  }
  return unique;
}

PlanResult plan_network(const Domain& domain, const Assessment& a, const PlanRequest& request) {
  const std::span<const Observation> observations = a.observations;
  const float slot = a.slot;
  if (a.layers.empty()) throw Error(ErrorCode::bad_layers, "plan", "no layer to plan on: the assessment holds none");
  PlanResult r;
  r.k_first = a.first_layer;
  r.layers = static_cast<std::int32_t>(a.layers.size());
  const Layers L = layers_of(domain, r.k_first, r.layers, request.threads);
  critical_observations(observations, a, L, slot, request, r);
  // One day: the points the network leaves open weigh 1.
  Weights w = weights_of(L, 1, [&](std::size_t l, std::size_t q) {
    return std::int32_t{a.decisions(r.k_first + static_cast<std::int32_t>(l))[q]};
  }, r);
  r.point_days_before.assign(r.covered_before.begin(), r.covered_before.end());
  place(L, request, slot, w, r);
  return r;
}

PlanResult plan_period(const Domain& domain, std::span<const ObservationRecord> records, std::span<const float> slots,
                       std::int32_t first_layer, std::int32_t last_layer, const PlanRequest& request) {
  if (slots.empty()) throw Error(ErrorCode::bad_request, "plan", "no day to plan on: the period holds none");
  if (layer_count(first_layer, last_layer) < 1) {
    throw Error(ErrorCode::bad_layers, "plan", "no layer to plan on: the range holds none");
  }
  const float slot = slots.front();
  for (const Observation& c : request.candidates) {
    if (c.time != slot) throw Error(ErrorCode::bad_request, "plan", "a candidate of a period is not in its first slot");
  }
  SeriesRequest s;
  s.first_layer = first_layer;
  s.last_layer = last_layer;
  s.slots.assign(slots.begin(), slots.end());
  s.threads = request.threads;
  const SeriesResult series = assess_series(domain, records, s);
  PlanResult r;
  r.k_first = first_layer;
  r.layers = series.layers;
  r.days = static_cast<std::int32_t>(slots.size());
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  const Layers L = layers_of(domain, r.k_first, r.layers, request.threads);
  const std::size_t plane = static_cast<std::size_t>(L.grid.plane_size());
  Weights w = weights_of(L, r.days, [&](std::size_t l, std::size_t q) { return series.covered_days[l * plane + q]; }, r);
  r.point_days_before.assign(layers, 0);
  for (std::size_t d = 0; d < slots.size(); ++d) {
    for (std::size_t l = 0; l < layers; ++l) r.point_days_before[l] += series.covered_points[d * layers + l];
  }
  place(L, request, slot, w, r);
  return r;
}

std::vector<Site> water_sites(const Domain& domain, std::int32_t layer, std::int32_t step) {
  const Grid& g = domain.grid();
  std::vector<std::size_t> rows(g.lat.size()), cols(g.lon.size());
  for (std::size_t j = 0; j < rows.size(); ++j) rows[j] = j;
  for (std::size_t i = 0; i < cols.size(); ++i) cols[i] = i;
  std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) { return g.lat[a] < g.lat[b]; });
  std::stable_sort(cols.begin(), cols.end(), [&](std::size_t a, std::size_t b) { return g.lon[a] < g.lon[b]; });
  const std::span<const std::int32_t> water = domain.layer(layer).water;
  std::vector<Site> sites;
  const std::size_t every = static_cast<std::size_t>(std::max(1, step));
  for (std::size_t jj = 0; jj < rows.size(); jj += every) {
    const std::size_t j = rows[jj];
    for (std::size_t ii = 0; ii < cols.size(); ii += every) {
      const std::size_t i = cols[ii];
      if (water[i + g.lon.size() * j] == 1) sites.push_back(Site{g.lat[j], g.lon[i]});
    }
  }
  return sites;
}

}  // namespace kelvo
