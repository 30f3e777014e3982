// Gathers the contents of the coverage map file from a finished assessment.
#pragma once

#include <span>
#include <string>

#include "kelvo_map/contributions.hpp"
#include "kelvo_map/coverage_classes.hpp"
#include "kelvo_map/map_contents.hpp"
#include "kelvo_mod/domain_state.hpp"

namespace kelvo {

// The assessment day of the tool's time axis as an ISO date.
inline constexpr const char* assessment_day_iso = "2004-01-01";

// The global attributes: title, domain, parameter, assessment day, the files
// read, and the history line (UTC time of `now` and the command line `args`).
MapAttributes map_attributes(const DomainState& ds, std::span<const std::string> args, std::int64_t now,
                             std::string_view assessment_day);

// Grid, layers, classes, per-layer counts and fractions, observations and
// kind contributions of layers level_start..level_end.
MapContents assemble_map(const DomainState& ds, CoverageClasses&& classes, const KindContributions& kinds);

}  // namespace kelvo
