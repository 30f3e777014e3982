// What every assessing subcommand (map, series, plan) shares: the six
// arguments of kelvo_brino read as a person expects, the base directories,
// the report options, and the inputs of an assessment read through io/: the
// domain of the tree and the observations of the list.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "core/assess.hpp"
#include "core/domain.hpp"
#include "core/observations.hpp"
#include "io/inputs.hpp"
#include "kelvo/cli.hpp"

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

// A result file's path under the results directory.
std::string result_path(const AssessmentArgs& a, std::string_view kind, std::string_view ending);
// The scale directory as the tree's names take it (ending in "/").
std::string scale_dir_of(const AssessmentArgs& a);

// The inputs of an assessment: the domain of `a` (its layers of the range)
// and the list's observations of the parameter, with what reading the list
// saw.
using Inputs = io::TreeInputs;

// Checks the arguments, then reads the domain and, meanwhile on a thread of
// its own, the list. A warning on standard error when the list ended before
// a line that is no list record; with --verbose, a line for each file read.
Inputs read_inputs(const AssessmentArgs& a, Context& context);

// The assessment of a's layers on the day of `slot`, keeping its decisions
// (and, with `by_kind`, each kind's), on the context's threads.
AssessRequest day_request(const AssessmentArgs& a, float slot, bool by_kind, const Context& context);

// The effective coverage of a layer in percent, as text with three decimals
// ("n/a" for a layer without water).
std::string percent_text(float fraction);

}  // namespace kelvo::cli
