// The `kelvo` front end: one executable whose subcommands (import, and the
// ones that follow it) share the option parser, the date options, the
// failure type and the exit statuses.
#pragma once

#include <span>
#include <string>

#include "textio/console.hpp"

namespace kelvo::cli {

// Exit statuses of every subcommand.
inline constexpr int exit_success = 0;
inline constexpr int exit_usage = 1;    // the option parser rejected the command line
inline constexpr int exit_failure = 2;  // any other failure, with its message

// A failure of a subcommand: run() prints "kelvo <subcommand>: <message>" on
// standard error and ends with exit_failure. The message names the option or
// file and says what is wrong with it.
struct Failure {
  std::string message;
};

// What a subcommand needs from the process: the console its results and
// messages go to, and the defaults fixed when the executable was built.
struct Context {
  textio::Console& console;
  std::string scale_dir;  // default of --scale-dir
};

// Parses args (args[0] is the program path), runs the chosen subcommand and
// returns the exit status. Everything printed goes to context.console.
int run(std::span<const std::string> args, Context& context);

// The process entry: the standard console and the built-in defaults.
int run(int argc, char** argv);

}  // namespace kelvo::cli
