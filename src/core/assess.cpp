#include "core/assess.hpp"

#include <algorithm>
#include <cmath>

#include "core/error.hpp"

namespace kelvo {

namespace {

constexpr std::string_view op = "assess_coverage";

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

DayAssessor::DayAssessor(std::vector<Observation> placed, const AssessRequest& r, LongitudeWrap wrap,
                         bool keep_observations)
    : request_(r), placed_(std::move(placed)) {
  apart_ = !keep_observations && !r.by_kind && r.how == Evaluation::fast;
  if (apart_) {
    // The absent ones keep the room of all (moved down in order), the present ones take their own.
    std::vector<Observation> present;
    std::size_t kept = 0;
    for (const Observation& o : placed_) {
      if (o.time != absent_time) {
        present.push_back(o);
      } else {
        placed_[kept++] = o;
      }
    }
    placed_.resize(kept);
    absent_ = std::move(placed_);
    placed_ = std::move(present);
    any_absent_ = !absent_.empty();
  }
  prepare(wrap);
}

DayAssessor::DayAssessor(std::span<const ObservationRecord> records, const AssessRequest& r, LongitudeWrap wrap)
    : request_(r) {
  apart_ = !r.by_kind && r.how == Evaluation::fast;
  if (apart_) {
    records_ = records;
    for (const ObservationRecord& record : records) {
      const Observation o = placed(record, r.slot);
      if (o.time != absent_time) {
        placed_.push_back(o);
      } else {
        any_absent_ = true;
      }
    }
  } else {
    placed_ = place_at(records, r.slot);
  }
  prepare(wrap);
}

void DayAssessor::prepare(LongitudeWrap wrap) {
  const AssessRequest& r = request_;
  if (r.keep_decisions && r.by_kind) {
    std::vector<std::int32_t> kinds = kinds_present(placed_);
    if (!kinds.empty() && kinds.size() <= static_cast<std::size_t>(max_tags)) {
      kinds_ = std::move(kinds);
      tags_ = kind_tags(placed_, kinds_);
    }
  }
  if (layer_count(r.first_layer, r.last_layer) == 0) return;
  prepared_ = prepare_observations(placed_, r.slot, r.first_layer, r.last_layer, r.threads, tags_,
                                   kinds_.empty() ? 1 : static_cast<std::int32_t>(kinds_.size()), wrap);
  if (apart_) {
    // The fast search reads the index alone.
    prepared_.source = {};
    std::vector<Observation>().swap(placed_);
  }
}

std::vector<Observation> DayAssessor::absent() const {
  if (records_.empty()) return absent_;
  std::vector<Observation> absent;
  for (const ObservationRecord& record : records_) {
    const Observation o = placed(record, request_.slot);
    if (o.time == absent_time) absent.push_back(o);
  }
  return absent;
}

void DayAssessor::decide_absent(const GridAxes& grid, const LayerFields& fields, std::span<std::uint8_t> decisions,
                                LayerResult& result) const {
  std::vector<std::uint8_t> may = absent_may_cover(grid, fields, std::fabs(request_.slot - absent_time));
  bool any = false;
  for (std::size_t q = 0; q < may.size(); ++q) {
    if (decisions[q] == 1) may[q] = 0;
    any = any || may[q] == 1;
  }
  if (!any) return;
  std::vector<std::uint8_t> decided(may.size(), 0);
  CountRequest count;
  count.decisions = decided;
  count.among = may;
  count.threads = request_.threads;
  result.covered += count_covered(grid, fields, absent(), request_.slot, count);
  for (std::size_t q = 0; q < may.size(); ++q) {
    if (may[q] == 1 && decided[q] == 1) decisions[q] = 1;
  }
}

LayerResult DayAssessor::layer(const Domain& domain, std::int32_t ilayer, std::span<std::uint8_t> decisions,
                               std::span<std::int32_t> alone, std::span<std::int32_t> without) {
  const GridAxes grid = domain.axes();
  const EngineOptions options{request_.how, request_.threads};
  CoverageJob job{domain.fields(ilayer), &prepared_};
  if (request_.keep_decisions) std::fill(decisions.begin(), decisions.end(), std::uint8_t{0});
  const std::size_t nkinds = kinds_.size();
  if (nkinds > 0) {
    // Each kind decided apart in the one search, then merged and counted.
    if (kind_planes_.empty()) {
      allocate(kind_planes_, element_count({grid.plane_size(), static_cast<std::int64_t>(nkinds)}), std::uint8_t{0},
               op, "per-kind decisions");
    } else {
      std::fill(kind_planes_.begin(), kind_planes_.end(), std::uint8_t{0});
    }
    job.decisions = kind_planes_;
  } else if (request_.keep_decisions) {
    job.decisions = decisions;
  }
  std::vector<std::uint8_t> own_plane;
  if (apart_ && any_absent_ && job.decisions.empty()) {
    own_plane.assign(static_cast<std::size_t>(grid.plane_size()), 0);
    job.decisions = own_plane;
  }
  LayerResult l;
  l.layer = ilayer;
  l.nwater = domain.nwater(ilayer);
  l.covered = count_covered(grid, std::span<const CoverageJob>(&job, 1), options)[0];
  if (apart_ && any_absent_) decide_absent(grid, job.layer, job.decisions, l);
  l.coverage = static_cast<float>(l.covered) / static_cast<float>(l.nwater);
  if (nkinds > 0) {
    merge_kinds(decisions, kind_planes_, nkinds);
    std::fill(alone.begin(), alone.end(), 0);
    std::fill(without.begin(), without.end(), 0);
    tally_kinds(decisions, kind_planes_, nkinds, alone, without);
  }
  return l;
}

Assessment assess(const Domain& domain, std::vector<Observation> placed, const AssessRequest& r) {
  Assessment a;
  a.slot = r.slot;
  a.first_layer = r.first_layer;
  a.plane_size = domain.grid().plane_size();
  const std::int64_t layers = layer_count(r.first_layer, r.last_layer);
  DayAssessor day(std::move(placed), r, domain.axes().wrap);
  if (r.keep_decisions) {
    allocate(a.covered, element_count({a.plane_size, layers}), std::uint8_t{0}, op, "coverage maps");
    a.kinds.assign(day.kinds().begin(), day.kinds().end());
    a.kind_alone.assign(a.kinds.size() * static_cast<std::size_t>(layers), 0);
    a.kind_without.assign(a.kinds.size() * static_cast<std::size_t>(layers), 0);
  }
  std::vector<std::int32_t> alone(a.kinds.size()), without(a.kinds.size());
  for (std::int32_t ilayer = r.first_layer; ilayer <= r.last_layer; ++ilayer) {
    const std::span<std::uint8_t> plane = r.keep_decisions ? layer_plane(a, ilayer) : std::span<std::uint8_t>{};
    a.layers.push_back(day.layer(domain, ilayer, plane, alone, without));
    const std::size_t l = static_cast<std::size_t>(ilayer - r.first_layer);
    for (std::size_t k = 0; k < a.kinds.size(); ++k) {
      a.kind_alone[k * static_cast<std::size_t>(layers) + l] = alone[k];
      a.kind_without[k * static_cast<std::size_t>(layers) + l] = without[k];
    }
  }
  a.observations = std::move(day).take_observations();
  return a;
}

std::int32_t layer_classes(std::span<const std::int32_t> water, std::span<const std::uint8_t> decisions,
                           std::span<std::int8_t> classes) {
  std::int32_t hits = 0;
  for (std::size_t q = 0; q < classes.size(); ++q) {
    if (water[q] != 1) {
      classes[q] = class_land;
      continue;
    }
    const bool is_covered = decisions[q] == 1;
    hits += is_covered ? 1 : 0;
    classes[q] = is_covered ? class_covered : class_not_covered;
  }
  return hits;
}

CoverageClasses coverage_classes(const Domain& domain, const Assessment& a) {
  CoverageClasses c;
  const std::int64_t plane = a.plane_size;
  const std::int64_t layers = static_cast<std::int64_t>(a.layers.size());
  allocate(c.classes, element_count({plane, layers}), class_land, "coverage_classes", "coverage");
  for (const LayerResult& lr : a.layers) {
    const std::span<std::int8_t> classes(c.classes.data() + plane * (lr.layer - a.first_layer),
                                         static_cast<std::size_t>(plane));
    c.covered_points.push_back(layer_classes(domain.layer(lr.layer).water, a.decisions(lr.layer), classes));
  }
  return c;
}

}  // namespace kelvo
