#include "core/contributions.hpp"

#include <algorithm>

#include "core/error.hpp"

namespace kelvo {

namespace {

constexpr const char* op = "kind_contributions";

float covered_fraction(const Domain& domain, std::int32_t ilayer, std::int32_t ksum) {
  return static_cast<float>(ksum) / static_cast<float>(domain.nwater(ilayer));
}

// The observations of some of the kinds, each tagged with its kind's index
// among those kinds, indexed once for the whole layer range.
struct KindChunk {
  std::size_t first_kind = 0;
  std::int32_t nkinds = 0;
  std::vector<Observation> obs;
  std::vector<std::uint32_t> tags;
  PreparedObservations prepared;
};

// The kinds in chunks of at most max_tags (a single chunk but for lists of
// very many kind codes), `kind_index` giving each observation's kind,
// indexed for a grid of longitude wrap `wrap`.
std::vector<KindChunk> kind_chunks(std::span<const Observation> obs, float slot, const KindContributions& c,
                                   std::span<const std::size_t> kind_index, int threads, LongitudeWrap wrap) {
  const std::size_t nkinds = c.kinds.size();
  std::vector<KindChunk> chunks;
  for (std::size_t first = 0; first < nkinds; first += max_tags) {
    KindChunk chunk;
    chunk.first_kind = first;
    chunk.nkinds = static_cast<std::int32_t>(std::min<std::size_t>(max_tags, nkinds - first));
    for (std::size_t n = 0; n < obs.size(); ++n) {
      if (kind_index[n] < first || kind_index[n] >= first + static_cast<std::size_t>(chunk.nkinds)) continue;
      chunk.obs.push_back(obs[n]);
      chunk.tags.push_back(static_cast<std::uint32_t>(kind_index[n] - first));
    }
    chunks.push_back(std::move(chunk));
  }
  for (KindChunk& chunk : chunks) {
    chunk.prepared = prepare_observations(chunk.obs, slot, c.k_first, c.k_first + c.layers - 1, threads, chunk.tags,
                                          chunk.nkinds, wrap);
  }
  return chunks;
}

// Per kind, 1 at the points its observations cover (kinds x plane), every
// kind decided in one search per point and the rows shared among the
// threads. Only the points the whole network covers are examined: a part
// of the network cannot cover any other point.
void decide_per_kind(const GridAxes& grid, const LayerFields& layer, std::span<const KindChunk> chunks,
                     std::span<const std::uint8_t> covered, std::vector<std::uint8_t>& per_kind, int threads) {
  const std::size_t plane = static_cast<std::size_t>(grid.plane_size());
  std::fill(per_kind.begin(), per_kind.end(), std::uint8_t{0});
  std::vector<CoverageJob> jobs;
  for (const KindChunk& chunk : chunks) {
    const std::span<std::uint8_t> decisions(per_kind.data() + plane * chunk.first_kind,
                                            plane * static_cast<std::size_t>(chunk.nkinds));
    jobs.push_back(CoverageJob{layer, &chunk.prepared, covered, decisions});
  }
  count_covered(grid, jobs, EngineOptions{Evaluation::fast, threads});
}

// From the per-kind decisions at the points the whole network covers: the
// covered points of each kind alone and of all kinds but it.
void count_per_kind(KindContributions& c, const Domain& domain, std::int32_t ilayer,
                    std::span<const std::uint8_t> covered, std::span<const std::uint8_t> per_kind) {
  const std::size_t nkinds = c.kinds.size();
  std::vector<std::int32_t> alone(nkinds, 0);
  std::vector<std::int32_t> without(nkinds, 0);
  tally_kinds(covered, per_kind, nkinds, alone, without);
  for (std::size_t k = 0; k < nkinds; ++k) {
    c.by_kind[c.index(k, ilayer)] = covered_fraction(domain, ilayer, alone[k]);
    c.without_kind[c.index(k, ilayer)] = covered_fraction(domain, ilayer, without[k]);
  }
}
}  // namespace

KindContributions kind_contributions(const Domain& domain, const Assessment& a, int threads) {
  return kind_contributions(domain, a, a.observations, threads);
}

KindContributions kind_contributions(const Domain& domain, const Assessment& a, std::span<const Observation> obs,
                                     int threads) {
  KindContributions c;
  c.kinds = kinds_present(obs);
  c.k_first = a.first_layer;
  c.layers = static_cast<std::int32_t>(a.layers.size());
  const std::int32_t last = c.k_first + c.layers - 1;
  const std::int64_t nkinds = static_cast<std::int64_t>(c.kinds.size());
  allocate(c.by_kind, element_count({nkinds, c.layers}), 0.0f, op, "coverage_by_kind");
  allocate(c.without_kind, element_count({nkinds, c.layers}), 0.0f, op, "coverage_without_kind");
  if (nkinds == 0) return c;
  if (a.kinds == c.kinds && !a.kind_alone.empty()) {
    // Decided and counted in the assessment's own search.
    for (std::size_t k = 0; k < c.kinds.size(); ++k) {
      for (std::int32_t ilayer = c.k_first; ilayer <= last; ++ilayer) {
        const std::size_t n = c.index(k, ilayer);
        c.by_kind[n] = covered_fraction(domain, ilayer, a.kind_alone[n]);
        c.without_kind[n] = covered_fraction(domain, ilayer, a.kind_without[n]);
      }
    }
    return c;
  }
  // More kinds than one search tags: searched again, a chunk of kinds at a time.
  std::vector<std::uint8_t> per_kind;
  allocate(per_kind, element_count({nkinds, domain.grid().plane_size()}), std::uint8_t{0}, op, "per-kind decisions");
  const std::vector<std::uint32_t> tags = kind_tags(obs, c.kinds);
  const std::vector<std::size_t> kind_index(tags.begin(), tags.end());
  const GridAxes grid = domain.axes();
  const std::vector<KindChunk> chunks = kind_chunks(obs, a.slot, c, kind_index, threads, grid.wrap);
  for (std::int32_t ilayer = c.k_first; ilayer <= last; ++ilayer) {
    const std::span<const std::uint8_t> covered = a.decisions(ilayer);
    decide_per_kind(grid, domain.fields(ilayer), chunks, covered, per_kind, threads);
    count_per_kind(c, domain, ilayer, covered, per_kind);
  }
  return c;
}

}  // namespace kelvo
