// kelvo domain info NAME: what a domain holds, as a table: its grid, its
// layers, the parameters with scale files, and for each parameter and layer
// the water points and the decorrelation reaches (min, median, max).
//
// A scale coefficient S and its exponent p weigh a distance d as
// exp(-(d^p S)): the reach d = S^(-1/p) is the distance at which the weight
// has fallen to 1/e, in km for x and y, in days for t.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "io/domain_tree.hpp"
#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

struct DomainArgs {
  std::string name;
  std::string scale_dir;
  bool quiet = false;
  bool verbose = false;
};

// Min, median and max of the reaches of the water points whose coefficient
// and exponent are positive and finite; none when there is no such point.
struct Spread {
  double min = 0.0, median = 0.0, max = 0.0;
  bool any = false;
};

Spread reaches(std::span<const float> coefficient, float exponent, std::span<const std::int32_t> water) {
  std::vector<double> r;
  const bool usable_exponent = exponent > 0.0f && std::isfinite(exponent);
  for (std::size_t q = 0; q < coefficient.size() && usable_exponent; ++q) {
    const float s = coefficient[q];
    if (water[q] == 1 && s > 0.0f && std::isfinite(s)) {
      r.push_back(std::pow(static_cast<double>(s), -1.0 / static_cast<double>(exponent)));
    }
  }
  if (r.empty()) return {};
  std::sort(r.begin(), r.end());
  return {r.front(), r[r.size() / 2], r.back(), true};
}

std::string spread_text(const Spread& s) {
  char text[64];
  if (!s.any) return "        -       -       -";
  std::snprintf(text, sizeof text, " %8.1f%8.1f%8.1f", s.min, s.median, s.max);
  return text;
}

std::string grid_text(const std::string& name, const std::string& dir, const Grid& g) {
  char text[256];
  std::snprintf(text, sizeof text,
                "Domain %s (%s)\n  grid %d x %d points, %d layers; longitude %g to %g E by %g, latitude %g to %g N "
                "by %g\n",
                name.c_str(), io::grid_config_path(dir, name).c_str(), g.nlon, g.nlat, g.nz, static_cast<double>(g.west),
                static_cast<double>(g.east), static_cast<double>(g.dlon), static_cast<double>(g.south),
                static_cast<double>(g.north), static_cast<double>(g.dlat));
  return text;
}

std::string parameter_table(const Domain& d, const std::string& param) {
  std::string t = "Parameter " + param +
                  ": water points and reaches, min median max (x, y in km; t in days)\n"
                  " layer  level     water       reach x                 reach y                 reach t\n";
  for (std::int32_t k = d.first_layer(); k <= d.last_layer(); ++k) {
    const LayerFields f = d.fields(k);
    textio::put_int(t, k, 6);
    textio::put_int(t, d.grid().level_number(k), 7);
    textio::put_int(t, d.nwater(k), 10);
    t += spread_text(reaches(f.sx, f.px, f.water)) + spread_text(reaches(f.sy, f.py, f.water)) +
         spread_text(reaches(f.st, f.pt, f.water)) + "\n";
  }
  return t;
}

void run_info(const DomainArgs& o, Context& context) {
  AssessmentArgs a;
  a.domain = o.name;
  a.scale_dir = o.scale_dir;
  std::string dir = absolute_path(o.scale_dir);
  if (!dir.ends_with("/")) dir += '/';
  const std::vector<std::string> params = io::parameters_of(dir, o.name);
  a.param = params.empty() ? "salt" : params.front();
  check_tree(a, dir, context);
  const Grid grid = io::read_grid_config(io::grid_config_path(dir, o.name));
  std::string text = grid_text(o.name, dir, grid) + "  parameters:";
  for (const std::string& p : params) text += " " + p;
  text += "\n";
  for (const std::string& p : params) {
    const Domain d = io::read_domain_tree(dir, o.name, p, 1, grid.nz, context.threads);
    text += parameter_table(d, p);
  }
  context.console.write(text);
}

}  // namespace

void add_domain_command(CLI::App& app, Context& context) {
  CLI::App* domain = app.add_subcommand("domain", "what a domain holds: grid, layers, parameters, water points, reaches");
  domain->require_subcommand(1);
  domain->set_version_flag("--version", "kelvo " KELVO_VERSION);
  set_help_footer(*domain, "  nothing: see kelvo domain info --help", "  kelvo domain info NsBs --scale-dir sample/BRINO_S");
  CLI::App* info = domain->add_subcommand("info", "the grid, layers, parameters, water points and reaches of a domain");
  auto o = std::make_shared<DomainArgs>();
  o->scale_dir = context.scale_dir;
  info->add_option("NAME", o->name, "the domain (its folder NAME_ASC under --scale-dir)")->required()->type_name("NAME");
  add_scale_dir_option(*info, o->scale_dir);
  add_common_flags(*info, o->quiet, o->verbose);
  set_help_footer(*info,
                  "  nothing: a table on standard output. The reach of a scale coefficient S with exponent p is\n"
                  "  S^(-1/p), the distance (km) or time (days) at which its weight exp(-(d^p S)) falls to 1/e.",
                  "  kelvo domain info NsBs --scale-dir sample/BRINO_S");
  info->callback([o, &context] { run_info(*o, context); });
}

}  // namespace kelvo::cli
