#include "kelvo_brino/coverage.hpp"

#include <algorithm>

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


constexpr std::string_view op = "assess_coverage";

std::int64_t layer_count(const DomainState& ds) {
  return ds.level_end >= ds.level_start ? std::int64_t{ds.level_end} - ds.level_start + 1 : 0;
}

// Sizes the maps for the layers of the range; with per-kind decisions asked
// for (and few enough kinds), also their counts, and gives the observations' tags.
std::vector<std::uint32_t> prepare_maps(Reporter& out, const DomainState& ds, const GridAxes& grid,
                                        CoverageMaps& maps) {
  maps.k_first = ds.level_start;
  maps.plane_size = grid.plane_size();
  const std::int64_t layers = layer_count(ds);
  allocate(out, maps.covered, element_count({maps.plane_size, layers}), std::uint8_t{0}, op, "coverage maps");
  maps.kinds.clear();
  maps.kind_alone.clear();
  maps.kind_without.clear();
  if (!maps.by_kind) return {};
  std::vector<std::int32_t> kinds = kinds_present(ds.obs);
  if (kinds.empty() || kinds.size() > static_cast<std::size_t>(max_tags)) return {};
  maps.kinds = std::move(kinds);
  maps.kind_alone.assign(maps.kinds.size() * static_cast<std::size_t>(layers), 0);
  maps.kind_without.assign(maps.kinds.size() * static_cast<std::size_t>(layers), 0);
  return kind_tags(ds.obs, maps.kinds);
}

// A point is covered where the observations of any kind cover it.
void merge_kinds(std::span<std::uint8_t> covered, std::span<const std::uint8_t> planes, std::size_t nkinds) {
  for (std::size_t k = 0; k < nkinds; ++k) {
    const std::uint8_t* plane = planes.data() + k * covered.size();
    for (std::size_t q = 0; q < covered.size(); ++q) covered[q] |= plane[q];
  }
}

// The layers decided a kind at a time in one search, layer by layer in one
// set of planes; the maps get the merged decision and the counts per kind.
std::vector<std::int32_t> count_by_kind(Reporter& out, const DomainState& ds, const GridAxes& grid,
                                        const PreparedObservations& prepared, const EngineOptions& options,
                                        CoverageMaps& maps) {
  const std::size_t nkinds = maps.kinds.size();
  const std::size_t layers = static_cast<std::size_t>(layer_count(ds));
  std::vector<std::uint8_t> planes;
  allocate(out, planes, element_count({maps.plane_size, static_cast<std::int64_t>(nkinds)}), std::uint8_t{0}, op,
           "per-kind decisions");
  std::vector<std::int32_t> ksum;
  std::vector<std::int32_t> alone(nkinds), without(nkinds);
  for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) {
    std::fill(planes.begin(), planes.end(), std::uint8_t{0});
    const CoverageJob job{layer_fields(ds, ilayer), &prepared, {}, planes};
    ksum.push_back(count_covered(grid, std::span<const CoverageJob>(&job, 1), options)[0]);
    merge_kinds(maps.layer(ilayer), planes, nkinds);
    std::fill(alone.begin(), alone.end(), 0);
    std::fill(without.begin(), without.end(), 0);
    tally_kinds(maps.layer(ilayer), planes, nkinds, alone, without);
    const std::size_t l = static_cast<std::size_t>(ilayer - ds.level_start);
    for (std::size_t k = 0; k < nkinds; ++k) {
      maps.kind_alone[k * layers + l] = alone[k];
      maps.kind_without[k * layers + l] = without[k];
    }
  }
  return ksum;
}

}  // namespace

namespace {

// Plane by plane (byte sums the compiler vectorises): how many kinds cover
// each point (in a Count wide enough for nkinds); a kind's points; and
// those it alone covers, which are the covered points the others leave.
template <typename Count>
void tally_planes(std::span<const std::uint8_t> covered, std::span<const std::uint8_t> planes, std::size_t nkinds,
                  std::span<std::int32_t> alone, std::span<std::int32_t> without) {
  const std::size_t plane = covered.size();
  std::vector<Count> kinds_covering(plane, 0);
  for (std::size_t k = 0; k < nkinds; ++k) {
    const std::uint8_t* d = planes.data() + k * plane;
    for (std::size_t q = 0; q < plane; ++q) kinds_covering[q] = static_cast<Count>(kinds_covering[q] + d[q]);
  }
  std::int32_t any = 0;
  for (std::size_t q = 0; q < plane; ++q) any += kinds_covering[q] != 0 && covered[q] == 1 ? 1 : 0;
  for (std::size_t k = 0; k < nkinds; ++k) {
    const std::uint8_t* d = planes.data() + k * plane;
    std::int32_t own = 0, only = 0;
    for (std::size_t q = 0; q < plane; ++q) {
      own += d[q] & covered[q];
      only += d[q] & covered[q] & (kinds_covering[q] == 1 ? 1 : 0);
    }
    alone[k] += own;
    without[k] += any - only;
  }
}

}  // namespace

void tally_kinds(std::span<const std::uint8_t> covered, std::span<const std::uint8_t> planes, std::size_t nkinds,
                 std::span<std::int32_t> alone, std::span<std::int32_t> without) {
  if (nkinds <= 255) {
    tally_planes<std::uint8_t>(covered, planes, nkinds, alone, without);
  } else {
    tally_planes<std::uint32_t>(covered, planes, nkinds, alone, without);
  }
}

void assess_coverage(Reporter& out, DomainState& ds, Evaluation how, CoverageMaps* maps, int threads) {
  const std::vector<float> dxkm = row_km_per_degree(ds.lat.data);
  const GridAxes grid = grid_axes(ds, dxkm);
  const std::vector<std::uint32_t> tags = maps != nullptr ? prepare_maps(out, ds, grid, *maps)
                                                          : std::vector<std::uint32_t>{};
  if (ds.level_end < ds.level_start) return;
  const EngineOptions options{how, threads};
  // Every layer is counted first, its rows shared among the threads; the
  // two lines of each layer follow in layer order.
  std::vector<std::int32_t> ksum;
  if (!tags.empty()) {
    const PreparedObservations prepared = prepare_observations(
        ds.obs, ds.jdayaxis(1), ds.level_start, ds.level_end, threads, tags, static_cast<std::int32_t>(maps->kinds.size()));
    ksum = count_by_kind(out, ds, grid, prepared, options, *maps);
  } else {
    const PreparedObservations prepared =
        prepare_observations(ds.obs, ds.jdayaxis(1), ds.level_start, ds.level_end, threads);
    std::vector<CoverageJob> jobs;
    for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) {
      CoverageJob job{layer_fields(ds, ilayer), &prepared};
      if (maps != nullptr) job.decisions = maps->layer(ilayer);
      jobs.push_back(job);
    }
    ksum = count_covered(grid, jobs, options);
  }
  for (std::int32_t ilayer = ds.level_start; ilayer <= ds.level_end; ++ilayer) {
    out.print({legacy::assessing, ilayer});
    const std::int32_t k = ksum[static_cast<std::size_t>(ilayer - ds.level_start)];
    ds.Kpct(ilayer) = static_cast<float>(k) / static_cast<float>(ds.Nwater(ilayer));
    print_layer_result(out, ds, ilayer, k);
  }
}

}  // namespace kelvo
