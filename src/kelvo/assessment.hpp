// What every assessing subcommand (map, series, plan) shares: the six
// arguments of kelvo_brino read as a person expects, the base directories,
// the report options, and one assessment run through the tool's own stages.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kelvo/cli.hpp"
#include "kelvo/dates.hpp"
#include "kelvo_brino/coverage.hpp"
#include "kelvo_mod/calendar.hpp"
#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"

namespace kelvo::cli {

struct AssessmentArgs {
  std::string domain;
  std::string param;
  std::int32_t level_start = 0;
  std::int32_t level_end = 0;
  std::string metadata_file;
  std::string run_tag;
  std::string scale_dir;
  std::string results_dir;
  bool quiet = false;
  bool verbose = false;
};

// Adds the six positional arguments and --scale-dir, --results-dir,
// --quiet and --verbose to `command`, with the context's defaults.
void add_assessment_arguments(CLI::App& command, AssessmentArgs& a, const Context& context);

// The assessment day of an option date.
CalendarDay calendar_day(const OptionDate& d);
// ISO text of a day: YYYY-MM-DD, or YYYY-MM-DDTHH:MM when it has a time.
std::string iso_day(const CalendarDay& d, bool with_time);

// A result file's path under the results directory.
std::string result_path(const AssessmentArgs& a, std::string_view kind, std::string_view ending);

// Runs the stages of the tool (grid configuration to coverage) for `a`, with
// the time axis at `day`; with `maps`, each point's decision is kept. Then
// `body` works on the finished state through the same reporter. The legacy
// per-stage lines go to standard output with --verbose; a stage that stops
// the run becomes a Failure carrying its message.
void run_assessment_of(const AssessmentArgs& a, const CalendarDay& day, CoverageMaps* maps, Context& context,
                       const std::function<void(Reporter&, DomainState&)>& body);

// The message of a stage that stopped the run, from its "STOP (" on, on one
// line (the wrapping of free-format lines undone).
std::string stop_message(const std::string& console_out);

// The effective coverage of a layer in percent, as text with three decimals
// ("n/a" for a layer without water).
std::string percent_text(float fraction);

}  // namespace kelvo::cli
