// The command line of a run: six positional arguments into the run settings,
// the usage text, and the layer bounds.
#pragma once

#include <span>
#include <string>

#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"

namespace kelvo {

// Prints the usage text for the program path `program` and ends the run with
// the usage status.
[[noreturn]] void usage(Reporter& out, const std::string& program);

// Takes the arguments (args[0] is the program path) into the six text
// settings and prints the echo line; fewer than four arguments give the usage.
void get_args(Reporter& out, DomainState& ds, std::span<const std::string> args);

// Reads level_start and level_end from their two-character texts and prints
// the layer-range line; a bound that is not a number ends the run.
void read_layer_bounds(Reporter& out, DomainState& ds);

// Ends the run when the domain, the parameter or the run tag, as held, has
// a "/": each becomes part of a file name under a base directory, where a
// "/" would lead into other directories.
void check_name_settings(Reporter& out, const DomainState& ds);

}  // namespace kelvo
