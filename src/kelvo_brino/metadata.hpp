// The observation metadata list: one observation per line in nine
// fixed-column fields. Keeps the records of the run's parameter, places them
// on the time axis and assigns them to layers.
#pragma once

#include <cstdint>
#include <string_view>

#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"

namespace kelvo {

// Capacity of the record table: a list must have fewer lines than this.
inline constexpr std::int32_t maxnf = 100000;

// Reads the state's metadata list, fills `obs` (placed at the slot
// jdayaxis(1)) and `obs_dates`, and returns the number of observations kept.
std::int32_t read_metadata(Reporter& out, DomainState& ds);

}  // namespace kelvo
