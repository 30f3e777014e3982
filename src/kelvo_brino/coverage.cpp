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

void assess_coverage(Reporter& out, DomainState& ds, Evaluation how, CoverageMaps* maps, int threads) {
  const std::vector<float> dxkm = row_km_per_degree(ds.lat.data);
  const GridAxes grid = grid_axes(ds, dxkm);
  if (maps != nullptr) {
    maps->k_first = ds.level_start;
    maps->plane_size = grid.plane_size();
    const std::int64_t layers =
        ds.level_end >= ds.level_start ? std::int64_t{ds.level_end} - ds.level_start + 1 : 0;
    allocate(out, maps->covered, element_count({maps->plane_size, layers}), std::uint8_t{0}, "assess_coverage",
             "coverage maps");
  }
  if (ds.level_end < ds.level_start) return;
  // Every layer is counted first, its rows shared among the threads; the
  // two lines of each layer follow in layer order.
  const PreparedObservations prepared =
      prepare_observations(ds.obs, ds.jdayaxis(1), ds.level_start, ds.level_end, threads);
  std::vector<CoverageJob> jobs;
  for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) {
    CoverageJob job{layer_fields(ds, ilayer), &prepared};
    if (maps != nullptr) job.decisions = maps->layer(ilayer);
    jobs.push_back(job);
  }
  const std::vector<std::int32_t> ksum = count_covered(grid, jobs, EngineOptions{how, threads});
  for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) {
    out.print({legacy::assessing, ilayer});
    const std::int32_t k = ksum[static_cast<std::size_t>(ilayer - ds.level_start)];
    ds.Kpct(ilayer) = static_cast<float>(k) / static_cast<float>(ds.Nwater(ilayer));
    print_layer_result(out, ds, ilayer, k);
  }
}

}  // namespace kelvo
