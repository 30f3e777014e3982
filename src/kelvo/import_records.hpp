// From an index observation to a line of the metadata list kelvo_brino
// reads: the selection by time window, region, parameters and platform type,
// and the fixed-column line.
//
// A list line: columns 1-8 latitude (fixed 8.4), 9-17 longitude (fixed 9.4),
// 18-27 the date hhddmmyyyy, 28-32 repeat frequency per year (int 5; 0 for a
// one-time observation), 33-46 blank, 47-48 temperature flag, 49-50
// salinity flag (1 or 0), 51-52 kind code.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "kelvo/import_index.hpp"
#include "kelvo/import_kinds.hpp"
#include "kelvo/import_region.hpp"
#include "textio/atomic_file.hpp"

namespace kelvo::cli {

// kelvo_brino reads lists of fewer than 100,000 lines.
inline constexpr std::size_t max_records = 99999;
// Repeat frequency of a fixed platform's time series: present every day.
inline constexpr int daily_repeat = 365;

struct ListRecord {
  float lat = 0.0f;
  float lon = 0.0f;
  int year = 0, month = 0, day = 0, hour = 0;
  int frequency = 0;
  bool temp = false;
  bool salt = false;
  int kind = 0;
};

// Seconds from 1970: [from, to_end).
struct Window {
  std::int64_t from = std::numeric_limits<std::int64_t>::min();
  std::int64_t to_end = std::numeric_limits<std::int64_t>::max();
};

struct Selection {
  Window window;
  bool has_region = false;
  Region region;
  KindTable kinds;
};

// The record of an observation, or why it is left out: outside_window (a
// one-time observation whose time is not in the window, a time series that
// does not overlap it), outside_region, no_parameter, unknown_platform.
// Inside a region the longitude is moved into the region's range, so the
// record lies on the grid of the domain the region came from.
LineFate select_record(const Selection& selection, const IndexObservation& obs, ListRecord& record);

// The 52 columns of a record (without a line end).
std::string list_line(const ListRecord& record);

// Creates the list's temporary file beside `path` (before the indexes are
// read, so that a list that cannot be written is reported at once); throws
// Failure naming the file and the reason.
void create_list(textio::AtomicFile& file, const std::string& path);
// Writes the records and puts the list in place: all of it or nothing.
void write_list(textio::AtomicFile& file, std::span<const ListRecord> records);

}  // namespace kelvo::cli
