// The observation metadata list: one observation per line in nine
// fixed-column fields. Keeps the records of the run's parameter, places them
// on the time axis and assigns them to layers.
#pragma once

#include <cstdint>
#include <string_view>

#include "kelvo_mod/domain_state.hpp"

namespace kelvo {

// Capacity of the record table: a list must have fewer lines than this.
inline constexpr std::int32_t maxnf = 100000;
// obs_jday of an observation absent from a time slot.
inline constexpr float absent_time = -99999.0f;

// The kind code of kept observation n (1-based): its ninth field truncated
// toward zero, saturating at the 32-bit limits.
std::int32_t observation_kind(const DomainState& ds, std::int32_t n);

// Reads the list named by `metadata_file`, fills obs_meta, obs_jday and
// obs_layer and returns the number of observations kept.
std::int32_t read_metadata(DomainState& ds, std::string_view metadata_file);

}  // namespace kelvo
