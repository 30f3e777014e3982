// The bindings of the Python module `kelvo` (imported as kelvo._kelvo; the
// package kelvo/__init__.py builds the xarray and pandas objects).
//
// Everything is decided by the C++ of the tools: domains are read by
// io::read_domain_file and io::read_domain_tree (with the checks and
// messages of kelvo's command line), observations by io::read_observations,
// the analyses by the core, and a result's variables and attributes come
// from the very function that fills the tool's file (io::fill_map_file,
// io::fill_domain_file), run on a NetCDF file in memory and read back here
// as raw arrays. Python decodes those as xarray does a file it opens.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <netcdf.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/assess.hpp"
#include "core/calendar.hpp"
#include "core/contributions.hpp"
#include "core/error.hpp"
#include "core/parallel.hpp"
#include "io/domain_file.hpp"
#include "io/domain_tree.hpp"
#include "io/inputs.hpp"
#include "io/map_file.hpp"
#include "io/metadata_list.hpp"
#include "io/netcdf.hpp"
#include "io/series_file.hpp"
#include "io/plan_file.hpp"
#include "kelvo/plan_command.hpp"
#include "core/series.hpp"
#include "kelvo/assessment.hpp"
#include "kelvo/dates.hpp"

namespace py = pybind11;
using namespace kelvo;

namespace {

// ------------------------------------------------------------ arrays

// A NumPy array that owns `values` (moved into a capsule): no copy.
template <typename T>
py::array owned_array(std::vector<T>&& values, std::vector<py::ssize_t> shape, py::dtype dtype) {
  auto* held = new std::vector<T>(std::move(values));
  py::capsule owner(held, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array(dtype, std::move(shape), {}, held->data(), owner);
}

template <typename T>
py::array owned_array(std::vector<T>&& values) {
  const auto n = static_cast<py::ssize_t>(values.size());
  return owned_array(std::move(values), {n}, py::dtype::of<T>());
}

// ------------------------------------------------------------ a file in memory, as raw arrays

// One variable or attribute as read from the file: its NetCDF type, its
// shape and its bytes.
struct RawValues {
  nc_type type = NC_NAT;
  std::vector<py::ssize_t> shape;
  std::vector<char> bytes;
};

struct RawVariable {
  std::string name;
  std::vector<std::string> dims;
  RawValues data;
  std::vector<std::pair<std::string, RawValues>> attributes;
};

struct RawFile {
  std::vector<std::pair<std::string, std::size_t>> dims;
  std::vector<RawVariable> variables;
  std::vector<std::pair<std::string, RawValues>> attributes;
};

void nc_ok(int status, const char* step) {
  if (status != NC_NOERR) {
    throw Error(ErrorCode::bad_request, "python", std::string("reading the file in memory: ") + step + ": " +
                                                      nc_strerror(status));
  }
}

std::size_t type_size(nc_type type) {
  std::size_t size = 0;
  nc_ok(nc_inq_type(NC_GLOBAL, type, nullptr, &size), "nc_inq_type");
  return size;
}

std::vector<std::pair<std::string, RawValues>> read_attributes(int ncid, int var) {
  int natts = 0;
  nc_ok(var == NC_GLOBAL ? nc_inq_natts(ncid, &natts) : nc_inq_varnatts(ncid, var, &natts), "nc_inq_natts");
  std::vector<std::pair<std::string, RawValues>> out;
  for (int a = 0; a < natts; ++a) {
    char name[NC_MAX_NAME + 1] = {};
    nc_ok(nc_inq_attname(ncid, var, a, name), "nc_inq_attname");
    RawValues v;
    std::size_t length = 0;
    nc_ok(nc_inq_att(ncid, var, name, &v.type, &length), "nc_inq_att");
    v.shape = {static_cast<py::ssize_t>(length)};
    v.bytes.resize(length * type_size(v.type));
    if (length > 0) nc_ok(nc_get_att(ncid, var, name, v.bytes.data()), "nc_get_att");
    out.emplace_back(name, std::move(v));
  }
  return out;
}

// Every dimension, variable and attribute of the open file `ncid`.
RawFile read_raw_file(int ncid) {
  RawFile f;
  int ndims = 0, nvars = 0;
  nc_ok(nc_inq_ndims(ncid, &ndims), "nc_inq_ndims");
  std::vector<int> dim_ids(static_cast<std::size_t>(ndims));
  nc_ok(nc_inq_dimids(ncid, &ndims, dim_ids.data(), 0), "nc_inq_dimids");
  std::unordered_map<int, std::pair<std::string, std::size_t>> dims;
  for (int id : dim_ids) {
    char name[NC_MAX_NAME + 1] = {};
    std::size_t length = 0;
    nc_ok(nc_inq_dim(ncid, id, name, &length), "nc_inq_dim");
    dims[id] = {name, length};
    f.dims.emplace_back(name, length);
  }
  nc_ok(nc_inq_nvars(ncid, &nvars), "nc_inq_nvars");
  for (int v = 0; v < nvars; ++v) {
    RawVariable var;
    char name[NC_MAX_NAME + 1] = {};
    int nd = 0;
    nc_ok(nc_inq_var(ncid, v, name, &var.data.type, &nd, nullptr, nullptr), "nc_inq_var");
    std::vector<int> ids(static_cast<std::size_t>(nd));
    nc_ok(nc_inq_vardimid(ncid, v, ids.data()), "nc_inq_vardimid");
    var.name = name;
    std::size_t count = 1;
    for (int id : ids) {
      var.dims.push_back(dims.at(id).first);
      var.data.shape.push_back(static_cast<py::ssize_t>(dims.at(id).second));
      count *= dims.at(id).second;
    }
    var.data.bytes.resize(count * type_size(var.data.type));
    if (count > 0) nc_ok(nc_get_var(ncid, v, var.data.bytes.data()), "nc_get_var");
    var.attributes = read_attributes(ncid, v);
    f.variables.push_back(std::move(var));
  }
  f.attributes = read_attributes(ncid, NC_GLOBAL);
  return f;
}

py::dtype dtype_of(nc_type type) {
  switch (type) {
    case NC_BYTE: return py::dtype("int8");
    case NC_UBYTE: return py::dtype("uint8");
    case NC_CHAR: return py::dtype("S1");
    case NC_SHORT: return py::dtype("int16");
    case NC_USHORT: return py::dtype("uint16");
    case NC_INT: return py::dtype("int32");
    case NC_UINT: return py::dtype("uint32");
    case NC_INT64: return py::dtype("int64");
    case NC_UINT64: return py::dtype("uint64");
    case NC_FLOAT: return py::dtype("float32");
    case NC_DOUBLE: return py::dtype("float64");
    default: throw Error(ErrorCode::bad_request, "python", "a NetCDF type the module does not convert");
  }
}

// An attribute as the netCDF4 package gives it: text as str, one number as
// a NumPy scalar, several as an array.
py::object attribute_value(RawValues&& v) {
  if (v.type == NC_CHAR) return py::str(std::string(v.bytes.begin(), v.bytes.end()));
  const py::ssize_t n = v.shape[0];
  py::array a = owned_array(std::move(v.bytes), {n}, dtype_of(v.type));
  if (n == 1) return a[py::int_(0)];
  return a;
}

py::dict attributes_dict(std::vector<std::pair<std::string, RawValues>>&& attributes) {
  py::dict d;
  for (auto& [name, v] : attributes) d[py::str(name)] = attribute_value(std::move(v));
  return d;
}

// The raw file as Python objects: {"attrs": {...}, "variables": [(name,
// dims, array, attrs), ...]}, the arrays owning the bytes read.
py::dict raw_file_dict(RawFile&& f) {
  py::list variables;
  for (RawVariable& v : f.variables) {
    const py::dtype dtype = dtype_of(v.data.type);
    py::array data = owned_array(std::move(v.data.bytes), std::move(v.data.shape), dtype);
    variables.append(py::make_tuple(v.name, py::tuple(py::cast(v.dims)), data, attributes_dict(std::move(v.attributes))));
  }
  py::dict out;
  out["attrs"] = attributes_dict(std::move(f.attributes));
  out["variables"] = variables;
  return out;
}

// The NetCDF library (and HDF5 under it) is not thread-safe: Python threads
// run the engine side by side but take turns with the library.
std::mutex netcdf_mutex;

// Runs a file's body in memory (without the GIL) and returns its contents.
py::dict file_in_memory(const std::string& name, const std::function<void(const io::NcFile&)>& body) {
  RawFile raw;
  {
    py::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(netcdf_mutex);
    io::build_netcdf_in_memory(name, body, [&](int ncid) { raw = read_raw_file(ncid); });
  }
  return raw_file_dict(std::move(raw));
}

// ------------------------------------------------------------ domains

// The options of kelvo's command line that name a domain, for the checks
// and messages the command line gives.
cli::AssessmentArgs domain_args(const std::string& domain, const std::string& scale_dir, const std::string& param,
                                const std::string& layers) {
  cli::AssessmentArgs a;
  a.command = "python";
  a.domain = domain;
  a.scale_dir = scale_dir;
  a.param = param;
  a.layers = layers;
  return a;
}

// Runs a check of kelvo's command line on the domain's files; its failure
// (a file or folder missing, not a domain) is an error of files: an OSError.
template <typename Check>
auto checked_files(Check check) {
  try {
    return check();
  } catch (Error& e) {
    if (e.code == ErrorCode::bad_request) e.code = ErrorCode::cannot_open;
    throw;
  }
}

std::string folder_of(const std::string& scale_dir) {
  std::string dir = cli::absolute_path(scale_dir);
  if (!dir.ends_with("/")) dir += '/';
  return dir;
}

// A domain read for one parameter and a range of layers, with where it was
// read (for the attributes of the results).
struct LoadedDomain {
  Domain domain;
  std::string file;       // the domain file, absolute; empty for a tree
  std::string scale_dir;  // the tree's folder, absolute, ending in "/"
  std::int32_t first = 0, last = 0;
};

cli::LayerRange layers_in(const cli::AssessmentArgs& a, const Grid& grid, const std::string& name) {
  cli::LayerRange r = cli::parse_layers(a.layers);
  if (r.first == 0) return {1, grid.nz};
  if (r.last > grid.nz) cli::usage_error("--layers " + a.layers + ": " + name + " has layers 1 to " + std::to_string(grid.nz));
  return r;
}

std::shared_ptr<LoadedDomain> load_domain(const std::string& domain, const std::string& scale_dir,
                                          const std::string& param, const std::string& layers) {
  const cli::AssessmentArgs a = domain_args(domain, scale_dir, param, layers);
  if (param != "salt" && param != "temp") {
    cli::usage_error("--param \"" + param + "\": the parameter is salt (salinity) or temp (temperature)");
  }
  auto out = std::make_shared<LoadedDomain>();
  const int threads = threads_from_environment();
  py::gil_scoped_release release;
  if (io::names_domain_file(domain)) {
    const std::lock_guard<std::mutex> lock(netcdf_mutex);
    const io::DomainFileHeader header = checked_files([&] { return cli::domain_file_header(domain); });
    if (std::find(header.parameters.begin(), header.parameters.end(), param) == header.parameters.end()) {
      std::string names;
      for (const std::string& p : header.parameters) names += (names.empty() ? "" : ", ") + p;
      cli::fail("--param " + param + ": " + domain + " has no scales of " + param + " (its parameters: " + names + ")");
    }
    const cli::LayerRange r = layers_in(a, header.grid, domain);
    out->file = cli::absolute_path(domain);
    out->scale_dir = folder_of(scale_dir);
    out->first = r.first;
    out->last = r.last;
    out->domain = io::read_domain_file(header, param, r.first, r.last, threads);
  } else {
    cli::check_name_option("--domain", domain);
    textio::Console console;
    const cli::Context context{console, scale_dir, "", {}, threads, {}};
    out->scale_dir = folder_of(scale_dir);
    checked_files([&] { cli::check_tree(a, out->scale_dir, context); return 0; });
    const Grid grid = io::read_grid_config(io::grid_config_path(out->scale_dir, domain));
    const cli::LayerRange r = layers_in(a, grid, domain);
    out->first = r.first;
    out->last = r.last;
    out->domain = io::read_domain_tree(out->scale_dir, domain, param, r.first, r.last, threads, true);
  }
  return out;
}

// The whole domain (every parameter, every layer) as the domain file holds
// it, read one layer of one parameter at a time.
py::dict open_domain(const std::string& domain, const std::string& scale_dir) {
  const int threads = threads_from_environment();
  io::DomainFileContents c;
  std::function<Domain(const std::string&, std::int32_t)> read_layer;
  std::unique_ptr<io::DomainFileHeader> header;
  std::string folder;
  // The domain file is read as the file in memory is written: with the library to itself.
  py::gil_scoped_release release;
  const std::lock_guard<std::mutex> lock(netcdf_mutex);
  if (io::names_domain_file(domain)) {
    header = std::make_unique<io::DomainFileHeader>(checked_files([&] { return cli::domain_file_header(domain); }));
    c.name = header->name;
    c.grid = header->grid;
    c.parameters = header->parameters;
    c.title = header->title;
    c.history = header->history;
    c.source = "kelvo.open_domain, from the domain file " + cli::absolute_path(domain);
    read_layer = [&](const std::string& p, std::int32_t k) { return io::read_domain_file(*header, p, k, k, threads); };
  } else {
    cli::check_name_option("--domain", domain);
    folder = folder_of(scale_dir);
    const std::vector<std::string> params = io::parameters_of(folder, domain);
    textio::Console console;
    const cli::Context context{console, scale_dir, "", {}, threads, {}};
    checked_files([&] {
      cli::check_tree(domain_args(domain, scale_dir, params.empty() ? "salt" : params.front(), ""), folder, context);
      return 0;
    });
    c.name = domain;
    c.parameters = params;
    c.source = "kelvo.open_domain, from the domain tree " + io::domain_folder(folder, domain);
    read_layer = [&](const std::string& p, std::int32_t k) {
      return io::read_domain_tree(folder, domain, p, k, k, threads, true);
    };
  }
  c.deflate_level = 0;
  // The exponents of every layer come with the first layer's read.
  std::vector<Domain> first_layers;
  {
    for (const std::string& p : c.parameters) {
      first_layers.push_back(read_layer(p, 1));
      c.exponents.push_back(first_layers.back().all_exponents());
    }
  }
  // The grid as the reader gives it (a tree's wraps round when it spans 360 degrees, as in kelvo).
  if (!first_layers.empty()) c.grid = first_layers.front().grid();
  c.planes = [&](std::size_t p, std::int32_t k, LayerPlanes planes) {
    const Domain d = k == 1 ? Domain() : read_layer(c.parameters[p], k);
    const DomainLayer& layer = (k == 1 ? first_layers[p] : d).layer(k);
    std::copy(layer.sx.begin(), layer.sx.end(), planes.sx.begin());
    std::copy(layer.sy.begin(), layer.sy.end(), planes.sy.begin());
    std::copy(layer.st.begin(), layer.st.end(), planes.st.begin());
  };
  const std::string name = c.name + ".nc";
  RawFile raw;
  io::build_netcdf_in_memory(name, [&](const io::NcFile& f) { io::fill_domain_file(f, name, c); },
                             [&](int ncid) { raw = read_raw_file(ncid); });
  py::gil_scoped_acquire acquire;
  return raw_file_dict(std::move(raw));
}

// ------------------------------------------------------------ observations

constexpr std::int64_t nat = std::numeric_limits<std::int64_t>::min();  // NumPy's NaT
constexpr std::int64_t ns_per_minute = 60'000'000'000;

// The day number of the minute `m` from 1970 (proleptic Gregorian), as the
// readers compute it from a date and a time of day.
float day_number_of_minute(std::int64_t m) {
  const std::int64_t days = m >= 0 ? m / 1440 : -((-m + 1439) / 1440);
  const std::int64_t in_day = m - days * 1440;
  const CalendarDay d = civil_from_days(days, static_cast<int>(in_day / 60), static_cast<int>(in_day % 60));
  return day_number(d.month, d.day, d.year, d.hour, d.minute);
}

// The minute from 1970 whose day number is `day` (the nearest such minute
// to the day's own value), for a time the record holds only as a day number.
std::int64_t minute_of_day_number(float day) {
  const double estimate = (static_cast<double>(day) - 1.0 + static_cast<double>(days_from_civil(2001, 1, 1))) * 1440.0;
  const auto m0 = static_cast<std::int64_t>(std::llround(estimate));
  for (std::int64_t step = 0; step <= 8; ++step) {
    for (const std::int64_t m : {m0 - step, m0 + step}) {
      if (day_number_of_minute(m) == day) return m;
    }
  }
  return m0;
}

std::string parameter_names(Parameters p) {
  std::string s;
  if (p & temperature) s += "TEMP";
  if (p & salinity) s += s.empty() ? "PSAL" : " PSAL";
  return s;
}

Parameters parameters_of_names(const std::string& text) {
  Parameters p = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (word == "TEMP") {
      p |= temperature;
    } else if (word == "PSAL") {
      p |= salinity;
    } else if (!word.empty()) {
      cli::usage_error("parameters \"" + text + "\": names other than TEMP and PSAL");
    }
    at = end + 1;
  }
  return p;
}

// The records of a set as columns (the time columns in nanoseconds from
// 1970, NaT for an open end).
py::dict observation_columns(ObservationSet&& set) {
  const std::size_t n = set.size();
  std::vector<std::int32_t> kind(n), layer(n);
  std::vector<float> lat(n), lon(n);
  std::vector<std::int64_t> start(n), end(n), line(n);
  py::list platform, parameters, source;
  for (std::size_t i = 0; i < n; ++i) {
    const ObservationRecord& r = set.records[i];
    kind[i] = r.kind;
    layer[i] = r.layer;
    lat[i] = r.lat;
    lon[i] = r.lon;
    line[i] = r.line;
    const bool open_start = std::isinf(r.time.start) && r.time.start < 0;
    const std::int64_t m = open_start                                              ? nat
                           : r.start_minute != ObservationRecord::no_minute ? std::int64_t{r.start_minute}
                                                                             : minute_of_day_number(r.time.start);
    start[i] = m == nat ? nat : m * ns_per_minute;
    if (std::isinf(r.time.end) && r.time.end > 0) {
      end[i] = nat;
    } else if (r.time.end == r.time.start && m != nat) {
      end[i] = start[i];
    } else {
      end[i] = minute_of_day_number(r.time.end) * ns_per_minute;
    }
    platform.append(set.platforms[r.platform]);
    parameters.append(parameter_names(r.parameters));
    source.append(set.sources[r.source]);
  }
  py::dict d;
  d["platform"] = platform;
  d["kind"] = owned_array(std::move(kind));
  d["layer"] = owned_array(std::move(layer));
  d["latitude"] = owned_array(std::move(lat));
  d["longitude"] = owned_array(std::move(lon));
  d["time_start"] = owned_array(std::move(start));
  d["time_end"] = owned_array(std::move(end));
  d["parameters"] = parameters;
  d["source"] = source;
  d["line"] = owned_array(std::move(line));
  return d;
}

// The observation files read as kelvo reads its --obs files: the records
// of `param` ("salt", "temp"), or of every parameter when it is empty.
py::dict read_observations(const std::vector<std::string>& paths, const std::string& param, bool lenient) {
  const Parameters keep = param.empty() ? every_parameter : parameter_named(param);
  if (!param.empty() && keep == 0) {
    cli::usage_error("--param \"" + param + "\": the parameter is salt (salinity) or temp (temperature)");
  }
  std::vector<io::ListReport> reports;
  ObservationSet set;
  {
    py::gil_scoped_release release;
    set = io::read_observations(paths, keep, reports, threads_from_environment());
  }
  for (std::size_t n = 0; n < reports.size(); ++n) {
    const io::ListReport& r = reports[n];
    if (r.unreadable_line != 0 && !lenient) {
      cli::fail(paths[n] + ":" + std::to_string(r.unreadable_line) + ": " + r.unreadable_problem +
                (r.index ? " (lenient=True leaves out the index's unreadable lines)"
                         : " (lenient=True reads the list up to the line before, as kelvo_brino does)"));
    }
  }
  return observation_columns(std::move(set));
}

template <typename T>
py::array_t<T, py::array::c_style | py::array::forcecast> column(const py::dict& d, const char* name) {
  return py::array_t<T, py::array::c_style | py::array::forcecast>(d[name]);
}

// Columns (as observation_columns gives them) back into records, keeping
// those that measure `param`: the same records the readers give, their
// times computed from the date and minute as the readers compute them.
ObservationSet records_of(const py::dict& d, const std::string& param) {
  const Parameters keep = parameter_named(param);
  const auto kind = column<std::int32_t>(d, "kind");
  const auto lat = column<float>(d, "latitude");
  const auto lon = column<float>(d, "longitude");
  const auto start = column<std::int64_t>(d, "time_start");
  const auto end = column<std::int64_t>(d, "time_end");
  const auto line = column<std::int64_t>(d, "line");
  const bool has_layer = !d["layer"].is_none();
  // Without a layer column each record counts for its kind's layers, as the readers give them.
  const auto layer = column<std::int32_t>(d, has_layer ? "layer" : "kind");
  const auto platforms = d["platform"].cast<std::vector<std::string>>();
  const auto parameters = d["parameters"].cast<std::vector<std::string>>();
  const auto sources = d["source"].cast<std::vector<std::string>>();
  const std::size_t n = static_cast<std::size_t>(kind.size());
  const auto length = [](const auto& a) { return static_cast<std::size_t>(a.size()); };
  if (length(lat) != n || length(lon) != n || length(start) != n || length(end) != n || length(line) != n ||
      length(layer) != n || platforms.size() != n || parameters.size() != n || sources.size() != n) {
    cli::usage_error("observations: columns of different lengths");
  }
  ObservationSet set;
  std::unordered_map<std::string, std::uint32_t> platform_index{{"", 0}}, source_index;
  for (std::size_t i = 0; i < n; ++i) {
    const Parameters p = parameters_of_names(parameters[i]);
    if ((p & keep) == 0) continue;
    ObservationRecord r;
    r.kind = kind.at(i);
    r.layer = has_layer ? layer.at(i) : io::layer_of_kind(r.kind);
    r.lat = lat.at(i);
    r.lon = lon.at(i);
    r.line = line.at(i);
    r.parameters = p;
    const auto [pi, new_platform] = platform_index.try_emplace(platforms[i], static_cast<std::uint32_t>(set.platforms.size()));
    if (new_platform) set.platforms.push_back(platforms[i]);
    r.platform = pi->second;
    const auto [si, new_source] = source_index.try_emplace(sources[i], static_cast<std::uint32_t>(set.sources.size()));
    if (new_source) set.sources.push_back(sources[i]);
    r.source = si->second;
    const std::int64_t s = start.at(i), e = end.at(i);
    if (s == nat && e == nat) {
      r.time = TimeSpan::always();
    } else {
      if ((s != nat && s % ns_per_minute != 0) || (e != nat && e % ns_per_minute != 0)) {
        cli::usage_error("observations: line " + std::to_string(r.line) + ": times are kept to the minute");
      }
      const float day_start = s == nat ? TimeSpan::always().start : day_number_of_minute(s / ns_per_minute);
      const float day_end = e == nat ? TimeSpan::always().end : day_number_of_minute(e / ns_per_minute);
      if (day_end < day_start) cli::usage_error("observations: line " + std::to_string(r.line) + ": time_end is before time_start");
      r.time = TimeSpan{day_start, day_end};
      if (s != nat) r.start_minute = minute_of(s / 1'000'000'000);
    }
    set.records.push_back(r);
  }
  return set;
}

// ------------------------------------------------------------ analyses

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

// The global attributes of a result on `day` (a day or a period), as
// kelvo's attributes_of gives them: the files named by absolute paths.
io::FileAttributes attributes_of(const LoadedDomain& in, const ObservationSet& observations, const std::string& day,
                                 const std::vector<std::string>& history) {
  std::vector<std::string> absolute_sources;
  for (const std::string& source : observations.sources) absolute_sources.push_back(cli::absolute_path(source));
  io::FileAttributes a = io::file_attributes(in.domain.name(), in.domain.param(), in.first, in.last, day, in.scale_dir,
                                             joined(absolute_sources), history, std::time(nullptr));
  if (!in.file.empty()) {
    a.grid_configuration_file = in.file;
    a.scale_directory = in.file;
  }
  return a;
}

// The assessment of the domain's layers on `day`, keeping its decisions.
AssessRequest day_request(const LoadedDomain& in, const CalendarDay& day, bool by_kind, int threads) {
  AssessRequest request;
  request.first_layer = in.first;
  request.last_layer = in.last;
  request.slot = assessment_slot(day);
  request.keep_decisions = true;
  request.by_kind = by_kind;
  request.threads = threads;
  return request;
}

// The map of one day, as `kelvo map` fills its file.
py::dict assess_day(const LoadedDomain& in, const py::dict& columns, const std::string& day_text, bool by_kind,
                    const std::vector<std::string>& history) {
  const cli::OptionDate date = cli::parse_assessment_date("day", day_text);
  const CalendarDay day = cli::calendar_day(date);
  const std::string iso = cli::iso_day(day, date.has_time);
  const ObservationSet observations = records_of(columns, in.domain.param());
  const int threads = threads_from_environment();
  io::MapContents contents;
  {
    py::gil_scoped_release release;
    const Assessment a = assess(in.domain, observations, day_request(in, day, by_kind, threads));
    const KindContributions kinds = by_kind ? kind_contributions(in.domain, a, threads) : KindContributions{};
    contents = io::map_contents(in.domain, a, coverage_classes(in.domain, a), kinds);
  }
  contents.source = "kelvo map: effective coverage of an ocean observing network";
  contents.kind_names = true;
  contents.calendar = io::kelvo_calendar;
  contents.platforms = observations.platforms;
  for (const ObservationRecord& r : observations.records) contents.obs_platform.push_back(r.platform);
  contents.attributes = attributes_of(in, observations, iso, history);
  return file_in_memory("map.nc", [&](const io::NcFile& f) { io::fill_map_file(f, contents); });
}

// The series of every `step`-th day from `from` to `to`, as `kelvo series`
// fills its file.
py::dict assess_days(const LoadedDomain& in, const py::dict& columns, const std::string& from, const std::string& to,
                     int step, bool by_kind, const std::vector<std::string>& history) {
  const std::vector<CalendarDay> days = cli::series_days(from, to, step);
  const bool with_time = cli::parse_option_date("--from", from).has_time;
  const ObservationSet observations = records_of(columns, in.domain.param());
  SeriesRequest request;
  request.first_layer = in.first;
  request.last_layer = in.last;
  for (const CalendarDay& d : days) request.slots.push_back(assessment_slot(d));
  request.by_kind = by_kind;
  request.threads = threads_from_environment();
  SeriesResult r;
  {
    py::gil_scoped_release release;
    r = assess_series(in.domain, observations.records, request);
  }
  const std::string span = cli::iso_day(days.front(), with_time) + "/" + cli::iso_day(days.back(), with_time) +
                           " every " + std::to_string(step) + " days";
  const io::SeriesContents contents =
      io::series_contents(in.domain, r, request.slots, attributes_of(in, observations, span, history));
  return file_in_memory("series.nc", [&](const io::NcFile& f) { io::fill_series_file(f, contents); });
}

// The plan of `add` new platforms of `kind` on a day (or fixed ones over
// the period from..to), as `kelvo plan` fills its NetCDF file.
py::dict plan_network_of(const LoadedDomain& in, const py::dict& columns, int add, const std::string& kind,
                         const std::string& day, const std::string& from, const std::string& to,
                         const std::vector<float>& region, const std::string& sites,
                         const std::vector<std::string>& history) {
  const ObservationSet observations = records_of(columns, in.domain.param());
  cli::PlanArgs p;
  p.run = domain_args(in.file.empty() ? in.domain.name() : in.file, in.scale_dir, in.domain.param(),
                      std::to_string(in.first) + "-" + std::to_string(in.last));
  p.run.command = "plan";
  p.run.obs = observations.sources.empty() ? std::vector<std::string>{"observations"} : observations.sources;
  p.add = add;
  p.kind_text = kind;
  p.day = day;
  p.from = from;
  p.to = to;
  p.region = region;
  p.sites = sites;
  cli::check_request(p);
  const cli::When when = cli::when_of(p);
  const std::vector<Site> from_file = checked_files([&] { return cli::sites_of(p); });
  textio::Console console;
  cli::Context context{console, in.scale_dir, "", {}, threads_from_environment(), {}};
  cli::PlanMade made;
  {
    py::gil_scoped_release release;
    cli::make_plan(p, when, in.domain, observations, in.first, in.last, from_file, context, made);
  }
  made.contents.attributes = attributes_of(in, observations, when.iso, history);
  return file_in_memory("plan.nc", [&](const io::NcFile& f) { io::fill_plan_file(f, made.contents); });
}

// The engine alone on prepared inputs, `repeat` times from C++: each
// assessment and the map's contents (io::map_contents), timed one by one
// (seconds). The benchmark sets these beside as many assess calls from Python.
std::vector<double> engine_seconds(const LoadedDomain& in, const py::dict& columns, const std::string& day_text,
                                   int repeat) {
  const CalendarDay day = cli::calendar_day(cli::parse_assessment_date("day", day_text));
  const ObservationSet observations = records_of(columns, in.domain.param());
  py::gil_scoped_release release;
  const AssessRequest request = day_request(in, day, false, threads_from_environment());
  std::vector<double> seconds;
  for (int n = 0; n < repeat; ++n) {
    const auto t0 = std::chrono::steady_clock::now();
    const Assessment a = assess(in.domain, observations, request);
    const io::MapContents m = io::map_contents(in.domain, a, coverage_classes(in.domain, a), KindContributions{});
    const auto t1 = std::chrono::steady_clock::now();
    if (m.layer.size() != a.layers.size()) throw Error(ErrorCode::bad_request, "python", "a map without its layers");
    seconds.push_back(std::chrono::duration<double>(t1 - t0).count());
  }
  return seconds;
}

}  // namespace

PYBIND11_MODULE(_kelvo, m) {
  m.doc() = "C++ core of the kelvo Python module; use the functions of the package kelvo.";

  // kelvo's errors: a file that cannot be opened or written is an OSError,
  // anything else (options, inputs that do not fit) a ValueError; the
  // message is kelvo's own.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Error& e) {
      const bool file = e.code == ErrorCode::cannot_open || e.code == ErrorCode::cannot_write;
      PyErr_SetString(file ? PyExc_OSError : PyExc_ValueError, e.message.c_str());
    }
  });

  py::class_<LoadedDomain, std::shared_ptr<LoadedDomain>>(m, "Domain",
                                                          "A domain read for one parameter and a range of layers.")
      .def_property_readonly("name", [](const LoadedDomain& d) { return d.domain.name(); })
      .def_property_readonly("param", [](const LoadedDomain& d) { return d.domain.param(); })
      .def_property_readonly("first_layer", [](const LoadedDomain& d) { return d.first; })
      .def_property_readonly("last_layer", [](const LoadedDomain& d) { return d.last; })
      .def_property_readonly("nwater", [](const LoadedDomain& d) {
        std::vector<std::int32_t> n;
        for (std::int32_t k = d.first; k <= d.last; ++k) n.push_back(d.domain.nwater(k));
        return n;
      });

  m.def("load_domain", &load_domain, py::arg("domain"), py::arg("scale_dir"), py::arg("param"), py::arg("layers"),
        "The Domain of a domain file or tree for a parameter and kelvo's --layers text (kelvo.load_domain).");
  m.def("open_domain", &open_domain, py::arg("domain"), py::arg("scale_dir"),
        "The raw variables and attributes of the domain file of a file or tree (kelvo.open_domain decodes them).");
  m.def("read_observations", &read_observations, py::arg("paths"), py::arg("param"), py::arg("lenient"),
        "The records of observation files as columns (kelvo.read_observations makes the DataFrame).");
  m.def("assess", &assess_day, py::arg("domain"), py::arg("columns"), py::arg("day"), py::arg("by_kind"),
        py::arg("history"), "The raw variables and attributes of the map of one day (kelvo.assess).");
  m.def("series", &assess_days, py::arg("domain"), py::arg("columns"), py::arg("start"), py::arg("end"),
        py::arg("step"), py::arg("by_kind"), py::arg("history"),
        "The raw variables and attributes of the series of a period (kelvo.series).");
  m.def("plan", &plan_network_of, py::arg("domain"), py::arg("columns"), py::arg("add"), py::arg("kind"),
        py::arg("day"), py::arg("start"), py::arg("end"), py::arg("region"), py::arg("sites"), py::arg("history"),
        "The raw variables and attributes of the plan of new platforms (kelvo.plan).");
  m.def("engine_seconds", &engine_seconds, py::arg("domain"), py::arg("columns"), py::arg("day"), py::arg("repeat"),
        "The seconds of each of `repeat` assessments made in a C++ loop (bench/python_bench.py).");
  m.def("default_scale_dir", [] { return std::string(KELVO_SCALE_DIR); },
        "kelvo's built-in scale directory, the default of --scale-dir.");
  m.def("threads", &threads_from_environment, "The thread count of KELVO_THREADS (as kelvo reads it).");
}
