// kelvo domain info NAME: what a domain holds, as a table: its grid, its
// layers, the parameters with scale files, and for each parameter and layer
// the water points and the decorrelation reaches (min, median, max).
//
// A scale coefficient S and its exponent p weigh a distance d as
// exp(-(d^p S)): the reach d = S^(-1/p) is the distance at which the weight
// has fallen to 1/e, in km for x and y, in days for t.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>

#include "core/domain_recipe.hpp"
#include "core/error.hpp"
#include "io/bathymetry.hpp"
#include "io/domain_file.hpp"
#include "io/domain_tree.hpp"
#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

namespace fs = std::filesystem;

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

std::string grid_text(const std::string& name, const std::string& source, const Grid& g) {
  char text[512];
  std::snprintf(text, sizeof text,
                "Domain %s (%s)\n  grid %d x %d points, %d layers; longitude %g to %g E by %g%s, latitude %g to %g N "
                "by %g\n",
                name.c_str(), source.c_str(), g.nlon, g.nlat, g.nz, static_cast<double>(g.west),
                static_cast<double>(g.east), static_cast<double>(g.dlon), g.periodic ? " (wraps round)" : "",
                static_cast<double>(g.south), static_cast<double>(g.north), static_cast<double>(g.dlat));
  return text;
}

std::string table_head(const std::string& param) {
  return "Parameter " + param +
         ": water points and reaches, min median max (x, y in km; t in days)\n"
         " layer  level     water       reach x                 reach y                 reach t\n";
}

// The rows of the layers `d` holds.
std::string table_rows(const Domain& d) {
  std::string t;
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

std::string scale_dir_of(const std::string& option_value) {
  std::string dir = absolute_path(option_value);
  if (!dir.ends_with("/")) dir += '/';
  return dir;
}

// The grid of a domain of the tree, after checking that the tree holds it;
// in kelvo a grid that spans 360 degrees wraps round.
Grid tree_grid(const std::string& name, const std::string& dir, const std::string& option_dir, Context& context) {
  AssessmentArgs a;
  a.domain = name;
  a.scale_dir = option_dir;
  const std::vector<std::string> params = io::parameters_of(dir, name);
  a.param = params.empty() ? "salt" : params.front();
  check_tree(a, dir, context);
  Grid grid = io::read_grid_config(io::grid_config_path(dir, name));
  grid.periodic = spans_full_circle(grid.nlon, grid.dlon);
  return grid;
}

std::string parameter_list(const std::vector<std::string>& params) {
  std::string t;
  for (const std::string& p : params) t += " " + p;
  return t;
}

void run_info(const DomainArgs& o, Context& context) {
  std::string text;
  if (io::names_domain_file(o.name)) {
    const io::DomainFileHeader h = domain_file_header(o.name);
    text = grid_text(h.name, absolute_path(o.name), h.grid) + "  parameters:" + parameter_list(h.parameters) + "\n";
    // One layer at a time: a run of info holds no more than one layer.
    for (const std::string& p : h.parameters) {
      text += table_head(p);
      for (std::int32_t k = 1; k <= h.grid.nz; ++k) text += table_rows(io::read_domain_file(h, p, k, k, context.threads));
    }
  } else {
    const std::string dir = scale_dir_of(o.scale_dir);
    const Grid grid = tree_grid(o.name, dir, o.scale_dir, context);
    const std::vector<std::string> params = io::parameters_of(dir, o.name);
    text = grid_text(o.name, io::grid_config_path(dir, o.name), grid) + "  parameters:" + parameter_list(params) + "\n";
    for (const std::string& p : params) {
      text += table_head(p);
      for (std::int32_t k = 1; k <= grid.nz; ++k) {
        text += table_rows(io::read_domain_tree(dir, o.name, p, k, k, context.threads, true));
      }
    }
  }
  context.console.write(text);
}

// ---------------------------------------------------------------- convert

struct ConvertArgs {
  std::string name;
  std::string scale_dir;
  std::string output;
  int deflate = 1;
  bool quiet = false, verbose = false;
};

std::uintmax_t folder_bytes(const std::string& folder) {
  std::uintmax_t bytes = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    if (e.is_regular_file(ec)) bytes += e.file_size(ec);
  }
  return bytes;
}

std::string history(const Context& context) {
  std::string line;
  for (const std::string& a : context.command_line) line += (line.empty() ? "" : " ") + a;
  const std::time_t now = std::time(nullptr);
  char stamp[32] = "unknown time";
  std::tm tm{};
  if (gmtime_r(&now, &tm) != nullptr) std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return std::string(stamp) + ": " + line;
}

void run_convert(const ConvertArgs& o, Context& context) {
  check_name_option("--domain", o.name);
  check_output("-o", o.output, false);
  const std::string dir = scale_dir_of(o.scale_dir);
  std::vector<std::string> without;
  io::DomainFileContents c =
      io::tree_contents(dir, o.name, tree_grid(o.name, dir, o.scale_dir, context), context.threads, &without);
  c.history = history(context);
  c.deflate_level = o.deflate;
  io::write_domain_file(o.output, c);
  if (!without.empty()) {
    std::string layers;
    for (const std::string& w : without) layers += (layers.empty() ? "" : ", ") + w;
    warn(context, "domain convert",
         "layers without scale files in the tree, written without values (parameter layer): " + layers);
  }
  std::error_code ec;
  const std::uintmax_t bytes = fs::file_size(o.output, ec);
  if (o.quiet) {
    context.console.write(o.output + "\n");
    return;
  }
  context.console.write("Domain " + o.name + ": " + std::to_string(c.grid.nz) + " layers of" +
                        parameter_list(c.parameters) + " written to " + o.output + " (" + std::to_string(bytes) +
                        " bytes; the tree's files: " + std::to_string(folder_bytes(io::domain_folder(dir, o.name))) +
                        " bytes)\n");
}

// ---------------------------------------------------------------- export

struct ExportArgs {
  std::string file;
  std::string scale_dir;
  std::string name;
  bool quiet = false, verbose = false;
};

void run_export(const ExportArgs& o, Context& context) {
  const io::DomainFileHeader h = domain_file_header(o.file);
  io::TreeContents c;
  c.name = o.name.empty() ? h.name : o.name;
  check_name_option(o.name.empty() ? "the file's domain name" : "--name", c.name);
  c.grid = h.grid;
  c.parameters = h.parameters;
  for (const std::string& p : c.parameters) c.exponents.push_back(io::read_domain_file(h, p, 1, 0).all_exponents());
  c.planes = [&](std::size_t p, std::int32_t k, LayerPlanes planes) {
    copy_planes(io::read_domain_file(h, c.parameters[p], k, k, context.threads).layer(k), planes);
  };
  const std::string dir = scale_dir_of(o.scale_dir);
  std::error_code ec;
  fs::create_directories(dir, ec);
  const io::TreeWriteReport r = io::write_domain_tree(dir, c);
  if (r.inexact > 0) {
    warn(context, "domain export",
         std::to_string(r.inexact) + " of " + std::to_string(r.values) + " values do not read back from their " +
             "text as the same float (each is written as the nearest text its field holds)");
  }
  if (!r.axes_equal) {
    warn(context, "domain export", "the grid configuration's edges and steps do not give the file's lon and lat exactly");
  }
  const std::string folder = io::domain_folder(dir, c.name);
  context.console.write(o.quiet ? folder + "\n"
                                : "Domain " + c.name + ": " + std::to_string(c.grid.nz) + " layers of" +
                                      parameter_list(c.parameters) + " written to " + folder + " (" +
                                      std::to_string(r.values - r.inexact) + " of " + std::to_string(r.values) +
                                      " values read back exactly)\n");
}

// ---------------------------------------------------------------- create

struct CreateArgs {
  std::string bathymetry;
  std::string variable;
  std::vector<double> region;  // W E S N
  std::vector<double> step;    // DLON DLAT
  std::string depths;
  std::string reach[3];
  std::string exponents;
  std::string param;
  std::string name;
  std::string output;
  int deflate = 1;
  bool quiet = false, verbose = false;
};

// Comma-separated numbers of `option`; a usage error for anything else.
std::vector<double> numbers(std::string_view option, std::string_view text) {
  std::vector<double> v;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view field = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
    double x = 0.0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), x);
    if (field.empty() || ec != std::errc() || end != field.data() + field.size() || !std::isfinite(x)) {
      usage_error(std::string(option) + " " + std::string(text) + ": \"" + std::string(field) + "\" is not a number");
    }
    v.push_back(x);
    if (comma == std::string_view::npos) return v;
    start = comma + 1;
  }
}

// A reach: R (everywhere), R1,R2,... (one per layer) or rossby:R30,MAX.
ReachRule reach_rule(std::string_view option, const std::string& text, std::size_t layers) {
  ReachRule r;
  const bool rossby = text.starts_with("rossby:");
  const std::vector<double> v = numbers(option, rossby ? std::string_view(text).substr(7) : std::string_view(text));
  if (std::any_of(v.begin(), v.end(), [](double x) { return !(x > 0.0); })) {
    usage_error(std::string(option) + " " + text + ": reaches must be positive");
  }
  if (rossby) {
    if (v.size() != 2) usage_error(std::string(option) + " " + text + ": rossby:R30,MAX takes two reaches");
    r.form = ReachRule::Form::rossby;
    r.at_30 = v[0];
    r.cap = v[1];
  } else if (v.size() == 1) {
    r.values = v;
  } else if (v.size() == layers) {
    r.form = ReachRule::Form::per_layer;
    r.values = v;
  } else {
    usage_error(std::string(option) + " " + text + ": one reach, or one per layer (" + std::to_string(layers) +
                "), or rossby:R30,MAX");
  }
  return r;
}

DomainRecipe recipe_of(const CreateArgs& o) {
  const std::vector<double> depths = numbers("--depths", o.depths);
  for (std::size_t k = 0; k < depths.size(); ++k) {
    if (depths[k] < 0.0 || (k > 0 && depths[k] <= depths[k - 1])) {
      usage_error("--depths " + o.depths + ": depths in metres, 0 or more, increasing layer by layer");
    }
  }
  const std::vector<double> p = numbers("--exponents", o.exponents);
  if (p.size() != 3 || std::any_of(p.begin(), p.end(), [](double x) { return !(x > 0.0); })) {
    usage_error("--exponents " + o.exponents + ": three positive exponents PX,PY,PT");
  }
  DomainRecipe r;
  const std::vector<float> layer_depths(depths.begin(), depths.end());
  try {
    r.grid = regular_grid(o.region[0], o.region[1], o.region[2], o.region[3], o.step[0], o.step[1], layer_depths);
  } catch (const Error& e) {
    usage_error(e.message);
  }
  const char* options[3] = {"--reach-x", "--reach-y", "--reach-t"};
  for (int c = 0; c < 3; ++c) r.reach[static_cast<std::size_t>(c)] = reach_rule(options[c], o.reach[c], depths.size());
  r.exponents = {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
  return r;
}

std::string stem_of(const std::string& path) {
  std::string name = fs::path(path).filename().string();
  if (name.ends_with(".nc")) name.resize(name.size() - 3);
  return name;
}

void run_create(const CreateArgs& o, Context& context) {
  check_output("-o", o.output, false);
  check_name_option("--param", o.param);
  const std::string name = o.name.empty() ? stem_of(o.output) : o.name;
  check_name_option(o.name.empty() ? "-o (the domain's name is the file's)" : "--name", name);
  DomainRecipe r = recipe_of(o);
  std::error_code ec;
  if (!fs::is_regular_file(o.bathymetry, ec)) {
    fail("--bathymetry " + o.bathymetry + ": " + (fs::exists(o.bathymetry, ec) ? "not a regular file" : "no such file"));
  }
  io::BathymetrySample b = io::sample_bathymetry(o.bathymetry, o.variable, r.grid);
  if (b.outside > 0) {
    warn(context, "domain create",
         std::to_string(b.outside) + " grid points lie outside the bathymetry " + o.bathymetry + " and are land");
  }
  r.sea_depth = std::move(b.sea_depth);
  io::DomainFileContents c;
  c.name = name;
  c.grid = r.grid;
  c.parameters = {o.param};
  c.exponents = {recipe_exponents(r)};
  c.planes = [&](std::size_t, std::int32_t k, LayerPlanes planes) { fill_recipe_layer(r, k, planes); };
  c.source = "kelvo domain create, from the bathymetry " + absolute_path(o.bathymetry) + " (variable " + b.variable +
             (b.depth_positive_down ? ", depths" : ", elevations") + ")";
  c.comment = "A point of a layer is water where the sea (the nearest bathymetry node) is deeper than the layer; "
              "there each coefficient is reach^-p: reach-x " + o.reach[0] + " km, reach-y " + o.reach[1] +
              " km, reach-t " + o.reach[2] + " days, exponents " + o.exponents + ".";
  c.history = history(context);
  c.deflate_level = o.deflate;
  io::write_domain_file(o.output, c);
  if (o.quiet) {
    context.console.write(o.output + "\n");
    return;
  }
  std::string text = "Domain " + name + ": " + std::to_string(r.grid.nlon) + " x " + std::to_string(r.grid.nlat) +
                     " points" + (r.grid.periodic ? " (wraps round)" : "") + ", " + std::to_string(r.grid.nz) +
                     " layers of " + o.param + " written to " + o.output + "\n layer   depth m     water\n";
  for (std::int32_t k = 1; k <= r.grid.nz; ++k) {
    std::int64_t water = 0;
    for (std::size_t q = 0; q < r.sea_depth.size(); ++q) water += recipe_water(r, k, q) ? 1 : 0;
    textio::put_int(text, k, 6);
    textio::put_fixed(text, r.grid.depth[static_cast<std::size_t>(k - 1)], 10, 1);
    textio::put_int(text, water, 10);
    text += '\n';
  }
  context.console.write(text);
}

}  // namespace

void add_domain_command(CLI::App& app, Context& context) {
  CLI::App* domain = app.add_subcommand(
      "domain", "domain files: what a domain holds (info), tree to file (convert), file to tree (export), "
                "a domain from a bathymetry (create)");
  domain->require_subcommand(1);
  domain->set_version_flag("--version", "kelvo " KELVO_VERSION);
  set_help_footer(*domain, "  see the help of each: kelvo domain info|convert|export|create --help",
                  "  kelvo domain info NsBs --scale-dir sample/BRINO_S\n"
                  "  kelvo domain convert --domain NsBs --scale-dir sample/BRINO_S -o NsBs.nc");

  CLI::App* info = domain->add_subcommand("info", "the grid, layers, parameters, water points and reaches of a domain");
  auto o = std::make_shared<DomainArgs>();
  o->scale_dir = context.scale_dir;
  info->add_option("DOMAIN", o->name, "a domain file FILE.nc, or a domain name (its folder NAME_ASC under --scale-dir)")
      ->required()
      ->type_name("FILE.nc|NAME");
  add_scale_dir_option(*info, o->scale_dir);
  add_common_flags(*info, o->quiet, o->verbose);
  set_help_footer(*info,
                  "  nothing: a table on standard output. The reach of a scale coefficient S with exponent p is\n"
                  "  S^(-1/p), the distance (km) or time (days) at which its weight exp(-(d^p S)) falls to 1/e.",
                  "  kelvo domain info NsBs --scale-dir sample/BRINO_S\n  kelvo domain info NsBs.nc");
  info->callback([o, &context] { run_info(*o, context); });

  CLI::App* convert = domain->add_subcommand("convert", "a domain of a tree, every parameter, to one domain file");
  auto cv = std::make_shared<ConvertArgs>();
  cv->scale_dir = context.scale_dir;
  convert->add_option("--domain", cv->name, "the domain (its folder NAME_ASC under --scale-dir); required")
      ->required()
      ->type_name("NAME");
  add_scale_dir_option(*convert, cv->scale_dir);
  convert->add_option("-o,--output", cv->output, "the domain file to write; required")->required()->type_name("FILE.nc");
  convert->add_option("--deflate", cv->deflate, "compression level of the scale planes, 0 (none) to 9")
      ->check(CLI::Range(0, 9))
      ->capture_default_str();
  add_common_flags(*convert, cv->quiet, cv->verbose);
  set_help_footer(*convert,
                  "  -o FILE.nc: CF-1.8 NetCDF, the grid, levels, and for each parameter P the planes\n"
                  "  P_scale_x|y|t(layer, lat, lon) (one chunk a layer, compressed) and exponents P_power_x|y|t(layer).\n"
                  "  Written whole under a temporary name, then renamed. Every assessment on it equals the tree's.",
                  "  kelvo domain convert --domain NsBs --scale-dir sample/BRINO_S -o NsBs.nc\n"
                  "  kelvo map --domain NsBs.nc --param salt --obs sample/metadata/NsBs_network_2004.lst --day 2004-01-01");
  convert->callback([cv, &context] { run_convert(*cv, context); });

  CLI::App* exp = domain->add_subcommand("export", "a domain file to a tree that kelvo_brino reads");
  auto ex = std::make_shared<ExportArgs>();
  exp->add_option("FILE", ex->file, "the domain file")->required()->type_name("FILE.nc");
  // Required: a tree is never written into the operational scale directory unasked.
  exp->add_option("--scale-dir", ex->scale_dir, "folder to write <NAME>_ASC into (made if missing); required")
      ->required()
      ->type_name("DIR");
  exp->add_option("--name", ex->name, "the domain's name in the tree (default: the file's)")->type_name("NAME");
  add_common_flags(*exp, ex->quiet, ex->verbose);
  set_help_footer(*exp,
                  "  <scale-dir>/<NAME>_ASC/: the grid configuration, and per parameter the scale files of each\n"
                  "  level and the exponent files, each value the nearest text of its 8-column field (a warning\n"
                  "  counts those that read back as another float). Written in a folder beside it and renamed\n"
                  "  into place; an existing <NAME>_ASC is never written into.",
                  "  kelvo domain export NsBs.nc --scale-dir trees/ --name NsBs2");
  exp->callback([ex, &context] { run_export(*ex, context); });

  CLI::App* create = domain->add_subcommand("create", "a domain file from a bathymetry, reaches and exponents");
  auto cr = std::make_shared<CreateArgs>();
  create->add_option("--bathymetry", cr->bathymetry,
                     "NetCDF grid of elevation (negative below sea level) or depth (positive down) on lon/lat; required")
      ->required()
      ->type_name("FILE.nc");
  create->add_option("--variable", cr->variable, "the bathymetry's variable (default: the first on lat, lon)")
      ->type_name("NAME");
  create->add_option("--region", cr->region, "the grid's first and last longitude and latitude; required")
      ->required()
      ->expected(4)
      ->type_name("W E S N");
  create->add_option("--step", cr->step, "the grid's steps in degrees; required")->required()->expected(2)->type_name(
      "DLON DLAT");
  create->add_option("--depths", cr->depths, "depth of each layer in metres, increasing; required")
      ->required()
      ->type_name("D1,D2,...");
  const char* reach_help[3] = {"east-west reach in km", "north-south reach in km", "reach in time in days"};
  const char* reach_names[3] = {"--reach-x", "--reach-y", "--reach-t"};
  for (int c = 0; c < 3; ++c) {
    create->add_option(reach_names[c], cr->reach[c],
                       std::string(reach_help[c]) + ": R, one per layer R1,R2,..., or rossby:R30,MAX; required")
        ->required()
        ->type_name("RULE");
  }
  create->add_option("--exponents", cr->exponents, "exponents of x, y, t; required")->required()->type_name("PX,PY,PT");
  create->add_option("--param", cr->param, "the parameter the scales are of, e.g. salt or temp; required")
      ->required()
      ->type_name("NAME");
  create->add_option("--name", cr->name, "the domain's name (default: the output file's name without .nc)")
      ->type_name("NAME");
  create->add_option("-o,--output", cr->output, "the domain file to write; required")->required()->type_name("FILE.nc");
  create->add_option("--deflate", cr->deflate, "compression level of the scale planes, 0 (none) to 9")
      ->check(CLI::Range(0, 9))
      ->capture_default_str();
  add_common_flags(*create, cr->quiet, cr->verbose);
  set_help_footer(
      *create,
      "  -o FILE.nc: a domain file (see kelvo domain convert --help). Each grid point takes the nearest\n"
      "  bathymetry node's value; a point of a layer is water where the sea is deeper than the layer's depth,\n"
      "  and there each coefficient is reach^-p. A reach is a constant R, one value per layer R1,R2,..., or\n"
      "  rossby:R30,MAX: R30 at 30 degrees latitude times sin(30)/|sin(lat)|, at most MAX (it grows toward\n"
      "  the equator as the Rossby radius). A grid whose east is 360 degrees from its west wraps round.",
      "  gmt grdlandmask -R-180/180/-90/90 -I1 -Df -N-4000/0 -Gbathy.nc\n"
      "  kelvo domain create --bathymetry bathy.nc --region -179.5 179.5 -89.5 89.5 --step 1 1 \\\n"
      "      --depths 0,100,500 --reach-x rossby:150,600 --reach-y rossby:150,600 --reach-t 10 \\\n"
      "      --exponents 2,2,1 --param temp -o Globe1.nc");
  create->callback([cr, &context] { run_create(*cr, context); });
}

}  // namespace kelvo::cli
