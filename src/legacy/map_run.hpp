// A whole kelvo_map run: the assessment of kelvo_brino (same stages, same
// console lines, same decisions), then the coverage map file in place of
// the summary.
#pragma once

#include <span>
#include <string>

#include "core/parallel.hpp"
#include "legacy/printer.hpp"
#include "legacy/run_state.hpp"
#include "textio/console.hpp"

namespace kelvo::legacy {

// The map file's path: the summary's name with "_cover_map_" in place of
// "_cover_summary_" and ".nc" in place of ".asc". An Error (bad_request,
// operation "write_map") when the summary's name was cut at its 255
// characters, so that the map's cannot be made from it.
std::string map_file_name(const RunState& s);

// Writes the map file of a finished assessment (with its decisions), with
// `assessment_day` (ISO) in its attributes, prints the line naming it and
// returns its path.
std::string write_map(Printer& out, const RunState& s, std::span<const std::string> args,
                      std::string_view assessment_day, int threads = 1);

// args[0] is the program path. Returns the exit status (0 with the map
// written, 1 usage, 2 failure); everything printed goes to `console`. The
// work is shared among `threads` threads (by default KELVO_THREADS, else the
// machine's cores); the map's contents do not depend on it.
int run_kelvo_map(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console,
                  int threads = threads_from_environment());

}  // namespace kelvo::legacy
