#include "io/domain_file.hpp"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "core/error.hpp"
#include "io/domain_chunks.hpp"
#include "io/netcdf.hpp"

namespace kelvo::io {

namespace {

constexpr const char* components[3] = {"x", "y", "t"};
constexpr const char* direction_words[3] = {"east-west distance", "north-south distance", "time"};
constexpr const char* distance_units[3] = {"km", "km", "days"};

std::string scale_variable(std::string_view param, int c) { return std::string(param) + "_scale_" + components[c]; }
std::string power_variable(std::string_view param, int c) { return std::string(param) + "_power_" + components[c]; }

// ---------------------------------------------------------------- reading

[[noreturn]] void unreadable(ErrorCode code, const std::string& path, const std::string& what) {
  Error e(code, "read_domain_file", path + ": " + what);
  e.file = path;
  throw e;
}

// A domain file being read: the dimensions and axes of its variables.
struct Reader : NcInput {
  explicit Reader(const std::string& p) : NcInput(p, "read_domain_file", p) {}

  std::size_t dimension(const char* name) const {
    int dim = -1;
    std::size_t length = 0;
    if (nc_inq_dimid(id(), name, &dim) != NC_NOERR) fail(ErrorCode::bad_grid, std::string("no dimension ") + name);
    check(nc_inq_dimlen(id(), dim, &length), std::string("dimension ") + name);
    return length;
  }
  std::vector<std::string> dimensions_of(int var) const {
    int ndims = 0;
    check(nc_inq_varndims(id(), var, &ndims), "nc_inq_varndims");
    std::vector<int> ids(static_cast<std::size_t>(ndims));
    check(nc_inq_vardimid(id(), var, ids.data()), "nc_inq_vardimid");
    std::vector<std::string> names;
    for (int d : ids) {
      char name[NC_MAX_NAME + 1] = {};
      check(nc_inq_dimname(id(), d, name), "nc_inq_dimname");
      names.emplace_back(name);
    }
    return names;
  }
  // A one-dimensional variable on `dim` as floats (or ints); empty when absent.
  template <typename T>
  std::vector<T> axis(const std::string& name, const char* dim, std::size_t length) const {
    const int var = variable(name);
    if (var < 0) return {};
    if (dimensions_of(var) != std::vector<std::string>{dim}) {
      fail(ErrorCode::bad_grid, name + " is not a variable of the dimension " + dim + " alone");
    }
    std::vector<T> values(length);
    if constexpr (std::is_same_v<T, float>) {
      check(nc_get_var_float(id(), var, values.data()), "reading " + name);
    } else {
      check(nc_get_var_int(id(), var, values.data()), "reading " + name);
    }
    return values;
  }
};

std::string file_stem(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.ends_with(".nc")) name.resize(name.size() - 3);
  return name;
}

// A global number attribute as a float, or `fallback` when absent.
float attribute_or(const Reader& r, const char* name, float fallback) {
  const std::optional<double> v = r.number_attribute(NC_GLOBAL, name);
  return v ? static_cast<float>(*v) : fallback;
}

// The grid of the file: axes as stored, edges and steps from the global
// attributes (from the axes where the file has none), levels and depths.
Grid read_grid(const Reader& r) {
  Grid g;
  const std::size_t nlon = r.dimension("lon"), nlat = r.dimension("lat"), nz = r.dimension("layer");
  if (nlon == 0 || nlat == 0 || nz == 0 || nlon > 1u << 30 || nlat > 1u << 30 || nz > max_layers) {
    r.fail(ErrorCode::bad_grid, "dimensions lon, lat and layer of " + std::to_string(nlon) + ", " +
                                               std::to_string(nlat) + " and " + std::to_string(nz) +
                                               " points are not a grid's");
  }
  g.nlon = static_cast<std::int32_t>(nlon);
  g.nlat = static_cast<std::int32_t>(nlat);
  g.nz = static_cast<std::int32_t>(nz);
  g.lon = r.axis<float>("lon", "lon", nlon);
  g.lat = r.axis<float>("lat", "lat", nlat);
  if (g.lon.empty() || g.lat.empty()) r.fail(ErrorCode::bad_grid, "no variable lon(lon) or lat(lat)");
  g.levnum = r.axis<std::int32_t>("levnum", "layer", nz);
  if (g.levnum.empty()) {
    for (std::int32_t k = 1; k <= g.nz; ++k) g.levnum.push_back(k);
  }
  g.depth = r.axis<float>("depth", "layer", nz);
  const int depth = r.variable("depth");
  if (const std::optional<double> fill = depth >= 0 ? r.number_attribute(depth, "_FillValue") : std::nullopt) {
    for (float& d : g.depth) {
      if (d == static_cast<float>(*fill)) d = std::nanf("");
    }
  }
  const auto step_of = [](const std::vector<float>& axis) { return axis.size() > 1 ? axis[1] - axis[0] : 0.0f; };
  g.west = attribute_or(r, "west", g.lon.front());
  g.east = attribute_or(r, "east", g.lon.back());
  g.south = attribute_or(r, "south", g.lat.front());
  g.north = attribute_or(r, "north", g.lat.back());
  g.dlon = attribute_or(r, "dlon", step_of(g.lon));
  g.dlat = attribute_or(r, "dlat", step_of(g.lat));
  const std::optional<double> periodic = r.number_attribute(NC_GLOBAL, "longitude_periodic");
  g.periodic = periodic ? *periodic != 0.0 : spans_full_circle(g.nlon, g.dlon);
  return g;
}

// The parameters: every P with P_scale_x, P_scale_y, P_scale_t on (layer,
// lat, lon) and P_power_x, P_power_y, P_power_t on (layer).
std::vector<std::string> read_parameters(const Reader& r) {
  int nvars = 0;
  r.check(nc_inq_nvars(r.id(), &nvars), "nc_inq_nvars");
  std::vector<std::string> params;
  for (int v = 0; v < nvars; ++v) {
    char name[NC_MAX_NAME + 1] = {};
    r.check(nc_inq_varname(r.id(), v, name), "nc_inq_varname");
    const std::string_view n(name);
    if (!n.ends_with("_scale_x")) continue;
    const std::string param(n.substr(0, n.size() - 8));
    for (int c = 0; c < 3; ++c) {
      const int scale = r.variable(scale_variable(param, c));
      if (scale < 0 || r.dimensions_of(scale) != std::vector<std::string>{"layer", "lat", "lon"}) {
        r.fail(ErrorCode::bad_request, scale_variable(param, c) + " is missing or not on (layer, lat, lon)");
      }
      const int power = r.variable(power_variable(param, c));
      if (power < 0 || r.dimensions_of(power) != std::vector<std::string>{"layer"}) {
        r.fail(ErrorCode::bad_request, power_variable(param, c) + " is missing or not on (layer)");
      }
    }
    params.push_back(param);
  }
  return params;
}

// Reads layer `k` of scale variable `var` into `plane`, its fill value
// turned into no_value.
void read_plane(const Reader& r, int var, const std::string& name, std::int32_t k, const Grid& g,
                std::span<float> plane) {
  const std::size_t start[3] = {static_cast<std::size_t>(k - 1), 0, 0};
  const std::size_t count[3] = {1, static_cast<std::size_t>(g.nlat), static_cast<std::size_t>(g.nlon)};
  r.check(nc_get_vara_float(r.id(), var, start, count, plane.data()), "reading layer " + std::to_string(k) + " of " + name);
  const float f = static_cast<float>(r.number_attribute(var, "_FillValue").value_or(NC_FILL_FLOAT));
  for (float& v : plane) {
    if (v == f) v = no_value;
  }
}

// ---------------------------------------------------------------- writing

void define_grid(const NcFile& f, const Grid& g, int lon_dim, int lat_dim, int layer_dim) {
  define_horizontal_axes(f, lon_dim, lat_dim);
  define_layer_axes(f, layer_dim);
  const int depth = def_var(f, "depth", NC_FLOAT, {layer_dim});
  describe(f, depth, "depth of the layer", "m");
  text_att(f, depth, "standard_name", "depth");
  text_att(f, depth, "positive", "down");
  const float fill = NC_FILL_FLOAT;
  check(f, nc_put_att_float(f.ncid, depth, "_FillValue", NC_FLOAT, 1, &fill), "nc_put_att_float");
  const auto number = [&](const char* name, float v) {
    check(f, nc_put_att_float(f.ncid, NC_GLOBAL, name, NC_FLOAT, 1, &v), "nc_put_att_float");
  };
  number("west", g.west);
  number("east", g.east);
  number("south", g.south);
  number("north", g.north);
  number("dlon", g.dlon);
  number("dlat", g.dlat);
  const int periodic = g.periodic ? 1 : 0;
  check(f, nc_put_att_int(f.ncid, NC_GLOBAL, "longitude_periodic", NC_INT, 1, &periodic), "nc_put_att_int");
}

void define_parameter(const NcFile& f, const std::string& param, int lon_dim, int lat_dim, int layer_dim,
                      const Grid& g, int deflate_level) {
  const float fill = NC_FILL_FLOAT;
  for (int c = 0; c < 3; ++c) {
    const std::string name = scale_variable(param, c);
    const int var = def_var(f, name.c_str(), NC_FLOAT, {layer_dim, lat_dim, lon_dim});
    const std::size_t chunk[3] = {1, static_cast<std::size_t>(g.nlat), static_cast<std::size_t>(g.nlon)};
    if (!f.in_memory) {
      check(f, nc_def_var_chunking(f.ncid, var, NC_CHUNKED, chunk), "nc_def_var_chunking");
      if (deflate_level > 0) check(f, nc_def_var_deflate(f.ncid, var, 1, 1, deflate_level), "nc_def_var_deflate");
    }
    check(f, nc_put_att_float(f.ncid, var, "_FillValue", NC_FLOAT, 1, &fill), "nc_put_att_float");
    describe(f, var, "decorrelation scale coefficient of " + param + " in " + direction_words[c]);
    text_att(f, var, "comment",
             std::string("an observation at distance d (") + distance_units[c] + ") weighs exp(-(d^p * S)), S this "
             "coefficient and p the layer's " + power_variable(param, c) + "; its reach S^(-1/p) is where the "
             "weight falls to 1/e; no value (land) where it is _FillValue");
    text_att(f, var, "coordinates", "levnum depth");
    const std::string power = power_variable(param, c);
    const int p = def_var(f, power.c_str(), NC_FLOAT, {layer_dim});
    describe(f, p, "exponent of the " + param + " scale in " + direction_words[c], "1");
  }
}

// The depths as written: unknown ones as the fill value.
std::vector<float> depths_of(const Grid& g) {
  std::vector<float> d = g.depth;
  d.resize(static_cast<std::size_t>(g.nz), std::nanf(""));
  for (float& v : d) {
    if (std::isnan(v)) v = NC_FILL_FLOAT;
  }
  return d;
}

void put_layer(const NcFile& f, const std::string& name, std::int32_t k, const Grid& g, std::span<float> plane) {
  int var = -1;
  check(f, nc_inq_varid(f.ncid, name.c_str(), &var), "nc_inq_varid");
  for (float& v : plane) {
    if (is_no_value(v)) v = NC_FILL_FLOAT;
  }
  const std::size_t start[3] = {static_cast<std::size_t>(k - 1), 0, 0};
  const std::size_t count[3] = {1, static_cast<std::size_t>(g.nlat), static_cast<std::size_t>(g.nlon)};
  check(f, nc_put_vara_float(f.ncid, var, start, count, plane.data()), "nc_put_vara " + name);
}

void fill_parameters(const NcFile& f, const DomainFileContents& c) {
  const Grid& g = c.grid;
  const std::size_t plane = static_cast<std::size_t>(g.plane_size());
  std::vector<float> values(3 * plane);
  for (std::size_t p = 0; p < c.parameters.size(); ++p) {
    std::vector<float> px, py, pt;
    for (const Exponents& e : c.exponents[p]) {
      px.push_back(e.px);
      py.push_back(e.py);
      pt.push_back(e.pt);
    }
    const std::size_t nz = static_cast<std::size_t>(g.nz);
    put(f, power_variable(c.parameters[p], 0).c_str(), px, {nz});
    put(f, power_variable(c.parameters[p], 1).c_str(), py, {nz});
    put(f, power_variable(c.parameters[p], 2).c_str(), pt, {nz});
    for (std::int32_t k = 1; k <= g.nz; ++k) {
      std::fill(values.begin(), values.end(), no_value);
      const std::span<float> all(values);
      c.planes(p, k, LayerPlanes{all.subspan(0, plane), all.subspan(plane, plane), all.subspan(2 * plane, plane)});
      for (int comp = 0; comp < 3; ++comp) {
        put_layer(f, scale_variable(c.parameters[p], comp), k, g, all.subspan(comp * plane, plane));
      }
    }
  }
}

void check_contents(const std::string& path, const DomainFileContents& c) {
  const auto misfit = [&](const std::string& what) {
    Error e(ErrorCode::bad_request, "write_domain_file", path + ": " + what);
    e.file = path;
    throw e;
  };
  const Grid& g = c.grid;
  if (!valid_grid_sizes(g.nlon, g.nlat, g.nz) || g.lon.size() != static_cast<std::size_t>(g.nlon) ||
      g.lat.size() != static_cast<std::size_t>(g.nlat) || g.levnum.size() != static_cast<std::size_t>(g.nz)) {
    misfit("the grid's axes do not fit its sizes");
  }
  if (c.parameters.empty() || c.exponents.size() != c.parameters.size()) misfit("no parameter, or exponents missing");
  for (const auto& e : c.exponents) {
    if (e.size() != static_cast<std::size_t>(g.nz)) misfit("not one set of exponents per layer");
  }
}

}  // namespace

bool names_domain_file(std::string_view path) {
  return path.ends_with(".nc") || path.find('/') != std::string_view::npos;
}

DomainFileHeader read_domain_header(const std::string& path) {
  const Reader r(path);
  DomainFileHeader h;
  h.path = path;
  h.grid = read_grid(r);
  h.parameters = read_parameters(r);
  if (h.parameters.empty()) {
    unreadable(ErrorCode::bad_request, path, "no parameter (no variable <P>_scale_x): not a domain file");
  }
  h.name = r.text_attribute(NC_GLOBAL, "domain");
  if (h.name.empty()) h.name = file_stem(path);
  h.title = r.text_attribute(NC_GLOBAL, "title");
  h.history = r.text_attribute(NC_GLOBAL, "history");
  return h;
}

Domain read_domain_file(const DomainFileHeader& header, std::string_view param, std::int32_t first,
                        std::int32_t last, int threads) {
  // A map or series may read this on a thread of its own while it writes its file.
  const std::lock_guard<std::mutex> hold(library_lock());
  quiet_hdf5_errors();
  const Grid& g = header.grid;
  check_layer_range(g, first, last);
  if (std::find(header.parameters.begin(), header.parameters.end(), param) == header.parameters.end()) {
    unreadable(ErrorCode::bad_request, header.path, "no parameter " + std::string(param));
  }
  ScaleFields s;
  s.first_layer = first;
  s.layers = layer_count(first, last);
  s.plane_size = g.plane_size();
  allocate(s.values, element_count({s.plane_size, 3, s.layers}), 0.0f, "read_domain_file", "scales");
  const std::string names[3] = {scale_variable(param, 0), scale_variable(param, 1), scale_variable(param, 2)};
  float fills[3];
  {
    const Reader r(header.path);
    std::vector<float> p[3];
    for (int c = 0; c < 3; ++c) {
      fills[c] = static_cast<float>(r.number_attribute(r.variable(names[c]), "_FillValue").value_or(NC_FILL_FLOAT));
      p[c] = r.axis<float>(power_variable(param, c), "layer", static_cast<std::size_t>(g.nz));
    }
    for (std::size_t k = 0; k < static_cast<std::size_t>(g.nz); ++k) s.exponents.push_back({p[0][k], p[1][k], p[2][k]});
  }
  ChunkRequest request{header.path, names, first, last, g.nlat, g.nlon, g.nz, fills[0], no_value, s.values, threads};
  const bool one_fill = fills[0] == fills[1] && fills[1] == fills[2];
  if (s.layers == 0 || !one_fill || !read_layer_chunks(request)) {
    const Reader r(header.path);
    for (int c = 0; c < 3; ++c) {
      const int var = r.variable(names[c]);
      // Each chunk is read once, whole: no cache.
      r.check(nc_set_var_chunk_cache(r.id(), var, 0, 0, 0.0f), "nc_set_var_chunk_cache");
      for (std::int32_t k = first; k <= last; ++k) read_plane(r, var, names[c], k, g, s.plane(k, c));
    }
  }
  return Domain::build(header.name, std::string(param), g, std::move(s));
}

DomainFileContents tree_contents(const std::string& scale_dir, const std::string& name, Grid grid, int threads,
                                 std::vector<std::string>* without) {
  DomainFileContents c;
  c.name = name;
  c.grid = std::move(grid);
  c.parameters = parameters_of(scale_dir, name);
  for (const std::string& p : c.parameters) {
    c.exponents.push_back(read_domain_tree(scale_dir, name, p, 1, 0, 1).all_exponents());
  }
  c.planes = [scale_dir, name, threads, without, params = c.parameters, g = c.grid](std::size_t p, std::int32_t k,
                                                                                    LayerPlanes planes) {
    for (int m = 0; m < 3; ++m) {
      std::error_code ec;
      if (!std::filesystem::exists(scale_file_path(scale_dir, name, params[p], g.level_number(k), m), ec)) {
        if (without != nullptr) without->push_back(params[p] + " " + std::to_string(k));
        return;
      }
    }
    copy_planes(read_domain_tree(scale_dir, name, params[p], k, k, threads).layer(k), planes);
  };
  c.source = "kelvo domain convert, from the domain tree " + domain_folder(scale_dir, name);
  return c;
}

void write_domain_file(const std::string& path, const DomainFileContents& c) {
  check_contents(path, c);
  write_netcdf_file(path, [&](const NcFile& f) { fill_domain_file(f, path, c); });
}

void fill_domain_file(const NcFile& f, const std::string& path, const DomainFileContents& c) {
  check_contents(path, c);
  const Grid& g = c.grid;
  {
    const int lon_dim = def_dim(f, "lon", static_cast<std::size_t>(g.nlon));
    const int lat_dim = def_dim(f, "lat", static_cast<std::size_t>(g.nlat));
    const int layer_dim = def_dim(f, "layer", static_cast<std::size_t>(g.nz));
    text_att(f, NC_GLOBAL, "Conventions", "CF-1.8");
    text_att(f, NC_GLOBAL, "title", c.title.empty() ? "Decorrelation scales of the domain " + c.name : c.title);
    text_att(f, NC_GLOBAL, "domain", c.name);
    std::string params;
    for (const std::string& p : c.parameters) params += (params.empty() ? "" : " ") + p;
    text_att(f, NC_GLOBAL, "parameters", params);
    if (!c.source.empty()) text_att(f, NC_GLOBAL, "source", c.source);
    if (!c.history.empty()) text_att(f, NC_GLOBAL, "history", c.history);
    if (!c.comment.empty()) text_att(f, NC_GLOBAL, "comment", c.comment);
    define_grid(f, g, lon_dim, lat_dim, layer_dim);
    for (const std::string& p : c.parameters) define_parameter(f, p, lon_dim, lat_dim, layer_dim, g, c.deflate_level);
    check(f, nc_enddef(f.ncid), "nc_enddef");
    std::vector<std::int32_t> layers;
    for (std::int32_t k = 1; k <= g.nz; ++k) layers.push_back(k);
    const std::size_t nz = static_cast<std::size_t>(g.nz);
    put(f, "lon", g.lon, {g.lon.size()});
    put(f, "lat", g.lat, {g.lat.size()});
    put(f, "layer", layers, {nz});
    put(f, "levnum", g.levnum, {nz});
    put(f, "depth", depths_of(g), {nz});
    fill_parameters(f, c);
  }
}

}  // namespace kelvo::io
