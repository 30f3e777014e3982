#include "kelvo_map/contributions.hpp"

#include <algorithm>

#include "kelvo_brino/coverage_fast.hpp"
#include "kelvo_brino/metadata.hpp"
#include "kelvo_mod/allocation.hpp"

namespace kelvo {

namespace {

constexpr const char* op = "kind_contributions";

float covered_fraction(const DomainState& ds, std::int32_t ilayer, std::int32_t ksum) {
  return static_cast<float>(ksum) / static_cast<float>(ds.Nwater(ilayer));
}

// Per kind, 1 at the points its observations cover (kinds x plane).
// Only the points the whole network covers are examined: a part of the
// network cannot cover any other point.
void decide_per_kind(const DomainState& ds, std::int32_t ilayer, std::span<const float> dxkm,
                     std::span<const std::int32_t> kinds, std::span<const std::uint8_t> covered,
                     std::vector<std::uint8_t>& per_kind) {
  const std::int64_t plane = std::int64_t{ds.nlon} * ds.nlat;
  std::fill(per_kind.begin(), per_kind.end(), std::uint8_t{0});
  const std::vector<std::int32_t> ids = eligible_observations(ds, ds.nobs_sel, ilayer);
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    const std::vector<std::int32_t> alone = select_kind(ds, ids, kinds[k]);
    if (alone.empty()) continue;
    const std::span<std::uint8_t> map(per_kind.data() + plane * static_cast<std::int64_t>(k),
                                      static_cast<std::size_t>(plane));
    count_covered_fast_among(ds, ilayer, dxkm, alone, covered, map);
  }
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

std::vector<std::int32_t> kinds_present(const DomainState& ds, std::int32_t nobs) {
  std::vector<std::int32_t> kinds;
  for (std::int32_t n = 1; n <= nobs; ++n) kinds.push_back(observation_kind(ds, n));
  std::sort(kinds.begin(), kinds.end());
  kinds.erase(std::unique(kinds.begin(), kinds.end()), kinds.end());
  return kinds;
}

std::vector<std::int32_t> select_kind(const DomainState& ds, std::span<const std::int32_t> ids,
                                      std::int32_t kind) {
  std::vector<std::int32_t> selected;
  for (std::int32_t n : ids) {
    if (observation_kind(ds, n) == kind) selected.push_back(n);
  }
  return selected;
}

KindContributions kind_contributions(DomainState& ds, CoverageMaps& maps, std::int32_t level_start,
                                     std::int32_t level_end) {
  KindContributions c;
  c.kinds = kinds_present(ds, ds.nobs_sel);
  c.k_first = level_start;
  c.layers = level_end >= level_start ? level_end - level_start + 1 : 0;
  const std::int64_t nkinds = static_cast<std::int64_t>(c.kinds.size());
  allocate(ds, c.by_kind, element_count({nkinds, c.layers}), 0.0f, op, "coverage_by_kind");
  allocate(ds, c.without_kind, element_count({nkinds, c.layers}), 0.0f, op, "coverage_without_kind");
  if (nkinds == 0) return c;
  std::vector<std::uint8_t> per_kind;
  allocate(ds, per_kind, element_count({nkinds, std::int64_t{ds.nlon} * ds.nlat}), std::uint8_t{0}, op,
           "per-kind decisions");
  const std::vector<float> dxkm = row_km_per_degree(ds);
  for (std::int32_t ilayer = level_start; ilayer <= level_end; ++ilayer) {
    const std::span<const std::uint8_t> covered = maps.layer(ilayer);
    decide_per_kind(ds, ilayer, dxkm, c.kinds, covered, per_kind);
    count_per_kind(c, ds, ilayer, covered, per_kind);
  }
  return c;
}

}  // namespace kelvo
