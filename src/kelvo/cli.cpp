#include "kelvo/cli.hpp"

#include <algorithm>
#include <exception>
#include <new>
#include <sstream>
#include <vector>

#include "kelvo/commands.hpp"

namespace kelvo::cli {

namespace {

// "kelvo import argo: " for the subcommands chosen so far.
std::string message_head(const CLI::App& app) {
  std::string head = "kelvo";
  const CLI::App* current = &app;
  while (!current->get_subcommands().empty()) {
    current = current->get_subcommands().front();
    head += " " + current->get_name();
  }
  return head + ": ";
}

// Help and version requests end with status 0 and their text on standard
// output; every other parse error with its message and the usage of the
// subcommand reached on standard error.
int parse_error(const CLI::App& app, const CLI::ParseError& e, textio::Console& console) {
  if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
    std::ostringstream out, err;
    app.exit(e, out, err);
    console.write(out.str());
    return exit_success;
  }
  console.write_error(message_head(app) + e.what() + "\n" + app.help());
  return exit_usage;
}

int run_app(CLI::App& app, std::span<const std::string> args, textio::Console& console) {
  std::vector<std::string> reversed(args.size() > 1 ? args.begin() + 1 : args.end(), args.end());
  std::reverse(reversed.begin(), reversed.end());
  try {
    app.parse(reversed);
    return exit_success;
  } catch (const CLI::ParseError& e) {
    return parse_error(app, e, console);
  } catch (const Error& e) {
    console.write_error(message_head(app) + e.message + "\n");
    return exit_status_of(e);
  } catch (const std::bad_alloc&) {
    console.write_error(message_head(app) + "out of memory\n");
  } catch (const std::exception& e) {
    console.write_error(message_head(app) + e.what() + "\n");
  }
  return exit_failure;
}

}  // namespace

void fail(std::string message) { throw Error(ErrorCode::bad_request, "kelvo", std::move(message)); }

int run(std::span<const std::string> args, Context& context) {
  CLI::App app{"Observing-network coverage of ocean model domains: inputs, maps and plans for kelvo_brino",
               "kelvo"};
  app.set_version_flag("--version", "kelvo " KELVO_VERSION);
  app.require_subcommand(1);
  context.command_line.assign(args.begin(), args.end());
  add_import_command(app, context);
  add_map_command(app, context);
  add_series_command(app, context);
  add_plan_command(app, context);
  const int status = run_app(app, args, context.console);
  context.console.flush();
  return status;
}

int run(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  textio::Console console = textio::standard_console();
  Context context{console, KELVO_SCALE_DIR, KELVO_RESULTS_DIR, {}, threads_from_environment()};
  return run(args, context);
}

}  // namespace kelvo::cli
