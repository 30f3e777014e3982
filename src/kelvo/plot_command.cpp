// kelvo plot: the figures of a map, series or plan file, drawn by the GMT
// script for its type (plot_coverage, plot_series, plot_plan), which is
// looked for beside the kelvo executable (where it is installed), then in
// the source tree it was built from.
#include <netcdf.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kelvo/commands.hpp"

namespace kelvo::cli {

namespace {

namespace fs = std::filesystem;

struct PlotArgs {
  std::string file;
  std::string outdir;
  std::vector<int> layers;
  std::string format = "png";
  int dpi = 0;
  bool no_coast = false;
  bool quiet = false;
  bool verbose = false;
};

bool has_variable(int ncid, const char* name) {
  int var = -1;
  return nc_inq_varid(ncid, name, &var) == NC_NOERR;
}

// The script that draws the file, from the variables it holds.
std::string script_for(const std::string& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) fail(file + ": " + (fs::exists(file, ec) ? "not a regular file" : "no such file"));
  int ncid = -1;
  if (const int status = nc_open(file.c_str(), NC_NOWRITE, &ncid); status != NC_NOERR) {
    fail(file + ": not a NetCDF file kelvo can read (" + nc_strerror(status) + ")");
  }
  std::string script;
  if (has_variable(ncid, "covered_days_fraction")) {
    script = "plot_series";
  } else if (has_variable(ncid, "pick_lat")) {
    script = "plot_plan";
  } else if (has_variable(ncid, "coverage")) {
    script = "plot_coverage";
  }
  nc_close(ncid);
  if (script.empty()) fail(file + ": not a map, series or plan file of kelvo");
  return script;
}

std::string script_path(const std::string& name, const Context& context) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  std::vector<fs::path> places;
  if (!ec) places.push_back(self.parent_path() / name);
  if (!context.program.empty()) places.push_back(fs::path(context.program).parent_path() / name);
  places.push_back(fs::path(KELVO_TOOLS_DIR) / name);
  for (const fs::path& p : places) {
    if (::access(p.c_str(), X_OK) == 0) return p.string();
  }
  fail(name + ": the plot script is neither beside kelvo nor in " + std::string(KELVO_TOOLS_DIR));
}

int run_script(const std::string& script, const std::vector<std::string>& args, Context& context) {
  context.console.flush();
  std::vector<char*> argv;
  std::vector<std::string> all{script};
  all.insert(all.end(), args.begin(), args.end());
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) fail("cannot start " + script);
  if (pid == 0) {
    ::execv(script.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return exit_failure;
}

void run_plot(const PlotArgs& p, Context& context) {
  if (p.format != "png" && p.format != "pdf" && p.format != "svg") {
    usage_error("--format " + p.format + ": png, pdf or svg");
  }
  if (p.dpi < 0) usage_error("--dpi " + std::to_string(p.dpi) + ": must be positive");
  const std::string script = script_path(script_for(p.file), context);
  std::vector<std::string> args{p.file, "--format", p.format};
  if (!p.outdir.empty()) args.insert(args.end(), {"--outdir", p.outdir});
  if (p.dpi > 0) args.insert(args.end(), {"--dpi", std::to_string(p.dpi)});
  for (int l : p.layers) args.insert(args.end(), {"--layer", std::to_string(l)});
  if (p.no_coast) args.push_back("--no-coast");
  if (p.quiet) args.push_back("--quiet");
  const int status = run_script(script, args, context);
  if (status != 0) {
    Error e(status == exit_usage ? ErrorCode::usage : ErrorCode::bad_request, "kelvo",
            fs::path(script).filename().string() + " ended with status " + std::to_string(status));
    throw e;
  }
}

}  // namespace

void add_plot_command(CLI::App& app, Context& context) {
  auto p = std::make_shared<PlotArgs>();
  CLI::App* cmd = app.add_subcommand("plot", "figures of a map, series or plan file (GMT)");
  cmd->add_option("FILE", p->file, "a map, series or plan file of kelvo (or a map of kelvo_map)")
      ->required()
      ->type_name("FILE.nc");
  cmd->add_option("-o,--outdir", p->outdir, "folder of the figures (default: the file's folder)")->type_name("DIR");
  cmd->add_option("--layer", p->layers, "draw only this layer; may be given several times")->type_name("N");
  cmd->add_option("--format", p->format, "png, pdf or svg")->capture_default_str()->type_name("FMT");
  cmd->add_option("--dpi", p->dpi, "resolution of a png (default: the script's)")->type_name("N");
  cmd->add_flag("--no-coast", p->no_coast, "leave out the coastlines (for a domain of an imagined sea)");
  add_common_flags(*cmd, p->quiet, p->verbose);
  set_help_footer(*cmd,
                  "  in the output folder, named after FILE (its name without .nc as STEM): a map's\n"
                  "  STEM_layerN.FMT per layer; a series' STEM_coverage.FMT, STEM_days_layerN.FMT and, with\n"
                  "  per-kind values, STEM_by_kind_layerN.FMT; a plan's STEM_layerN.FMT. One line per figure.",
                  "  kelvo plot NsBs_salt_map_20040101.nc --layer 1\n"
                  "  kelvo plot NsBs_salt_series_20040101_20040331.nc --format pdf -o figures");
  cmd->callback([p, &context] { run_plot(*p, context); });
}

}  // namespace kelvo::cli
