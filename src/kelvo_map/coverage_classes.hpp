// The coverage class of every grid point of the assessed layers: land,
// water not covered, water covered.
#pragma once

#include <cstdint>
#include <vector>

#include "kelvo_brino/coverage.hpp"
#include "kelvo_mod/domain_state.hpp"

namespace kelvo {

inline constexpr std::int8_t class_land = 0;
inline constexpr std::int8_t class_not_covered = 1;
inline constexpr std::int8_t class_covered = 2;

struct CoverageClasses {
  // layers x nlat x nlon, the longitude varying fastest, then the latitude.
  std::vector<std::int8_t> classes;
  std::vector<std::int32_t> covered_points;  // covered water points (Ksum) per layer
};

// Classes of the assessed layers from the water mask and the decisions kept
// in `maps` by the assessment.
CoverageClasses coverage_classes(Reporter& out, const DomainState& ds, const CoverageMaps& maps);

}  // namespace kelvo
