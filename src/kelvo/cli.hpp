// The `kelvo` front end: one executable whose subcommands share the option
// parser, the date options, the context of the process and the exit
// statuses. A failure of a subcommand is an Error: run() prints
// "kelvo <subcommand>: <message>" on standard error and ends with its status.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/parallel.hpp"
#include "textio/console.hpp"

namespace kelvo::cli {

// What a subcommand needs from the process: the console its results and
// messages go to, the thread count (KELVO_THREADS, else the cores, read once
// when the context is made), and the defaults fixed when the executable was
// built.
struct Context {
  textio::Console& console;
  std::string scale_dir;    // default of --scale-dir
  std::string results_dir;  // default of --results-dir
  std::vector<std::string> command_line;  // as given, for the history of written files
  int threads = threads_from_environment();
};

// A failure of the command line's values: an Error (bad_request) whose
// message names the option or file and says what is wrong with it.
[[noreturn]] void fail(std::string message);

// Parses args (args[0] is the program path), runs the chosen subcommand and
// returns the exit status. Everything printed goes to context.console.
int run(std::span<const std::string> args, Context& context);

// The process entry: the standard console and the built-in defaults.
int run(int argc, char** argv);

}  // namespace kelvo::cli
