#include "core/assess.hpp"

#include <algorithm>

#include "core/error.hpp"

namespace kelvo {

namespace {

constexpr std::string_view op = "assess_coverage";

// Sizes the decision planes of the layers; with per-kind decisions asked
// for (and few enough kinds), also their counts, and gives the observations'
// tags (empty without per-kind decisions).
std::vector<std::uint32_t> prepare_decisions(Assessment& a, std::span<const Observation> obs, std::int64_t layers,
                                             bool by_kind) {
  allocate(a.covered, element_count({a.plane_size, layers}), std::uint8_t{0}, op, "coverage maps");
  if (!by_kind) return {};
  std::vector<std::int32_t> kinds = kinds_present(obs);
  if (kinds.empty() || kinds.size() > static_cast<std::size_t>(max_tags)) return {};
  a.kinds = std::move(kinds);
  a.kind_alone.assign(a.kinds.size() * static_cast<std::size_t>(layers), 0);
  a.kind_without.assign(a.kinds.size() * static_cast<std::size_t>(layers), 0);
  return kind_tags(obs, a.kinds);
}

std::span<std::uint8_t> layer_plane(Assessment& a, std::int32_t layer) {
  return {a.covered.data() + a.plane_size * (layer - a.first_layer), static_cast<std::size_t>(a.plane_size)};
}

// A point is covered where the observations of any kind cover it.
void merge_kinds(std::span<std::uint8_t> covered, std::span<const std::uint8_t> planes, std::size_t nkinds) {
  for (std::size_t k = 0; k < nkinds; ++k) {
    const std::uint8_t* plane = planes.data() + k * covered.size();
    for (std::size_t q = 0; q < covered.size(); ++q) covered[q] |= plane[q];
  }
}

// The layers decided a kind at a time in one search, layer by layer in one
// set of planes; the assessment gets the merged decision and the counts per kind.
std::vector<std::int32_t> count_by_kind(const Domain& domain, const AssessRequest& r,
                                        const PreparedObservations& prepared, const EngineOptions& options,
                                        Assessment& a) {
  const std::size_t nkinds = a.kinds.size();
  const std::size_t layers = static_cast<std::size_t>(layer_count(r.first_layer, r.last_layer));
  std::vector<std::uint8_t> planes;
  allocate(planes, element_count({a.plane_size, static_cast<std::int64_t>(nkinds)}), std::uint8_t{0}, op,
           "per-kind decisions");
  const GridAxes grid = domain.axes();
  std::vector<std::int32_t> ksum;
  std::vector<std::int32_t> alone(nkinds), without(nkinds);
  for (std::int32_t ilayer = r.first_layer; ilayer <= r.last_layer; ++ilayer) {
    std::fill(planes.begin(), planes.end(), std::uint8_t{0});
    const CoverageJob job{domain.fields(ilayer), &prepared, {}, planes};
    ksum.push_back(count_covered(grid, std::span<const CoverageJob>(&job, 1), options)[0]);
    merge_kinds(layer_plane(a, ilayer), planes, nkinds);
    std::fill(alone.begin(), alone.end(), 0);
    std::fill(without.begin(), without.end(), 0);
    tally_kinds(a.decisions(ilayer), planes, nkinds, alone, without);
    const std::size_t l = static_cast<std::size_t>(ilayer - r.first_layer);
    for (std::size_t k = 0; k < nkinds; ++k) {
      a.kind_alone[k * layers + l] = alone[k];
      a.kind_without[k * layers + l] = without[k];
    }
  }
  return ksum;
}

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

Assessment assess(const Domain& domain, const ObservationSet& set, const AssessRequest& r) {
  return assess(domain, place_at(set.records, r.slot), r);
}

Assessment assess(const Domain& domain, std::vector<Observation> placed, const AssessRequest& r) {
  Assessment a;
  a.slot = r.slot;
  a.observations = std::move(placed);
  const std::span<const Observation> observations = a.observations;
  a.first_layer = r.first_layer;
  a.plane_size = domain.grid().plane_size();
  const std::int64_t layers = layer_count(r.first_layer, r.last_layer);
  const std::vector<std::uint32_t> tags =
      r.keep_decisions ? prepare_decisions(a, observations, layers, r.by_kind) : std::vector<std::uint32_t>{};
  if (layers == 0) return a;
  const GridAxes grid = domain.axes();
  const EngineOptions options{r.how, r.threads};
  // Every layer is counted at once, its rows shared among the threads.
  std::vector<std::int32_t> ksum;
  if (!tags.empty()) {
    const PreparedObservations prepared =
        prepare_observations(observations, r.slot, r.first_layer, r.last_layer, r.threads, tags,
                             static_cast<std::int32_t>(a.kinds.size()), grid.wrap);
    ksum = count_by_kind(domain, r, prepared, options, a);
  } else {
    const PreparedObservations prepared =
        prepare_observations(observations, r.slot, r.first_layer, r.last_layer, r.threads, {}, 1, grid.wrap);
    std::vector<CoverageJob> jobs;
    for (std::int32_t ilayer = r.first_layer; ilayer <= r.last_layer; ++ilayer) {
      CoverageJob job{domain.fields(ilayer), &prepared};
      if (r.keep_decisions) job.decisions = layer_plane(a, ilayer);
      jobs.push_back(job);
    }
    ksum = count_covered(grid, jobs, options);
  }
  for (std::int32_t ilayer = r.first_layer; ilayer <= r.last_layer; ++ilayer) {
    LayerResult l;
    l.layer = ilayer;
    l.nwater = domain.nwater(ilayer);
    l.covered = ksum[static_cast<std::size_t>(ilayer - r.first_layer)];
    l.coverage = static_cast<float>(l.covered) / static_cast<float>(l.nwater);
    a.layers.push_back(l);
  }
  return a;
}

CoverageClasses coverage_classes(const Domain& domain, const Assessment& a) {
  CoverageClasses c;
  const std::int64_t plane = a.plane_size;
  const std::int64_t layers = static_cast<std::int64_t>(a.layers.size());
  allocate(c.classes, element_count({plane, layers}), class_land, "coverage_classes", "coverage");
  for (const LayerResult& lr : a.layers) {
    const std::span<const std::int32_t> mask = domain.layer(lr.layer).water;
    const std::span<const std::uint8_t> covered = a.decisions(lr.layer);
    std::int8_t* classes = c.classes.data() + plane * (lr.layer - a.first_layer);
    std::int32_t hits = 0;
    for (std::int64_t p = 0; p < plane; ++p) {
      const std::size_t q = static_cast<std::size_t>(p);
      if (mask[q] != 1) continue;
      const bool is_covered = covered[q] == 1;
      if (is_covered) ++hits;
      classes[p] = is_covered ? class_covered : class_not_covered;
    }
    c.covered_points.push_back(hits);
  }
  return c;
}

}  // namespace kelvo
