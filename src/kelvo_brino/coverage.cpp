#include "kelvo_brino/coverage.hpp"

#include "kelvo_brino/coverage_fast.hpp"
#include "kelvo_mod/allocation.hpp"
#include "textio/fields.hpp"

namespace kelvo {

std::vector<float> row_km_per_degree(const DomainState& ds) {
  std::vector<float> dxkm(static_cast<std::size_t>(ds.nlat));
  for (std::int32_t j = 1; j <= ds.nlat; ++j) {
    dxkm[static_cast<std::size_t>(j - 1)] = km_per_degree_lon(ds.lat(j));
  }
  return dxkm;
}

std::vector<std::int32_t> eligible_observations(const DomainState& ds, std::int32_t nobs,
                                                std::int32_t ilayer) {
  std::vector<std::int32_t> ids;
  for (std::int32_t n = 1; n <= nobs; ++n) {
    if (eligible(ds, n, ilayer)) ids.push_back(n);
  }
  return ids;
}

PointScales point_scales(const DomainState& ds, std::int32_t i, std::int32_t j, std::int32_t ilayer,
                         float dxkm) {
  return PointScales{ds.lon(i),
                     ds.lat(j),
                     dxkm,
                     ds.scale.at(i, j, ilayer, 1),
                     ds.scale.at(i, j, ilayer, 2),
                     ds.scale.at(i, j, ilayer, 3),
                     ds.power(ilayer, 1),
                     ds.power(ilayer, 2),
                     ds.power(ilayer, 3)};
}

bool point_covered_exhaustive(const DomainState& ds, std::int32_t nobs, std::int32_t i,
                              std::int32_t j, std::int32_t ilayer, float dxkm) {
  const PointScales p = point_scales(ds, i, j, ilayer, dxkm);
  const float slot = ds.jdayaxis(1);
  bool covered = false;
  for (std::int32_t n = 1; n <= nobs; ++n) {
    if (!eligible(ds, n, ilayer)) continue;
    const float dt = time_distance(slot, &ds.obs_jday(n, 1), DomainState::ntimes);
    if (observation_covers(p, ds.obs_meta(n, 1), ds.obs_meta(n, 2), dt)) covered = true;
  }
  return covered;
}

namespace {

std::int32_t count_covered_exhaustive(const DomainState& ds, std::int32_t nobs, std::int32_t ilayer,
                                      std::span<const float> dxkm, std::span<std::uint8_t> map) {
  const std::int32_t* mask = ds.water_mask.plane(ilayer, 1);
  std::int32_t ksum = 0;
  for (std::int32_t j = 1; j <= ds.nlat; ++j) {
    for (std::int32_t i = 1; i <= ds.nlon; ++i) {
      const std::int64_t p = (i - 1) + std::int64_t{ds.nlon} * (j - 1);
      if (mask[p] != 1) continue;
      const bool covered =
          point_covered_exhaustive(ds, nobs, i, j, ilayer, dxkm[static_cast<std::size_t>(j - 1)]);
      if (covered) ++ksum;
      if (!map.empty()) map[static_cast<std::size_t>(p)] = covered ? 1 : 0;
    }
  }
  return ksum;
}

void print_layer_result(DomainState& ds, std::int32_t ilayer, std::int32_t ksum) {
  std::string line = " Ilayer, Nwater, Ksum, Kpct : ";
  textio::put_int(line, ilayer, 4);
  textio::put_int(line, ds.Nwater(ilayer), 10);
  textio::put_int(line, ksum, 10);
  textio::put_fixed(line, ds.Kpct(ilayer), 8, 3);
  line += '\n';
  ds.console.write(line);
}

}  // namespace

std::int32_t count_covered(const DomainState& ds, std::int32_t nobs, std::int32_t ilayer,
                           std::span<const float> dxkm, Evaluation how, std::span<std::uint8_t> map) {
  if (how == Evaluation::exhaustive) return count_covered_exhaustive(ds, nobs, ilayer, dxkm, map);
  const std::vector<std::int32_t> ids = eligible_observations(ds, nobs, ilayer);
  return count_covered_fast(ds, ilayer, dxkm, ids, map);
}

void assess_coverage(DomainState& ds, std::int32_t nobs_sel, std::int32_t level_start,
                     std::int32_t level_end, Evaluation how, CoverageMaps* maps) {
  const std::vector<float> dxkm = row_km_per_degree(ds);
  if (maps != nullptr) {
    maps->k_first = level_start;
    maps->plane_size = std::int64_t{ds.nlon} * ds.nlat;
    const std::int64_t layers = level_end >= level_start ? std::int64_t{level_end} - level_start + 1 : 0;
    allocate(ds, maps->covered, element_count({maps->plane_size, layers}), std::uint8_t{0},
             "assess_coverage", "coverage maps");
  }
  for (std::int32_t ilayer = level_start; ilayer <= level_end; ++ilayer) {
    print_free(ds, {"Assessing ilayer: ", ilayer});
    const std::span<std::uint8_t> map = maps != nullptr ? maps->layer(ilayer) : std::span<std::uint8_t>();
    const std::int32_t ksum = count_covered(ds, nobs_sel, ilayer, dxkm, how, map);
    ds.Kpct(ilayer) = static_cast<float>(ksum) / static_cast<float>(ds.Nwater(ilayer));
    print_layer_result(ds, ilayer, ksum);
  }
}

}  // namespace kelvo
