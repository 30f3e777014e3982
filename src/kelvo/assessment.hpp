// What every assessing subcommand (map, series, plan) shares: the named
// options of the domain, the parameter, the layers and the observation
// files; reading them through io/ strictly (or leniently); the warnings
// about observations that cannot count; the default output names and the
// attributes of the written files.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <future>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/assess.hpp"
#include "core/domain.hpp"
#include "core/observations.hpp"
#include "io/domain_file.hpp"
#include "io/metadata_list.hpp"
#include "io/netcdf.hpp"
#include "kelvo/cli.hpp"

namespace kelvo::cli {

struct AssessmentArgs {
  std::string command;  // "map", "series", "plan"
  std::string domain;
  std::string scale_dir;
  std::string param;
  std::string layers;   // "A-B" or "A"; empty: every layer of the domain
  std::vector<std::string> obs;
  std::string output;   // -o
  const CLI::Option* output_option = nullptr;
  bool lenient = false;
  bool quiet = false;
  bool verbose = false;
  std::vector<std::string> positional;  // kelvo_brino's six arguments, which kelvo refuses
  std::string results_dir;              // kelvo_brino's form only
};

// The layers of --layers; 0 where the option does not give them (every
// layer of the domain). A usage error for anything but A or A-B with
// 1 <= A <= B.
struct LayerRange {
  std::int32_t first = 0;
  std::int32_t last = 0;
};
LayerRange parse_layers(std::string_view text);

// A usage error "OPTION is required" when `value` is empty (options are
// checked after the positional form is refused, so CLI11 does not require them).
void require(std::string_view option, const std::string& value);

// Adds --domain, --scale-dir, --param, --layers, --obs, -o, --lenient, -q,
// -v and --version to `command`, with the context's defaults.
void add_assessment_options(CLI::App& command, AssessmentArgs& a, const Context& context, std::string_view output_help);

// When the command was given kelvo_brino's positional arguments, a usage
// error that prints the equivalent command line of named options. `tag_name`
// gives the output kelvo wrote in that form from the run tag ("cover_map",
// "cover_series", "plan"), `day_default` the day that form assumed.
void refuse_positional_form(const CLI::App& command, const AssessmentArgs& a, const Context& context,
                            std::string_view tag_name, std::string_view ending, bool add_day, bool add_by_kind);

// A usage error unless `value` is a name: printable text without blanks or "/".
void check_name_option(std::string_view option, const std::string& value);

// The options judged without reading a file: usage errors.
void check_assessment_options(const AssessmentArgs& a);

// The inputs of an assessment, read and checked.
struct Inputs {
  std::string scale_dir;         // absolute, normalised, ending in "/"
  std::string domain_file;       // absolute, normalised; empty for a domain of a tree
  std::vector<std::string> obs;  // absolute, normalised
  std::int32_t first = 0, last = 0;
  Domain domain;
  ObservationSet observations;
  std::vector<io::ListReport> lists;
  std::int64_t twins = 0;  // records kept once as the same observation as others
  // Layers first..last of the domain read from its tree or file, for a run
  // that reads them a few at a time (read_inputs with layers_later, whose
  // `domain` then holds the grid and the exponents but no layer).
  std::function<Domain(std::int32_t first, std::int32_t last)> read_layers;
  std::int64_t list_lines() const;  // the lines of every list, as kelvo_brino reads them
};

// --scale-dir DIR, the folder of the domains' <NAME>_ASC folders, its
// default shown in the help.
void add_scale_dir_option(CLI::App& command, std::string& scale_dir);

// The domain tree of a run, before it is read: the scale directory (absolute,
// ending in "/"), the domain's grid configuration and the parameter's
// exponent files; a failure (status 2) naming what is missing and what is
// there (the domains under the directory, the domain's parameters).
void check_tree(const AssessmentArgs& a, const std::string& scale_dir, const Context& context);

// Checks the options (usage errors), then the files: the scale directory,
// the domain (the domains found are listed when it is not one), the
// parameter's files (the parameters found are listed), the layers against
// the grid. Reads the domain and, on a thread of its own, the observation
// files. A line of an observation file that cannot be read ends the run
// ("FILE:LINE: ..."), or with --lenient ends that list with a warning (an
// index's unreadable lines are left out and counted). A
// file without observations, or without any of the parameter, and
// observations outside the grid are warned about.
// With `layers_later` the domain's layers are left to Inputs::read_layers.
Inputs read_inputs(const AssessmentArgs& a, Context& context, bool layers_later = false);

// The layers of the inputs in order. With `ahead` (and more than one
// thread) each is read while the caller works on the one before, on a
// thread of its own: at most two layers of the domain are held at a time.
class LayerStream {
 public:
  LayerStream(const Inputs& in, int threads, bool ahead);
  ~LayerStream();
  LayerStream(const LayerStream&) = delete;
  LayerStream& operator=(const LayerStream&) = delete;
  // The domain holding the next layer (first, first + 1, ...).
  Domain next();

 private:
  const Inputs& in_;
  bool ahead_ = false;
  std::int32_t next_ = 0;
  std::future<Domain> coming_;
  void start();
};

// The line -v prints for layer k of `domain` (which holds it): its water points.
std::string water_text(const Domain& domain, std::int32_t k);

// The header of the domain file of --domain: a failure (status 2) naming
// the file and what is wrong with it.
io::DomainFileHeader domain_file_header(const std::string& path);

// The domain's name: --domain itself, or the name a domain file holds.
std::string domain_name_of(const AssessmentArgs& a);

// Warns when no observation is in the time slot of a day of `slots`
// (ascending), or when none of the dated ones is (`when` names the day or
// period).
void warn_about_time_slots(const AssessmentArgs& a, const Inputs& in, std::span<const float> slots,
                           std::string_view when, Context& context);

// An output's path, checked before any work: a usage error for an empty
// name, control characters, a name ending in "/", or "-" where standard
// output cannot take the file; a failure when what stands there now is not
// a regular file (a directory, a device, a FIFO, a socket, a dangling link)
// or its folder does not exist. Nothing is ever written over such a path.
void check_output(std::string_view option, const std::string& path, bool standard_output_allowed);

// -o, else "<domain>_<param>_<what>_<stamp><ending>" in the current directory.
std::string output_path(const AssessmentArgs& a, std::string_view what, std::string_view stamp, std::string_view ending);

// The global attributes of a written file: the paths absolute and normalised.
io::FileAttributes attributes_of(const AssessmentArgs& a, const Inputs& in, std::string_view day,
                                 const Context& context);

// The assessment of the inputs' layers on the day of `slot`, keeping its
// decisions (and, with `by_kind`, each kind's), on the context's threads.
AssessRequest day_request(const Inputs& in, float slot, bool by_kind, const Context& context);

// The effective coverage of a layer in percent, as text with three decimals
// ("n/a" for a layer without water).
std::string percent_text(float fraction);

// An absolute, normalised path.
std::string absolute_path(std::string_view path);

}  // namespace kelvo::cli
