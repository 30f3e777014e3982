// The run driver: the stages of one assessment, called once each in order.
#pragma once

#include <new>
#include <span>
#include <string>

#include "kelvo_brino/coverage.hpp"
#include "kelvo_mod/calendar.hpp"
#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/parallel.hpp"
#include "kelvo_mod/reporter.hpp"
#include "textio/free_format.hpp"
#include "textio/console.hpp"

namespace kelvo {

struct AssessmentOptions {
  Evaluation how = Evaluation::fast;
  CoverageMaps* maps = nullptr;        // when given, the decision at every point of the assessed layers
  const CalendarDay* day = nullptr;    // when given, the assessment day in place of 1 January 2004
  // The scale files and the coverage are shared among `threads` threads;
  // what is printed and kept is the same for any number of them.
  int threads = 1;
};

// The stages from the grid configuration up to and including the effective
// coverage, for run settings already in `ds`: grid configuration, layer
// range check, allocation, scale fields, metadata, water points, coverage.
void run_stages(Reporter& out, DomainState& ds, const AssessmentOptions& options);

// The command line (get_args, read_layer_bounds), then run_stages.
void run_assessment(Reporter& out, DomainState& ds, std::span<const std::string> args,
                    Evaluation how = Evaluation::fast, CoverageMaps* maps = nullptr, int threads = 1);

// A whole run (args[0] is the program path): the assessment and the summary
// report. Returns the exit status; everything printed goes to `console`. The
// thread count is by default that of KELVO_THREADS, else the machine's cores.
int run_kelvo_brino(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console,
                    Evaluation how = Evaluation::fast, int threads = thread_count_from_environment());

// Runs `body(reporter, state)` on a fresh domain state, turning the end of a run (RunStop)
// and a failed allocation into an exit status, and flushes the console.
template <typename Body>
int run_guarded(const BaseDirs& dirs, textio::Console& console, Body&& body) {
  int status = exit_complete;
  try {
    Reporter out{console};
    DomainState ds(dirs);
    body(out, ds);
  } catch (const RunStop& stop) {
    status = stop.exit_status;
  } catch (const std::bad_alloc&) {
    console.write(textio::free_line({stop_head("kelvo_brino"), "Out of memory"}));
    status = exit_failure;
  }
  console.flush();
  return status;
}

}  // namespace kelvo
