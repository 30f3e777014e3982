#include "kelvo/cli.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <exception>
#include <new>
#include <sstream>
#include <vector>

#include "kelvo/commands.hpp"

namespace kelvo::cli {

namespace {

constexpr std::array<std::string_view, 6> commands{"map", "series", "plan", "import", "plot", "domain"};

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

// "kelvo map --help" for the subcommand reached.
std::string help_hint(const CLI::App& app) {
  std::string head = message_head(app);
  head.resize(head.size() - 2);
  return "; see " + head + " --help";
}

// Letters two names differ by (insertions, deletions, changes), for the
// suggestion after a misspelt command.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

bool is_command(std::string_view word) { return std::find(commands.begin(), commands.end(), word) != commands.end(); }

// The first argument when it is neither a command nor an option kelvo
// itself takes: `kelvo: unknown command "mapp"; did you mean "map"?`.
std::string unknown_first_argument(std::span<const std::string> args) {
  if (args.size() < 2) return {};
  const std::string& word = args[1];
  if (is_command(word) || word == "--help" || word == "-h" || word == "--version") return {};
  if (word.starts_with("-")) return "unknown option \"" + word + "\"; see kelvo --help";
  std::string text = "unknown command \"" + word + "\"";
  for (std::string_view c : commands) {
    if (edit_distance(word, c) <= 2) return text + "; did you mean \"" + std::string(c) + "\"?";
  }
  return text + "; the commands are map, series, plan, import, plot and domain (kelvo --help)";
}

// Help and version requests end with status 0 and their text on standard
// output; every other parse error with one line on standard error.
int parse_error(const CLI::App& app, const CLI::ParseError& e, textio::Console& console) {
  if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
    std::ostringstream out, err;
    app.exit(e, out, err);
    console.write(out.str());
    return exit_success;
  }
  std::string what = e.what();
  if (what == "A subcommand is required") what = "a command is required: map, series, plan, import, plot or domain";
  console.write_error(message_head(app) + what + help_hint(app) + "\n");
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

void usage_error(std::string message) { throw Error(ErrorCode::usage, "kelvo", std::move(message)); }

void fail(std::string message) { throw Error(ErrorCode::bad_request, "kelvo", std::move(message)); }

void warn(Context& context, std::string_view command, std::string_view text) {
  std::string line = "kelvo ";
  line.append(command).append(": warning: ").append(text).append("\n");
  context.console.write_error(line);
}

void add_common_flags(CLI::App& command, bool& quiet, bool& verbose) {
  command.set_version_flag("--version", "kelvo " KELVO_VERSION);
  command.add_flag("-q,--quiet", quiet, "print only the paths of the written files");
  command.add_flag("-v,--verbose", verbose, "also print what was read");
}

void set_help_footer(CLI::App& command, std::string_view writes, std::string_view examples) {
  std::string footer = "Writes:\n";
  footer.append(writes).append("\n\nExamples:\n").append(examples).append("\n");
  command.footer(footer);
}

int run(std::span<const std::string> args, Context& context) {
  CLI::App app{"kelvo: the coverage of ocean observing networks (Argo floats, moorings, ferryboxes, gliders) "
               "over model domains: maps of one day, series through time, plans of new platforms, and the "
               "import of real observation inventories.",
               "kelvo"};
  app.set_version_flag("--version", "kelvo " KELVO_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Run 'kelvo COMMAND --help' for the options and files of a command.\n\nExamples:\n"
      "  kelvo map --domain NsBs --scale-dir sample/BRINO_S --param salt --obs sample/metadata/NsBs_network_2004.lst "
      "--day 2004-01-01\n"
      "  kelvo plot NsBs_salt_map_20040101.nc\n");
  context.command_line.assign(args.begin(), args.end());
  if (context.program.empty() && !args.empty()) context.program = args.front();
  if (const std::string unknown = unknown_first_argument(args); !unknown.empty()) {
    context.console.write_error("kelvo: " + unknown + "\n");
    context.console.flush();
    return exit_usage;
  }
  add_map_command(app, context);
  add_series_command(app, context);
  add_plan_command(app, context);
  add_import_command(app, context);
  add_plot_command(app, context);
  add_domain_command(app, context);
  const int status = run_app(app, args, context.console);
  context.console.flush();
  return status;
}

int run(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  textio::Console console = textio::standard_console();
  Context context{console, KELVO_SCALE_DIR, KELVO_RESULTS_DIR, {}, threads_from_environment(), {}};
  return run(args, context);
}

}  // namespace kelvo::cli
