// How a stage reaches the console and ends a run: one small reporter, handed
// to the stages instead of the whole run state.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "kelvo_mod/run_stop.hpp"
#include "textio/console.hpp"
#include "textio/free_format.hpp"

namespace kelvo {

struct Reporter {
  textio::Console& console;

  void write(std::string_view text) { console.write(text); }
  void write_error(std::string_view text) { console.write_error(text); }
  // One free-format line (or more, when it wraps).
  void print(std::initializer_list<textio::FreeItem> items) { console.write(textio::free_line(items)); }
  // Prints a free-format message and ends the run with `exit_status`.
  [[noreturn]] void stop(std::initializer_list<textio::FreeItem> items, int exit_status = exit_failure) {
    print(items);
    throw RunStop{exit_status};
  }
};

// The head of every stop message: "STOP (" operation ") ".
inline std::string stop_head(std::string_view operation) {
  return "STOP (" + std::string(operation) + ") ";
}

}  // namespace kelvo
