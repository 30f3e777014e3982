// The run of kelvo_brino: its stages, called once each in order, each
// reading through io/ or deciding through the core and printing its lines.
// A failure is an Error; the run prints its message and ends with its status.
#pragma once

#include <new>
#include <span>
#include <string>

#include "core/coverage_engine.hpp"
#include "core/parallel.hpp"
#include "legacy/printer.hpp"
#include "legacy/run_state.hpp"
#include "textio/console.hpp"

namespace kelvo::legacy {

struct AssessmentOptions {
  Evaluation how = Evaluation::fast;
  bool keep_decisions = false;  // the decision at every point of the assessed layers (maps)
  bool by_kind = false;         // with it, each kind's decisions (see Assessment)
  // The scale files and the coverage are shared among `threads` threads;
  // what is printed and kept is the same for any number of them.
  int threads = 1;
};

// The stages, in the order of a run.
// The grid configuration (with the time-window line), the check of the
// layer range, and the allocation line (after checking that the arrays of
// the run fit in memory).
void read_grid_cfg(Printer& out, RunState& s);
void alloc_domain(Printer& out, RunState& s);
// The scale and exponent files (read side by side on `threads` threads),
// and the observation list.
void get_grid(Printer& out, RunState& s, int threads);
void read_metadata(Printer& out, RunState& s);
// Both; with more than one thread the list is read meanwhile on a thread of
// its own. The list's lines follow those of the files, and a failure of the
// files ends the run before anything of the list is shown.
void read_scales_and_metadata(Printer& out, RunState& s, int threads);
void count_water_points(Printer& out, RunState& s);
void assess_coverage(Printer& out, RunState& s, const AssessmentOptions& options);

// The stages from the grid configuration up to and including the effective
// coverage, for run settings already in `s`.
void run_stages(Printer& out, RunState& s, const AssessmentOptions& options);

// The command line (get_args, read_layer_bounds, the check of the names),
// then run_stages.
void run_assessment(Printer& out, RunState& s, std::span<const std::string> args, const AssessmentOptions& options);

// A whole run (args[0] is the program path): the assessment and the summary
// report. Returns the exit status; everything printed goes to `console`. The
// thread count is by default that of KELVO_THREADS, else the machine's cores.
int run_kelvo_brino(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console,
                    Evaluation how = Evaluation::fast, int threads = threads_from_environment());

// Runs `body(printer, state)` on a fresh run state; an Error ends the run
// with its message and status, a failed allocation with an out-of-memory
// message; the console is flushed.
template <typename Body>
int run_guarded(const BaseDirs& dirs, textio::Console& console, Body&& body) {
  int status = exit_success;
  Printer out{console};
  RunState s(dirs);
  try {
    body(out, s);
  } catch (const Error& e) {
    out.failure(e, s);
    status = exit_status_of(e);
  } catch (const std::bad_alloc&) {
    out.print({"STOP (kelvo_brino) ", "Out of memory"});
    status = exit_failure;
  }
  console.flush();
  return status;
}

}  // namespace kelvo::legacy
