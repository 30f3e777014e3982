#include "kelvo_map/contributions.hpp"

#include <algorithm>

#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/parallel.hpp"

namespace kelvo {

namespace {

constexpr const char* op = "kind_contributions";

float covered_fraction(const DomainState& ds, std::int32_t ilayer, std::int32_t ksum) {
  return static_cast<float>(ksum) / static_cast<float>(ds.Nwater(ilayer));
}

// Per kind, 1 at the points its observations cover (kinds x plane), the
// rows of every kind shared among the threads. Only the points the whole
// network covers are examined: a part of the network cannot cover any
// other point.
void decide_per_kind(const GridAxes& grid, const LayerFields& layer, std::span<const PreparedObservations> by_kind,
                     std::span<const std::uint8_t> covered, std::vector<std::uint8_t>& per_kind, int threads) {
  const std::int64_t plane = grid.plane_size();
  std::fill(per_kind.begin(), per_kind.end(), std::uint8_t{0});
  std::vector<CoverageJob> jobs;
  for (std::size_t k = 0; k < by_kind.size(); ++k) {
    if (by_kind[k].source.empty()) continue;
    const std::span<std::uint8_t> decisions(per_kind.data() + plane * static_cast<std::int64_t>(k),
                                            static_cast<std::size_t>(plane));
    jobs.push_back(CoverageJob{layer, &by_kind[k], covered, decisions});
  }
  count_covered(grid, jobs, EngineOptions{Evaluation::fast, threads});
}

// From the per-kind decisions at the points the whole network covers: the
// covered points of each kind alone and of all kinds but it.
void count_per_kind(KindContributions& c, const DomainState& ds, std::int32_t ilayer,
                    std::span<const std::uint8_t> covered, std::span<const std::uint8_t> per_kind) {
  const std::size_t plane = covered.size();
  const std::size_t nkinds = c.kinds.size();
  std::vector<std::int32_t> alone(nkinds, 0);
  std::vector<std::int32_t> without(nkinds, 0);
  for (std::size_t p = 0; p < plane; ++p) {
    if (covered[p] != 1) continue;
    std::int32_t covering = 0;
    for (std::size_t k = 0; k < nkinds; ++k) covering += per_kind[k * plane + p];
    for (std::size_t k = 0; k < nkinds; ++k) {
      alone[k] += per_kind[k * plane + p];
      if (covering - per_kind[k * plane + p] > 0) ++without[k];
    }
  }
  for (std::size_t k = 0; k < nkinds; ++k) {
    c.by_kind[c.index(k, ilayer)] = covered_fraction(ds, ilayer, alone[k]);
    c.without_kind[c.index(k, ilayer)] = covered_fraction(ds, ilayer, without[k]);
  }
}

}  // namespace

std::vector<std::int32_t> kinds_present(std::span<const Observation> obs) {
  std::vector<std::int32_t> kinds;
  for (const Observation& o : obs) kinds.push_back(o.kind);
  std::sort(kinds.begin(), kinds.end());
  kinds.erase(std::unique(kinds.begin(), kinds.end()), kinds.end());
  return kinds;
}

std::vector<Observation> select_kind(std::span<const Observation> obs, std::int32_t kind) {
  std::vector<Observation> selected;
  for (const Observation& o : obs) {
    if (o.kind == kind) selected.push_back(o);
  }
  return selected;
}

KindContributions kind_contributions(Reporter& out, const DomainState& ds, const CoverageMaps& maps, int threads) {
  KindContributions c;
  c.kinds = kinds_present(ds.obs);
  c.k_first = ds.level_start;
  c.layers = ds.level_end >= ds.level_start ? ds.level_end - ds.level_start + 1 : 0;
  const std::int64_t nkinds = static_cast<std::int64_t>(c.kinds.size());
  allocate(out, c.by_kind, element_count({nkinds, c.layers}), 0.0f, op, "coverage_by_kind");
  allocate(out, c.without_kind, element_count({nkinds, c.layers}), 0.0f, op, "coverage_without_kind");
  if (nkinds == 0) return c;
  std::vector<std::uint8_t> per_kind;
  allocate(out, per_kind, element_count({nkinds, std::int64_t{ds.nlon} * ds.nlat}), std::uint8_t{0}, op,
           "per-kind decisions");
  std::vector<std::vector<Observation>> by_kind;
  for (std::int32_t kind : c.kinds) by_kind.push_back(select_kind(ds.obs, kind));
  const float slot = ds.jdayaxis(1);
  // Each kind's observations indexed once for the whole layer range.
  std::vector<PreparedObservations> prepared(by_kind.size());
  parallel_for(nkinds, threads, [&](std::int64_t k) {
    const std::size_t n = static_cast<std::size_t>(k);
    prepared[n] = prepare_observations(by_kind[n], slot, ds.level_start, ds.level_end);
  });
  const std::vector<float> dxkm = row_km_per_degree(ds.lat.data);
  const GridAxes grid = grid_axes(ds, dxkm);
  for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) {
    const std::span<const std::uint8_t> covered = maps.layer(ilayer);
    decide_per_kind(grid, layer_fields(ds, ilayer), prepared, covered, per_kind, threads);
    count_per_kind(c, ds, ilayer, covered, per_kind);
  }
  return c;
}

}  // namespace kelvo
