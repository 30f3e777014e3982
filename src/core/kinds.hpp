// The platform kinds of an observing network, by code, with the names a
// person reads (reports, help, plot legends), the short names the command
// line takes and the names of NetCDF flag attributes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

inline constexpr std::int32_t first_kind = 1;
inline constexpr std::int32_t last_kind = 7;

// "CTD or bottle", "surface-only (ferrybox, thermosalinograph, drifter)",
// "mooring", "profiling float", "tide gauge", "glider", "XBT or sea mammal";
// "unknown kind" for any other code.
std::string_view kind_name(std::int32_t kind);

// The name of a kind as one NetCDF flag meaning: "ctd_or_bottle",
// "surface_only", "mooring", "profiling_float", "tide_gauge", "glider",
// "xbt_or_sea_mammal".
std::string_view kind_flag_meaning(std::int32_t kind);

// Every kind's flag meaning, in code order, separated by blanks.
std::string kind_flag_meanings();

// A kind given as its code ("4") or a short name, case ignored (those of
// kind_choices(): ctd, bottle, surface, ferrybox, thermosalinograph,
// drifter, mooring, float, argo, tide-gauge, tidegauge, glider, xbt,
// sea-mammal); nothing for any other text.
std::optional<std::int32_t> kind_from_text(std::string_view text);

// The short names and codes a person can give, for help texts:
// "1 ctd|bottle, 2 surface|ferrybox|..., ...".
std::string kind_choices();

}  // namespace kelvo
