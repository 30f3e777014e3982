// The console of kelvo_brino and kelvo_map: every line the replaced tool
// printed, made byte for byte from the results of the core and the readers,
// and the message of every failure, made from its Error.
#pragma once

#include <initializer_list>
#include <string_view>

#include "core/error.hpp"
#include "legacy/run_state.hpp"
#include "textio/console.hpp"
#include "textio/free_format.hpp"

namespace kelvo::legacy {

struct Printer {
  textio::Console& console;

  void write(std::string_view text) { console.write(text); }
  void write_error(std::string_view text) { console.write_error(text); }
  // One free-format line (or more, when it wraps).
  void print(std::initializer_list<textio::FreeItem> items) { console.write(textio::free_line(items)); }

  // The lines of each stage, in the order of a run.
  void echo(const Settings& s);
  void layer_range(const Settings& s);
  void grid(const Grid& g);
  void time_window(float jday_start, float jday_end);
  void allocation(const Grid& g);
  // The scale files read whole and the names of the exponent files begun.
  void scale_files(const io::ScaleReport& report, const io::ScaleFiles& files);
  // The list: the line that ended it (on standard error), its record count,
  // the records left out, the date of each kept one-time record (with the
  // year-0 and out-of-slot notes) and, for a list read whole, the kept
  // records that count for no layer.
  void observation_list(const RunState& s, bool whole);
  void water_points(const RunState& s);
  void layer_results(const Assessment& a);

  // The message with which a failure ends the run: the usage text, or a
  // "STOP (" line naming the failing step.
  void failure(const Error& e, const RunState& s);
};

}  // namespace kelvo::legacy
