// The subcommands of `kelvo`. Each adds itself to the application with its
// options and the action run when it is chosen; cli.cpp calls every one.
#pragma once

#include <CLI/CLI.hpp>

#include "kelvo/cli.hpp"

namespace kelvo::cli {

// kelvo import argo|insitu: a metadata list from observation index files.
void add_import_command(CLI::App& app, Context& context);

// kelvo map: the coverage map of one assessment day.
void add_map_command(CLI::App& app, Context& context);

// kelvo series: one assessment per day over a period.
void add_series_command(CLI::App& app, Context& context);

// kelvo plan: critical observations and the placement of new platforms.
void add_plan_command(CLI::App& app, Context& context);

// kelvo plot: the figures of a map, series or plan file (the GMT scripts).
void add_plot_command(CLI::App& app, Context& context);

void add_domain_command(CLI::App& app, Context& context);

}  // namespace kelvo::cli
