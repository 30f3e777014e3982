// Observations as a CSV table: a header line naming the columns, then one
// record a row, fields between commas (without quotes):
//
//   platform    the platform's id (text; may be empty)
//   kind        a kind code 1-7 or its short name (float, mooring, ...)
//   latitude    degrees north
//   longitude   degrees east
//   time_start  ISO 8601 UTC: YYYY-MM-DD (00:00), YYYY-MM-DDTHH:MM or
//               YYYY-MM-DDTHH:MM:SS (seconds dropped), an optional Z
//   time_end    as time_start; empty for a one-time record
//   parameters  names between blanks: TEMP (temperature), PSAL (salinity)
//
// Both times empty is a record present at every time (a station that
// repeats for ever, as a repeating record of a list). Other columns are
// ignored, any number of rows.
#pragma once

#include <string>

#include "core/observations.hpp"
#include "io/metadata_list.hpp"

namespace kelvo::io {

// The header line of a table kelvo writes, with its line end.
std::string_view observation_csv_header();

// The records of the table at `path` that measure one of `keep`, in order.
// `report` counts the rows read (lines) and, as for a list, names the first
// row that cannot be read (unreadable_line, unreadable_problem: the column
// and its text); the table ends before it. Errors (operation "read_csv"):
// cannot_open, bad_request (no header line, a header without a needed
// column).
ObservationSet read_observation_csv(const std::string& path, Parameters keep, ListReport* report = nullptr);

}  // namespace kelvo::io
