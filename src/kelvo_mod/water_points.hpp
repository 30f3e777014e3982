// Water points: a grid point of a layer is water exactly where its three
// decorrelation scales are all present.
#pragma once

#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"

namespace kelvo {

// True when a scale entry stands for "no value": the marker itself, or a
// value that is not a number.
inline bool is_no_value(float s) { return s == no_value || s != s; }

// Marks water_mask and fills Nwater for every layer of the grid, printing
// one line per layer.
void count_water_points(Reporter& out, DomainState& ds);

}  // namespace kelvo
