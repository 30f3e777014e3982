// A whole kelvo_map run: the assessment of kelvo_brino (same stages, same
// console lines, same decisions), then the coverage map file in place of
// the summary.
#pragma once

#include <span>
#include <string>

#include "kelvo_brino/coverage.hpp"
#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"
#include "kelvo_mod/parallel.hpp"
#include "textio/console.hpp"

namespace kelvo {

// Writes the map file of a finished assessment (its decisions in `maps`),
// with `assessment_day` (ISO) in its attributes, prints the line naming it
// and returns its path; a failure ends the run.
std::string write_map(Reporter& out, const DomainState& ds, const CoverageMaps& maps,
                      std::span<const std::string> args, std::string_view assessment_day, int threads = 1);

// args[0] is the program path. Returns the exit status (0 with the map
// written, 1 usage, 2 failure); everything printed goes to `console`. The
// work is shared among `threads` threads (by default KELVO_THREADS, else the
// machine's cores); the map's contents do not depend on it.
int run_kelvo_map(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console,
                  int threads = thread_count_from_environment());

}  // namespace kelvo
