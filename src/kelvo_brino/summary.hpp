// The summary report of a run: the grid, the domain and parameter, the layer
// range and each layer's water points and effective coverage in percent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"

namespace kelvo {

// The summary file's full name (255 characters, blank-padded or cut).
// From the results directory, the domain, the parameter and the run tag.
std::string summary_file_name(const DomainState& ds);

// The whole text of the summary file of `ds`'s grid and results, for the
// domain, parameter and layer range given.
std::string summary_text(const DomainState& ds, std::string_view domain, std::string_view param,
                         std::int32_t level_start, std::int32_t level_end);

// Writes the summary file. It is written to a temporary file beside it and
// renamed over the final name only when complete, so a failed write never
// leaves a partial summary nor touches an older one.
void write_summary(Reporter& out, const DomainState& ds);

}  // namespace kelvo
