// The index files that observing systems publish (the Argo profile index,
// the in-situ index files): what one line of an index is, the helpers the
// formats share (comma-separated fields, columns found by the names of the
// header line, positions and times), and the selection that makes a line a
// record of the observation list.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/region.hpp"
#include "io/metadata_list.hpp"
#include "io/platform_kinds.hpp"

namespace kelvo::io {

// Where a line ends up: a record of the list or the reason it was left out.
enum class LineFate {
  record,
  comment,
  no_position,
  moving_platform,
  outside_window,
  outside_region,
  no_parameter,
  unknown_platform,
  unreadable,
};
inline constexpr std::size_t line_fate_count = 9;
// The words of the report for each fate, in the order above.
inline constexpr std::array<std::string_view, line_fate_count> line_fate_names = {
    "records",          "comment",           "no position",
    "moving platform",  "outside the window", "outside the region",
    "no temperature or salinity", "unknown platform type", "unreadable line"};

// A time of an index line (UTC) and its second count from 1970.
struct IndexTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::int64_t seconds = 0;
};

// One observation as an index line gives it, before any selection.
struct IndexObservation {
  double lat = 0.0;
  double lon = 0.0;
  IndexTime start;         // the profile's time, or a time series' first time
  IndexTime end;           // a time series' last time (start for the others)
  bool fixed = false;      // a fixed platform's time series: a repeating record
  bool temp = false;
  bool salt = false;
  std::string_view platform;     // two-letter platform type code
  std::string_view platform_id;  // the platform's own id (an Argo float's WMO number); may be empty
};

// The outcome of parsing one data line: `fate` is record (the observation is
// filled), no_position, moving_platform or unreadable (with `problem`).
struct ParsedLine {
  LineFate fate = LineFate::record;
  std::string problem;
  IndexObservation obs;
};

// The two index formats.
enum class IndexFormat { argo, insitu };

// The columns a format reads, by name: `required` must all be in the header
// line, `optional` may be.
struct IndexLayout {
  std::string_view description;
  std::span<const std::string_view> required;
  std::span<const std::string_view> optional;
  bool header_may_be_comment = false;
};

// Positions of a layout's columns in one file's header: required ones first,
// then optional ones (-1 when absent), and the number of fields of a line.
struct Columns {
  std::vector<int> at;
  std::size_t count = 0;
  int operator[](std::size_t i) const { return at[i]; }
};

const IndexLayout& layout_of(IndexFormat format);

// Parses a data line of the format (its fields split at the commas).
ParsedLine parse_index_line(IndexFormat format, std::span<const std::string_view> fields, const Columns& columns);

// The two formats (import_argo.cpp, import_insitu.cpp).
extern const IndexLayout argo_layout;
extern const IndexLayout insitu_layout;
ParsedLine parse_argo_line(std::span<const std::string_view> fields, const Columns& columns);
ParsedLine parse_insitu_line(std::span<const std::string_view> fields, const Columns& columns);

// ------------------------------------------------------------ helpers

// The fields of a line between commas, blanks around each removed.
void split_fields(std::string_view line, std::vector<std::string_view>& fields);
std::string_view trim_blanks(std::string_view text);

// A '#' line, or one holding only blanks.
bool is_comment_line(std::string_view line);

// When `fields` (a candidate header line, split) names at least one of the
// layout's required columns: true, with their positions in `columns` and the
// first missing required name in `missing` (empty when none is missing).
bool find_columns(const IndexLayout& layout, std::span<const std::string_view> fields, Columns& columns,
                  std::string_view& missing);

// A decimal number of degrees. `empty` for a field without text; false for
// one that is not a finite decimal number.
bool parse_degrees(std::string_view text, double& value, bool& empty);

bool latitude_in_range(double lat);
bool longitude_in_range(double lon);

// A time of the calendar and day, false when it is not one.
bool make_time(IndexTime& t);

// Whether the space-separated names of `list` include `name`.
bool has_name(std::string_view list, std::string_view name);

// An unreadable line, saying what could not be read.
ParsedLine unreadable(std::string_view what, std::string_view column, std::string_view text);
// An unreadable line whose number of fields is not the header's.
ParsedLine wrong_field_count(std::size_t found, std::size_t expected);

// ------------------------------------------------------------ selection

// Repeat frequency of a fixed platform's time series: present every day.
inline constexpr int daily_repeat = 365;

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

}  // namespace kelvo::io
