// The command line of kelvo_brino and kelvo_map: six positional arguments
// into the run settings, the usage text, and the layer bounds.
#pragma once

#include <span>
#include <string>

#include "legacy/printer.hpp"
#include "legacy/run_state.hpp"

namespace kelvo::legacy {

// Takes the arguments (args[0] is the program path) into the six text
// settings and prints the echo line. Fewer than four arguments are an Error
// (usage, operation "usage", file the program path) that prints the usage text.
void get_args(Printer& out, Settings& s, std::span<const std::string> args);

// Reads level_start and level_end from their two-character texts and prints
// the layer-range line; a bound that is not a number is an Error
// (not_a_number, operation "get_args", items: the bound's name and text).
void read_layer_bounds(Printer& out, Settings& s);

// An Error (bad_request, operation "get_args", items: the setting's name and
// value) when the domain, the parameter or the run tag, as held, has a "/":
// each becomes part of a file name under a base directory, where a "/"
// would lead into other directories.
void check_name_settings(const Settings& s);

}  // namespace kelvo::legacy
