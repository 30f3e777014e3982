#include "core/coverage_engine.hpp"

#include <algorithm>
#include <limits>
#include <mutex>

#include "core/coverage_weights.hpp"
#include "core/error.hpp"
#include "core/parallel.hpp"

namespace kelvo {

std::vector<float> row_km_per_degree(std::span<const float> lat) {
  std::vector<float> dxkm(lat.size());
  for (std::size_t j = 0; j < lat.size(); ++j) dxkm[j] = km_per_degree_lon(lat[j]);
  return dxkm;
}

PointScales point_scales(const GridAxes& grid, const LayerFields& layer, std::int64_t i, std::int64_t j) {
  const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
  return PointScales{grid.lon[static_cast<std::size_t>(i)], grid.lat[static_cast<std::size_t>(j)],
                     grid.dxkm[static_cast<std::size_t>(j)], layer.sx[q], layer.sy[q], layer.st[q],
                     layer.px, layer.py, layer.pt, grid.wrap};
}

bool point_covered_exhaustive(const GridAxes& grid, const LayerFields& layer, std::span<const Observation> obs,
                              float slot, std::int64_t i, std::int64_t j) {
  const PointScales p = point_scales(grid, layer, i, j);
  bool covered = false;
  for (const Observation& o : obs) {
    if (!counts_for(o, layer.ilayer)) continue;
    const float dt = time_distance(slot, &o.time, 1);
    if (observation_covers(p, o.lat, o.lon, dt)) covered = true;
  }
  return covered;
}

namespace {

bool examined(const LayerFields& layer, std::span<const std::uint8_t> among, std::size_t q) {
  return layer.water[q] == 1 && (among.empty() || among[q] == 1);
}

// The tags of the observations covering point (i, j), every observation examined in order.
TagSet tags_covering_exhaustive(const GridAxes& grid, const CoverageJob& job, std::int64_t i, std::int64_t j) {
  const PreparedObservations& prepared = *job.observations;
  if (prepared.tags.empty()) {
    return point_covered_exhaustive(grid, job.layer, prepared.source, prepared.slot, i, j) ? tag_bit(0) : 0;
  }
  const PointScales p = point_scales(grid, job.layer, i, j);
  TagSet covering = 0;
  for (std::size_t n = 0; n < prepared.source.size(); ++n) {
    const Observation& o = prepared.source[n];
    if (!counts_for(o, job.layer.ilayer)) continue;
    const float dt = time_distance(prepared.slot, &o.time, 1);
    if (observation_covers(p, o.lat, o.lon, dt)) covering |= tag_bit(prepared.tags[n]);
  }
  return covering;
}

std::int32_t count_rows_exhaustive(const GridAxes& grid, const CoverageJob& job, std::int64_t row_begin,
                                   std::int64_t row_end) {
  const std::size_t plane = static_cast<std::size_t>(grid.plane_size());
  std::int32_t ksum = 0;
  for (std::int64_t j = row_begin; j < row_end; ++j) {
    for (std::int64_t i = 0; i < grid.nlon(); ++i) {
      const std::size_t q = static_cast<std::size_t>(i + grid.nlon() * j);
      if (!examined(job.layer, job.among, q)) continue;
      const TagSet covering = tags_covering_exhaustive(grid, job, i, j);
      if (covering != 0) ++ksum;
      if (job.decisions.empty()) continue;
      for (std::int32_t tag = 0; tag < job.observations->ntags; ++tag) {
        job.decisions[static_cast<std::size_t>(tag) * plane + q] =
            (covering & tag_bit(static_cast<std::uint32_t>(tag))) != 0 ? 1 : 0;
      }
    }
  }
  return ksum;
}

// The observations of each set of a layer range, as their positions in
// `obs`, in one pass: set 0 those that count for every layer, set n those
// that count for layer first_layer + n - 1 alone, each in the order given.
std::vector<std::vector<std::uint32_t>> layer_sets(std::span<const Observation> obs, std::int32_t first_layer,
                                                   std::int64_t layers) {
  const auto set_of = [&](const Observation& o) -> std::int64_t {
    if (o.layer < 0) return 0;
    const std::int64_t n = std::int64_t{o.layer} - first_layer;
    return n >= 0 && n < layers ? n + 1 : -1;
  };
  std::vector<std::size_t> count(static_cast<std::size_t>(layers + 1), 0);
  for (const Observation& o : obs) {
    if (const std::int64_t n = set_of(o); n >= 0) ++count[static_cast<std::size_t>(n)];
  }
  std::vector<std::vector<std::uint32_t>> sets(count.size());
  for (std::size_t n = 0; n < sets.size(); ++n) sets[n].reserve(count[n]);
  for (std::size_t k = 0; k < obs.size(); ++k) {
    if (const std::int64_t n = set_of(obs[k]); n >= 0) sets[static_cast<std::size_t>(n)].push_back(static_cast<std::uint32_t>(k));
  }
  return sets;
}

// The indices of `part` of the sets of a range (an empty set, an empty index).
LayerIndices index_sets(std::span<const Observation> obs, std::span<const std::uint32_t> tags,
                        std::span<const std::vector<std::uint32_t>> sets, float slot, LongitudeWrap wrap,
                        IndexPart part, int threads) {
  LayerIndices indices;
  indices.own.resize(sets.size() - 1);
  parallel_for(static_cast<std::int64_t>(sets.size()), threads, [&](std::int64_t n) {
    const std::vector<std::uint32_t>& set = sets[static_cast<std::size_t>(n)];
    if (n > 0 && set.empty()) return;
    ObservationIndex& index = n == 0 ? indices.every_layer : indices.own[static_cast<std::size_t>(n - 1)];
    index = index_observations(obs, tags, set, slot, wrap, part);
  });
  return indices;
}

// A piece of work: rows [row_begin, row_end) of one job.
struct RowBand {
  std::size_t job;
  std::int64_t row_begin;
  std::int64_t row_end;
};

// Bands of a few rows, so that threads finishing early take more and the
// layers of unequal cost are shared evenly; one band per job on one thread.
std::vector<RowBand> row_bands(std::span<const CoverageJob> jobs, std::int64_t nlat, int threads) {
  const std::int64_t per_job = threads <= 1 ? 1 : std::int64_t{8} * threads;
  const std::int64_t rows = std::max<std::int64_t>(1, (nlat + per_job - 1) / per_job);
  std::vector<RowBand> bands;
  for (std::size_t n = 0; n < jobs.size(); ++n) {
    for (std::int64_t j = 0; j < nlat; j += rows) bands.push_back({n, j, std::min(nlat, j + rows)});
  }
  return bands;
}

}  // namespace

std::vector<std::int32_t> kinds_present(std::span<const Observation> obs) {
  std::vector<std::int32_t> kinds;
  for (const Observation& o : obs) kinds.push_back(o.kind);
  std::sort(kinds.begin(), kinds.end());
  kinds.erase(std::unique(kinds.begin(), kinds.end()), kinds.end());
  return kinds;
}

std::vector<std::uint32_t> kind_tags(std::span<const Observation> obs, std::span<const std::int32_t> kinds) {
  std::vector<std::uint32_t> tags(obs.size());
  for (std::size_t n = 0; n < obs.size(); ++n) {
    tags[n] = static_cast<std::uint32_t>(std::lower_bound(kinds.begin(), kinds.end(), obs[n].kind) - kinds.begin());
  }
  return tags;
}

struct PreparedObservations::Absent {
  std::once_flag indexed;
  LayerIndices indices;
};

PreparedObservations::PreparedObservations() : absent_(std::make_unique<Absent>()) {}
PreparedObservations::PreparedObservations(PreparedObservations&&) noexcept = default;
PreparedObservations& PreparedObservations::operator=(PreparedObservations&&) noexcept = default;
PreparedObservations::~PreparedObservations() = default;

std::vector<const ObservationIndex*> PreparedObservations::for_layer(std::int32_t ilayer, bool with_absent) const {
  if (ilayer < first_layer || ilayer > last_layer) {
    throw Error(ErrorCode::bad_request, "assess_coverage", "layer outside the range the observations were prepared for");
  }
  const auto n = static_cast<std::size_t>(ilayer - first_layer);
  std::vector<const ObservationIndex*> indices{&present.every_layer, &present.own[n]};
  if (!with_absent || !has_absent) return indices;
  // From the candidates of the present indices, which hold every
  // observation: the caller may have let the observations go.
  std::call_once(absent_->indexed, [&] {
    absent_->indices.every_layer = index_at_time_distance(present.every_layer.all, absent_dt);
    for (const ObservationIndex& own : present.own) {
      absent_->indices.own.push_back(index_at_time_distance(own.all, absent_dt));
    }
  });
  indices.push_back(&absent_->indices.every_layer);
  indices.push_back(&absent_->indices.own[n]);
  return indices;
}

PreparedObservations prepare_observations(std::span<const Observation> obs, float slot, std::int32_t first_layer,
                                          std::int32_t last_layer, int threads, std::span<const std::uint32_t> tags,
                                          std::int32_t ntags, LongitudeWrap wrap) {
  const auto misuse = [](const char* what) { return Error(ErrorCode::bad_request, "assess_coverage", what); };
  if (!tags.empty() && tags.size() != obs.size()) throw misuse("one tag per observation");
  if (ntags < 1 || ntags > max_tags) throw misuse("tag count outside 1..max_tags");
  for (std::uint32_t tag : tags) {
    if (tag >= static_cast<std::uint32_t>(ntags)) throw misuse("tag outside the tag count");
  }
  PreparedObservations prepared;
  prepared.source = obs;
  prepared.tags = tags;
  prepared.ntags = ntags;
  prepared.slot = slot;
  prepared.first_layer = first_layer;
  prepared.last_layer = last_layer;
  prepared.wrap = wrap;
  const std::int64_t layers = last_layer >= first_layer ? std::int64_t{last_layer} - first_layer + 1 : 0;
  if (obs.size() > std::numeric_limits<std::uint32_t>::max()) throw misuse("more observations than 32-bit positions");
  const std::vector<std::vector<std::uint32_t>> sets = layer_sets(obs, first_layer, layers);
  prepared.present = index_sets(obs, tags, sets, slot, wrap, IndexPart::present, threads);
  for (const std::vector<std::uint32_t>& set : sets) {
    prepared.has_absent = prepared.has_absent || std::any_of(set.begin(), set.end(), [&](std::uint32_t k) {
                            return obs[k].time == absent_time;
                          });
  }
  prepared.absent_dt = time_distance(slot, &absent_time, 1);
  return prepared;
}

namespace {

// The decisions of rows row_begin..row_end - 1 of a job whose layer no
// observation counts for: 0 at every examined water point, in every tag's plane.
void clear_decisions(const GridAxes& grid, const CoverageJob& job, std::int64_t row_begin, std::int64_t row_end) {
  if (job.decisions.empty()) return;
  const std::size_t plane = static_cast<std::size_t>(grid.plane_size());
  const std::size_t begin = static_cast<std::size_t>(row_begin * grid.nlon());
  const std::size_t end = static_cast<std::size_t>(row_end * grid.nlon());
  for (std::size_t t = 0; t < job.decisions.size() / plane; ++t) {
    std::uint8_t* d = job.decisions.data() + t * plane;
    for (std::size_t q = begin; q < end; ++q) {
      if (job.layer.water[q] == 1 && (job.among.empty() || job.among[q] == 1)) d[q] = 0;
    }
  }
}

}  // namespace

std::vector<std::int32_t> count_covered(const GridAxes& grid, std::span<const CoverageJob> jobs,
                                        const EngineOptions& options) {
  // Whether each job's search needs the observations absent from the slot.
  std::vector<std::uint8_t> with_absent(jobs.size(), 0);
  if (options.how == Evaluation::fast) {
    parallel_for(static_cast<std::int64_t>(jobs.size()), options.threads, [&](std::int64_t n) {
      const CoverageJob& job = jobs[static_cast<std::size_t>(n)];
      const PreparedObservations& prepared = *job.observations;
      with_absent[static_cast<std::size_t>(n)] =
          prepared.has_absent && time_distance_may_cover(job.layer, job.among, prepared.absent_dt, options.tuning);
    });
  }
  std::vector<std::vector<const ObservationIndex*>> indices;
  for (std::size_t n = 0; n < jobs.size(); ++n) {
    const CoverageJob& job = jobs[n];
    // The fast search looks for the placed longitudes where this grid places them.
    if (!same_placing(job.observations->wrap, grid.wrap)) {
      throw Error(ErrorCode::bad_request, "assess_coverage",
                  "observations prepared for another longitude wrap than the grid's");
    }
    indices.push_back(job.observations->for_layer(job.layer.ilayer, with_absent[n] != 0));
  }
  const std::vector<RowBand> bands = row_bands(jobs, grid.nlat(), options.threads);
  std::vector<std::int32_t> band_ksum(bands.size(), 0);
  parallel_for(static_cast<std::int64_t>(bands.size()), options.threads, [&](std::int64_t b) {
    const RowBand& band = bands[static_cast<std::size_t>(b)];
    const CoverageJob& job = jobs[band.job];
    const std::vector<const ObservationIndex*>& index = indices[band.job];
    if (std::all_of(index.begin(), index.end(), [](const ObservationIndex* i) { return i->all.empty(); })) {
      // Nothing can cover: every examined point is decided uncovered without a search.
      clear_decisions(grid, job, band.row_begin, band.row_end);
      return;
    }
    band_ksum[static_cast<std::size_t>(b)] =
        options.how == Evaluation::exhaustive
            ? count_rows_exhaustive(grid, job, band.row_begin, band.row_end)
            : count_covered_rows(grid, job.layer,
                                 RowsRequest{indices[band.job], band.row_begin, band.row_end, job.among,
                                             job.decisions, job.observations->ntags, options.tuning});
  });
  std::vector<std::int32_t> ksum(jobs.size(), 0);
  for (std::size_t b = 0; b < bands.size(); ++b) ksum[bands[b].job] += band_ksum[b];
  return ksum;
}

std::int32_t count_covered(const GridAxes& grid, const LayerFields& layer, std::span<const Observation> obs,
                           float slot, const CountRequest& request) {
  const PreparedObservations prepared =
      prepare_observations(obs, slot, layer.ilayer, layer.ilayer, request.threads, {}, 1, grid.wrap);
  const CoverageJob job{layer, &prepared, request.among, request.decisions};
  return count_covered(grid, std::span<const CoverageJob>(&job, 1),
                       EngineOptions{request.how, request.threads, request.tuning})[0];
}

std::vector<LayerCoverage> assess(const CoverageInputs& inputs, const EngineOptions& options, bool keep_decisions) {
  std::vector<LayerCoverage> result(inputs.layers.size());
  if (inputs.layers.empty()) return result;
  const auto [lo, hi] = std::minmax_element(inputs.layers.begin(), inputs.layers.end(),
                                            [](const LayerFields& a, const LayerFields& b) { return a.ilayer < b.ilayer; });
  const PreparedObservations prepared =
      prepare_observations(inputs.observations, inputs.slot, lo->ilayer, hi->ilayer, options.threads, {}, 1,
                           inputs.grid.wrap);
  std::vector<CoverageJob> jobs;
  for (std::size_t n = 0; n < inputs.layers.size(); ++n) {
    result[n].ilayer = inputs.layers[n].ilayer;
    if (keep_decisions) result[n].decisions.assign(static_cast<std::size_t>(inputs.grid.plane_size()), 0);
    jobs.push_back(CoverageJob{inputs.layers[n], &prepared, {}, result[n].decisions});
  }
  const std::vector<std::int32_t> ksum = count_covered(inputs.grid, jobs, options);
  for (std::size_t n = 0; n < result.size(); ++n) result[n].covered = ksum[n];
  return result;
}

}  // namespace kelvo
