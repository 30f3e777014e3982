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

}  // namespace kelvo
