#include "kelvo_brino/coverage.hpp"

#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/legacy_messages.hpp"
#include "textio/fields.hpp"

namespace kelvo {

namespace {

void print_layer_result(Reporter& out, const DomainState& ds, std::int32_t ilayer, std::int32_t ksum) {
  std::string line(legacy::layer_result);
  textio::put_int(line, ilayer, 4);
  textio::put_int(line, ds.Nwater(ilayer), 10);
  textio::put_int(line, ksum, 10);
  textio::put_fixed(line, ds.Kpct(ilayer), 8, 3);
  line += '\n';
  out.write(line);
}

}  // namespace

// Sizes the maps for the layers of the range; with per-kind decisions asked
// for (and few enough kinds), also their planes and the observations' tags.
std::vector<std::uint32_t> prepare_maps(Reporter& out, const DomainState& ds, const GridAxes& grid,
                                        CoverageMaps& maps) {
  constexpr std::string_view op = "assess_coverage";
  maps.k_first = ds.level_start;
  maps.plane_size = grid.plane_size();
  const std::int64_t layers = ds.level_end >= ds.level_start ? std::int64_t{ds.level_end} - ds.level_start + 1 : 0;
  allocate(out, maps.covered, element_count({maps.plane_size, layers}), std::uint8_t{0}, op, "coverage maps");
  maps.kinds.clear();
  maps.per_kind.clear();
  if (!maps.by_kind) return {};
  std::vector<std::int32_t> kinds = kinds_present(ds.obs);
  if (kinds.empty() || kinds.size() > static_cast<std::size_t>(max_tags)) return {};
  maps.kinds = std::move(kinds);
  const auto nkinds = static_cast<std::int64_t>(maps.kinds.size());
  allocate(out, maps.per_kind, element_count({maps.plane_size, nkinds, layers}), std::uint8_t{0}, op,
           "per-kind decisions");
  return kind_tags(ds.obs, maps.kinds);
}

// A point is covered where the observations of any kind cover it.
void merge_kinds(CoverageMaps& maps, std::int32_t ilayer) {
  const std::span<std::uint8_t> covered = maps.layer(ilayer);
  const std::span<const std::uint8_t> planes = maps.kind_planes(ilayer);
  for (std::size_t k = 0; k < maps.kinds.size(); ++k) {
    const std::uint8_t* plane = planes.data() + k * covered.size();
    for (std::size_t q = 0; q < covered.size(); ++q) covered[q] |= plane[q];
  }
}

void assess_coverage(Reporter& out, DomainState& ds, Evaluation how, CoverageMaps* maps, int threads) {
  const std::vector<float> dxkm = row_km_per_degree(ds.lat.data);
  const GridAxes grid = grid_axes(ds, dxkm);
  const std::vector<std::uint32_t> tags = maps != nullptr ? prepare_maps(out, ds, grid, *maps)
                                                          : std::vector<std::uint32_t>{};
  if (ds.level_end < ds.level_start) return;
  const bool by_kind = !tags.empty();
  // Every layer is counted first, its rows shared among the threads; the
  // two lines of each layer follow in layer order.
  const PreparedObservations prepared =
      by_kind ? prepare_observations(ds.obs, ds.jdayaxis(1), ds.level_start, ds.level_end, threads, tags,
                                     static_cast<std::int32_t>(maps->kinds.size()))
              : prepare_observations(ds.obs, ds.jdayaxis(1), ds.level_start, ds.level_end, threads);
  std::vector<CoverageJob> jobs;
  for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) {
    CoverageJob job{layer_fields(ds, ilayer), &prepared};
    if (maps != nullptr) job.decisions = by_kind ? maps->kind_planes(ilayer) : maps->layer(ilayer);
    jobs.push_back(job);
  }
  const std::vector<std::int32_t> ksum = count_covered(grid, jobs, EngineOptions{how, threads});
  if (by_kind) {
    for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) merge_kinds(*maps, ilayer);
  }
  for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) {
    out.print({legacy::assessing, ilayer});
    const std::int32_t k = ksum[static_cast<std::size_t>(ilayer - ds.level_start)];
    ds.Kpct(ilayer) = static_cast<float>(k) / static_cast<float>(ds.Nwater(ilayer));
    print_layer_result(out, ds, ilayer, k);
  }
}

}  // namespace kelvo
