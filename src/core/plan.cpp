#include "core/plan.hpp"

#include <algorithm>
#include <queue>

#include "core/error.hpp"
#include "core/parallel.hpp"

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

std::int32_t gain_of(const Layers& L, const Observation& c, float slot,
                     const std::vector<std::vector<std::uint8_t>>& open) {
  std::int32_t g = 0;
  for (std::size_t l = 0; l < L.fields.size(); ++l) {
    g += count_newly_covered(L.grid, L.fields[l], L.reach[l], c, slot, open[l]);
  }
  return g;
}

// A candidate's gain, counted at the step `step`; gains only shrink as
// platforms are added, so an older count bounds the current one.
struct Entry {
  std::int32_t gain;
  std::size_t index;
  std::int32_t step;
};
// The larger gain first; among equal gains the first candidate.
struct Lower {
  bool operator()(const Entry& a, const Entry& b) const {
    return a.gain != b.gain ? a.gain < b.gain : a.index > b.index;
  }
};

// The next pick: the candidate with the largest gain at `step`.
std::size_t next_pick(std::priority_queue<Entry, std::vector<Entry>, Lower>& queue, const Layers& L,
                      const PlanRequest& request, float slot, const std::vector<std::vector<std::uint8_t>>& open,
                      std::int32_t step) {
  for (;;) {
    const Entry top = queue.top();
    queue.pop();
    if (top.step == step) return top.index;
    queue.push({gain_of(L, request.candidates[top.index], slot, open), top.index, step});
  }
}

void critical_observations(std::span<const Observation> obs, const Assessment& a, const Layers& L, float slot,
                           int threads, PlanResult& r) {
  const std::size_t layers = L.fields.size();
  r.unique.assign(obs.size() * layers, 0);
  for_each_layer(layers, threads, [&](std::size_t l) {
    const std::span<const std::uint8_t> covered = a.decisions(r.k_first + static_cast<std::int32_t>(l));
    const std::vector<std::int32_t> u = unique_coverage(L.grid, L.fields[l], L.reach[l], obs, slot, covered);
    for (std::size_t n = 0; n < u.size(); ++n) r.unique[n * layers + l] = u[n];
  });
}

}  // namespace

std::vector<std::int32_t> unique_coverage(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                                          std::span<const Observation> obs, float slot,
                                          std::span<const std::uint8_t> among) {
  const std::size_t plane = static_cast<std::size_t>(grid.plane_size());
  std::vector<std::uint8_t> count(plane, 0);
  std::vector<std::int32_t> first(plane, -1);
  tally_covered(grid, layer, reach, obs, slot, count, first, among);
  std::vector<std::int32_t> unique(obs.size(), 0);
  for (std::size_t q = 0; q < plane; ++q) {
    if (count[q] == 1) ++unique[static_cast<std::size_t>(first[q])];
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
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  const Layers L = layers_of(domain, r.k_first, r.layers, request.threads);
  const std::size_t plane = static_cast<std::size_t>(L.grid.plane_size());
  critical_observations(observations, a, L, slot, request.threads, r);

  // The water points no observation covers yet, and the classes.
  std::vector<std::vector<std::uint8_t>> open(layers, std::vector<std::uint8_t>(plane, 0));
  r.classes.assign(layers * plane, 0);
  for (std::size_t l = 0; l < layers; ++l) {
    const std::span<const std::uint8_t> covered = a.decisions(r.k_first + static_cast<std::int32_t>(l));
    std::int32_t before = 0;
    for (std::size_t q = 0; q < plane; ++q) {
      if (L.fields[l].water[q] != 1) continue;
      open[l][q] = covered[q] == 1 ? 0 : 1;
      r.classes[l * plane + q] = covered[q] == 1 ? 2 : 1;
      before += covered[q];
    }
    r.covered_before.push_back(before);
  }
  r.covered_after = r.covered_before;

  // The first gains of all candidates at once, point by point.
  const std::size_t ncand = request.candidates.size();
  std::vector<std::int32_t> gains(layers * ncand, 0);
  for_each_layer(layers, request.threads, [&](std::size_t l) {
    count_newly_covered_each(L.grid, L.fields[l], L.reach[l], request.candidates, slot,
                             std::span<std::int32_t>(gains.data() + l * ncand, ncand), open[l]);
  });
  std::vector<Entry> initial(ncand);
  for (std::size_t c = 0; c < ncand; ++c) {
    initial[c] = {0, c, 0};
    for (std::size_t l = 0; l < layers; ++l) initial[c].gain += gains[l * ncand + c];
  }
  std::priority_queue<Entry, std::vector<Entry>, Lower> queue(Lower{}, std::move(initial));
  std::vector<std::uint8_t> newly(plane);
  for (std::int32_t step = 0; step < request.add && !queue.empty(); ++step) {
    const std::size_t pick = next_pick(queue, L, request, slot, open, step);
    r.picks.push_back(pick);
    for (std::size_t l = 0; l < layers; ++l) {
      std::fill(newly.begin(), newly.end(), std::uint8_t{0});
      const Observation one[] = {request.candidates[pick]};
      mark_covered(L.grid, L.fields[l], L.reach[l], one, slot, newly, open[l]);
      std::int32_t n = 0;
      for (std::size_t q = 0; q < plane; ++q) {
        if (newly[q] != 1) continue;
        ++n;
        open[l][q] = 0;
        r.classes[l * plane + q] = 3;
      }
      r.pick_new.push_back(n);
      r.covered_after[l] += n;
    }
  }
  return r;
}

std::vector<Site> water_sites(const Domain& domain, std::int32_t layer) {
  const Grid& g = domain.grid();
  std::vector<std::size_t> rows(g.lat.size()), cols(g.lon.size());
  for (std::size_t j = 0; j < rows.size(); ++j) rows[j] = j;
  for (std::size_t i = 0; i < cols.size(); ++i) cols[i] = i;
  std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) { return g.lat[a] < g.lat[b]; });
  std::stable_sort(cols.begin(), cols.end(), [&](std::size_t a, std::size_t b) { return g.lon[a] < g.lon[b]; });
  const std::span<const std::int32_t> water = domain.layer(layer).water;
  std::vector<Site> sites;
  for (std::size_t j : rows) {
    for (std::size_t i : cols) {
      if (water[i + g.lon.size() * j] == 1) sites.push_back(Site{g.lat[j], g.lon[i]});
    }
  }
  return sites;
}

}  // namespace kelvo
