// The observation list (metadata list) of the operational tools: one
// observation per line in nine fixed-column fields, 52 columns in all:
//
//   columns  1-8   latitude            fixed(8.4)
//            9-17  longitude           fixed(9.4)
//           18-27  date hhddmmyyyy     (read as a number, and as four integers)
//           28-32  repeat frequency    per year (0: a one-time observation)
//           33-36, 37-46               not used (two numeric fields); kelvo writes
//                                      a platform id of digits in 37-46
//                                      (33-36 blank), and reads it back
//           47-48  temperature flag    1 when the record measures temperature
//           49-50  salinity flag       1 when the record measures salinity
//           51-52  kind code           1-7 (see layer_of_kind)
//
// This file is the list's only reader and writer, and holds the one rule
// that gives a kind its layers. A list holds at most max_list_lines lines.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/calendar.hpp"
#include "core/observations.hpp"
#include "textio/atomic_file.hpp"

namespace kelvo::io {

inline constexpr std::int64_t max_list_lines = 99999;

// The kind codes of a list: 1 CTD and bottle, 2 surface-only platforms
// (ferrybox, thermosalinograph, drifting buoy, sail drone), 3 mooring,
// 4 profiling float, 5 tide gauge and mini-logger, 6 glider, 7 XBT and sea
// mammal.
inline constexpr int min_kind = 1;
inline constexpr int max_kind = 7;

// The layers a kind counts for: kind 2 the uppermost layer alone, kinds 1
// and 3-7 every layer, any other none.
std::int32_t layer_of_kind(std::int32_t kind);

// ------------------------------------------------------------ writing

// One line of the list, field by field.
struct ListRecord {
  float lat = 0.0f;
  float lon = 0.0f;
  int year = 0, month = 0, day = 0, hour = 0;
  int frequency = 0;  // per year; 0 for a one-time observation
  bool temp = false;
  bool salt = false;
  int kind = 0;
  std::string platform;  // written in columns 37-46 when it is 1-10 digits
};

// Whether a platform id can be written in a list: 1 to 10 digits.
bool list_can_hold_platform(std::string_view id);

// The 52 columns of a record (without a line end).
std::string list_line(const ListRecord& record);

// A new platform for a plan: a repeating record (`frequency` per year, 1
// to 9998, both flags) of `kind` at (lat, lon) dated `day`, its position
// written with 4 decimals; `record` is what the list reader reads back from
// `line` (present at every time). `run_id`, fourteen digits, goes in the
// columns the reader skips (33-46), so that the list names the plan that
// made it; blank or zeros when empty.
struct PlannedRecord {
  std::string line;
  ObservationRecord record;
};
PlannedRecord planned_record(float lat, float lon, const CalendarDay& day, std::int32_t kind,
                             std::string_view run_id = {}, int frequency = 1);

// Fourteen random digits naming one run, written in its files.
std::string new_run_id();

// A list written whole or not at all: created (beside its final name, so that
// a list that cannot be written is known at once), filled, then put in place.
// The path "-" is standard output, written as the list is filled.
// Errors (operation "write_list"): cannot_write, naming the file.
class ListWriter {
 public:
  void create(const std::string& path);
  void add_text(std::string_view text);     // lines already in the list's form, each with its end
  void add(const ListRecord& record);
  void commit();

 private:
  void flush_block();
  textio::AtomicFile file_;
  bool to_standard_output_ = false;
  std::string block_;
};

// The first `lines` lines of a list file, unchanged, each with its line end
// (one is added after a last line without one).
std::string list_head(const std::string& path, std::int64_t lines);

// ------------------------------------------------------------ reading

// What reading a list saw, for a report of its records. On a failure it
// holds what came before it.
struct ListReport {
  std::int64_t lines = 0;               // list lines read (records)
  std::int64_t unreadable_line = 0;     // the line that ended the list (0: the file's end)
  // What is wrong with that line: the columns, the field and its text
  // (`columns 1-8 (latitude): "# a comm" is not a number`), or its length.
  std::string unreadable_problem;
  // The records left out for not measuring the parameter kept, with their
  // two flag fields as read.
  struct LeftOut {
    std::int64_t line;
    float temp_flag;
    float salt_flag;
  };
  std::vector<LeftOut> left_out;
  // The date text of each kept one-time record, as read (hour, day, month,
  // year), and its day number, in the order of the kept records.
  struct DateRead {
    std::int8_t hour, day, month;  // two columns each: -9 to 99
    std::int16_t year;             // four columns: -999 to 9999
    float day_number;
  };
  std::vector<DateRead> dates;
  // An index file: the lines left out, each reason with its count (the
  // first unreadable one is in unreadable_line, the read going on past it).
  bool index = false;
  struct Skipped {
    std::string reason;
    std::int64_t count;
  };
  std::vector<Skipped> skipped;
};

// The records of the list at `path` that measure one of `keep`, in list
// order: a record present at every time when its repeat frequency is above
// 0 and below 9999, a one-time record at its date otherwise (day number of
// the date text, its minutes not given). The list ends at the file's end or
// before the first line that cannot be read (a field that is not a number,
// a line longer than 1 MiB); the dates of records left out are never read.
// A record whose columns 33-36 are blank and 37-46 hold digits has that
// platform id. Errors (operation "read_metadata"): cannot_open,
// list_too_long (more than `line_limit` lines), bad_date (line, items: the
// date text).
inline constexpr std::int64_t no_line_limit = std::numeric_limits<std::int64_t>::max();
ObservationSet read_list(const std::string& path, Parameters keep, ListReport* report = nullptr,
                         std::int64_t line_limit = max_list_lines);

}  // namespace kelvo::io
