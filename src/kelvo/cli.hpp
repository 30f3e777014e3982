// The `kelvo` front end: one executable whose subcommands share the option
// parser, the date options, the context of the process and the exit
// statuses. A failure of a subcommand is an Error: run() prints
// "kelvo <subcommand>: <message>" on standard error, one line, and ends with
// its status: 1 for a command line that cannot be taken (an unknown command
// or option, a value judged wrong without reading a file), 2 for a failure
// while running.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.hpp"
#include "core/parallel.hpp"
#include "textio/console.hpp"

namespace CLI {
class App;
}

namespace kelvo::cli {

// What a subcommand needs from the process: the console its results and
// messages go to, the thread count (KELVO_THREADS, else the cores, read once
// when the context is made), and the defaults fixed when the executable was
// built.
struct Context {
  textio::Console& console;
  std::string scale_dir;    // default of --scale-dir
  std::string results_dir;  // the results directory of kelvo_brino's form, named when that form is refused
  std::vector<std::string> command_line;  // as given, for the history of written files
  int threads = threads_from_environment();
  std::string program;      // the path kelvo was started as (to find the plot scripts beside it)
};

// A value of the command line that cannot be taken: an Error (usage, status
// 1) whose message names the option and says what is wrong with it.
[[noreturn]] void usage_error(std::string message);
// A failure while running (status 2), naming the option or file and the reason.
[[noreturn]] void fail(std::string message);

// A warning on standard error, "kelvo <command>: warning: <text>".
void warn(Context& context, std::string_view command, std::string_view text);

// Adds what every subcommand takes alike: -q/--quiet, -v/--verbose,
// --version (--help comes with every command), and the footer of its help:
// the files it writes and examples.
void add_common_flags(CLI::App& command, bool& quiet, bool& verbose);
void set_help_footer(CLI::App& command, std::string_view writes, std::string_view examples);

// Parses args (args[0] is the program path), runs the chosen subcommand and
// returns the exit status. Everything printed goes to context.console.
int run(std::span<const std::string> args, Context& context);

// The process entry: the standard console and the built-in defaults.
int run(int argc, char** argv);

}  // namespace kelvo::cli
