// The kind code a record of the observation list gets from the platform
// type of an in-situ index line (a kind is 1 to 7, see metadata_list.hpp).
//
// The standard table:
//   1  CT CTD, BO bottle
//   2  FB ferrybox, TS thermosalinograph, DB drifting buoy, SD sail drone (surface only)
//   3  MO mooring
//   4  PF profiling float (every Argo profile)
//   5  TG tide gauge, ML mini-logger
//   6  GL glider
//   7  XB XBT, SM sea mammal
// Any other platform type (HF radar, towed undulating CTD, XX unknown, ...)
// has no kind and its lines are left out. A kind map file replaces the table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/metadata_list.hpp"

namespace kelvo::io {

struct KindTable {
  // Kind of each two-character code of letters and digits, 0 for none.
  std::array<std::int8_t, 36 * 36> kinds{};
};

KindTable standard_kinds();

// A kind map: lines "CODE KIND" (a two-character code of capital letters or
// digits and a kind 1 to 7), blank lines and '#' comments. An Error
// (operation "read_kind_map") naming the file and line of a line that is
// not one of those or that gives a code a second time, and when the file
// cannot be read.
KindTable read_kind_map(const std::string& path);

// The kind of a platform type code; 0 when it has none.
int kind_of(const KindTable& table, std::string_view code);

}  // namespace kelvo::io
