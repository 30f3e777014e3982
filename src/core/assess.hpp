// The assessment of a domain on one day: for each layer of a range, its
// water points, the covered ones and the effective coverage (the covered
// share); when asked, the decision at every point (for maps) and what each
// observation kind covers, decided in the same search.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/coverage_engine.hpp"
#include "core/domain.hpp"
#include "core/observations.hpp"

namespace kelvo {

struct AssessRequest {
  std::int32_t first_layer = 1;
  std::int32_t last_layer = 0;  // below first_layer: no layer
  float slot = 0.0f;            // the assessment day's slot (see observations.hpp)
  bool keep_decisions = false;  // the decision at every point of the layers
  bool by_kind = false;         // with keep_decisions: also each kind's decisions, counted
  Evaluation how = Evaluation::fast;
  int threads = 1;              // nothing computed depends on it
};

struct LayerResult {
  std::int32_t layer = 0;
  std::int32_t nwater = 0;
  std::int32_t covered = 0;  // covered water points (Ksum)
  float coverage = 0.0f;     // covered / nwater in single precision (not a number without water)
};

struct Assessment {
  float slot = 0.0f;
  std::vector<Observation> observations;  // the records placed at the slot, in order
  std::int32_t first_layer = 1;
  std::int64_t plane_size = 0;
  std::vector<LayerResult> layers;    // first_layer upward
  // With keep_decisions: one plane per layer (longitude fastest), 1 where covered.
  std::vector<std::uint8_t> covered;
  // With by_kind: each kind's observations decided alone in the same search
  // and counted: for each kind of `kinds` (ascending codes) and layer
  // (fastest), the points its observations cover and those every other
  // kind's cover. Left empty where there are more kinds than one search tags.
  std::vector<std::int32_t> kinds;
  std::vector<std::int32_t> kind_alone;
  std::vector<std::int32_t> kind_without;

  std::span<const std::uint8_t> decisions(std::int32_t layer) const {
    return {covered.data() + plane_size * (layer - first_layer), static_cast<std::size_t>(plane_size)};
  }
};

// One day's assessment taken a layer at a time: the observations placed at
// the slot and indexed once for the request's range of layers, then each
// layer decided from any domain that holds it. A run that reads, assesses
// and writes one layer at a time thus holds a single layer of the domain;
// assess() below is this over a domain that holds the whole range.
class DayAssessor {
 public:
  // `wrap` is that of the grid the layers lie on (Domain::axes().wrap).
  // Without `keep_observations`, unless the request asks for each kind's
  // decisions or the exhaustive evaluation (which read them again), only the
  // observations in the slot are indexed and the placed ones let go
  // (observations() is then empty): a large network of which a day sees a
  // small part is neither indexed nor held twice. The ones absent from the
  // slot are then decided apart, only where their time weight is not proved
  // too small (absent_may_cover), which gives the same decisions.
  DayAssessor(std::vector<Observation> placed, const AssessRequest& request, LongitudeWrap wrap,
              bool keep_observations = true);
  // The same without keep_observations from `records` (which the caller
  // keeps alive), placed one at a time: only those in the slot are ever
  // held, the absent ones placed again only where they might cover.
  DayAssessor(std::span<const ObservationRecord> records, const AssessRequest& request, LongitudeWrap wrap);
  DayAssessor(const DayAssessor&) = delete;
  DayAssessor& operator=(const DayAssessor&) = delete;

  const AssessRequest& request() const { return request_; }
  std::span<const Observation> observations() const { return placed_; }
  // With by_kind: the kinds decided apart in the search (ascending codes);
  // empty without by_kind or with more kinds than one search tags.
  std::span<const std::int32_t> kinds() const { return kinds_; }

  // Layer `ilayer` (in the request's range) of `domain`, which holds it.
  // With keep_decisions, its decisions go into `decisions` (a plane, all of
  // it written), and with kinds() each kind's points alone and without it
  // into alone[k] and without[k] (one entry per kind).
  LayerResult layer(const Domain& domain, std::int32_t ilayer, std::span<std::uint8_t> decisions,
                    std::span<std::int32_t> alone = {}, std::span<std::int32_t> without = {});

  // The placed observations, taken once the layers are done.
  std::vector<Observation> take_observations() && { return std::move(placed_); }

 private:
  AssessRequest request_;
  std::vector<Observation> placed_;
  std::vector<std::int32_t> kinds_;
  std::vector<std::uint32_t> tags_;
  PreparedObservations prepared_;
  std::vector<std::uint8_t> kind_planes_;  // nkinds planes, reused layer by layer
  bool apart_ = false;                     // the absent observations decided apart
  std::vector<Observation> absent_;        // then: those absent from the slot,
  std::span<const ObservationRecord> records_;  // or the records they are placed from
  bool any_absent_ = false;

  void prepare(LongitudeWrap wrap);
  std::vector<Observation> absent() const;

  void decide_absent(const GridAxes& grid, const LayerFields& fields, std::span<std::uint8_t> decisions,
                     LayerResult& result) const;
};

// The assessment of the layers of the request, which the domain must hold,
// with the records of `observations` placed at request.slot.
Assessment assess(const Domain& domain, const ObservationSet& observations, const AssessRequest& request);
// The same with the observations already placed at request.slot.
Assessment assess(const Domain& domain, std::vector<Observation> placed, const AssessRequest& request);

// Adds to alone[k] the points of `covered` that kind k's plane (one of
// `nkinds` planes) covers, and to without[k] those another kind covers.
void tally_kinds(std::span<const std::uint8_t> covered, std::span<const std::uint8_t> planes, std::size_t nkinds,
                 std::span<std::int32_t> alone, std::span<std::int32_t> without);

// The coverage class of every point of the assessed layers (an assessment
// with its decisions): land, water not covered, water covered.
inline constexpr std::int8_t class_land = 0;
inline constexpr std::int8_t class_not_covered = 1;
inline constexpr std::int8_t class_covered = 2;

struct CoverageClasses {
  std::vector<std::int8_t> classes;          // layers x nlat x nlon
  std::vector<std::int32_t> covered_points;  // per layer
};

CoverageClasses coverage_classes(const Domain& domain, const Assessment& assessment);

// The classes of one layer from its water points and decisions into
// `classes` (a plane); returns the covered water points.
std::int32_t layer_classes(std::span<const std::int32_t> water, std::span<const std::uint8_t> decisions,
                           std::span<std::int8_t> classes);

}  // namespace kelvo
