// The grid configuration of a domain: sizes, level numbers, edges and steps,
// the coordinate axes built from them, and the one-day time axis.
#pragma once

#include <string>
#include <string_view>

#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"

namespace kelvo {

// Largest number of layers a grid configuration can describe.
inline constexpr std::int32_t max_layers = 9999;

// Name of the grid configuration file of `domain` under `scale_dir`.
std::string grid_cfg_file_name(std::string_view scale_dir, std::string_view domain);

// Reads the grid configuration file of the state's domain, builds the axes
// and the time axis and prints the grid and time-window lines.
void read_grid_cfg(Reporter& out, DomainState& ds);

// Ends the run unless 1 <= level_start and level_end <= nz (an empty range
// inside those bounds is a valid run).
void check_layer_range(Reporter& out, const DomainState& ds);

}  // namespace kelvo
