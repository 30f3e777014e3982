// The name of the coverage map file: the summary file's name with
// "_cover_map_" in place of "_cover_summary_" and ".nc" in place of ".asc".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kelvo_mod/domain_state.hpp"

namespace kelvo {

// The map file's full path (no trailing blanks); nothing when the summary
// name was cut short at its 255 characters and so cannot be turned into it.
std::optional<std::string> map_file_name(const DomainState& ds);

}  // namespace kelvo
