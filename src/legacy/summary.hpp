// The summary report of a run: the grid, the domain and parameter, the layer
// range and each layer's water points and effective coverage in percent.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "legacy/run_state.hpp"

namespace kelvo::legacy {

// The summary file's full name (255 characters, blank-padded or cut), from
// the results directory, the domain, the parameter and the run tag.
std::string summary_file_name(const RunState& s);

// The whole text of the summary of `grid` for the domain, parameter and
// layer range given, with the results of those layers (in order).
std::string summary_text(const Grid& grid, std::string_view domain, std::string_view param, std::int32_t level_start,
                         std::int32_t level_end, std::span<const LayerResult> layers);

// Writes the summary file. It is written to a temporary file beside it and
// renamed over the final name only when complete, so a failed write never
// leaves a partial summary nor touches an older one. Errors: the file
// cannot be created (operation "write_grid"), or not be written or put in
// place (operation "write_summary", with the reason).
void write_summary(const RunState& s);

}  // namespace kelvo::legacy
