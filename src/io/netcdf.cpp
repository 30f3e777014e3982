#include "io/netcdf.hpp"

#include <algorithm>

#include <cerrno>
#include <cstring>

#include "core/error.hpp"
#include "core/kinds.hpp"
#include "io/domain_tree.hpp"
#include "textio/atomic_file.hpp"

namespace kelvo::io {

namespace {

[[noreturn]] void write_failure(const std::string& path, const std::string& reason) {
  Error e(ErrorCode::cannot_write, "write_netcdf", "cannot write " + path + ": " + reason);
  e.file = path;
  e.reason = reason;
  throw e;
}

std::string utc_time(std::time_t now) {
  std::tm tm{};
  if (gmtime_r(&now, &tm) == nullptr) return "unknown time";
  char buf[32];
  if (std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) return "unknown time";
  return buf;
}

std::string command_line(std::span<const std::string> args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line += ' ';
    line += a;
  }
  return line;
}

}  // namespace

FileAttributes file_attributes(std::string_view domain, std::string_view param, std::int32_t first,
                               std::int32_t last, std::string_view day, std::string_view scale_dir,
                               std::string_view list, std::span<const std::string> args, std::time_t now) {
  FileAttributes a;
  a.domain = domain;
  a.parameter = param;
  a.title = "Effective coverage of the observing network, " + a.domain + " " + a.parameter + ", layers " +
            std::to_string(first) + " to " + std::to_string(last);
  a.assessment_day = day;
  a.grid_configuration_file = grid_config_path(scale_dir, domain);
  a.scale_directory = domain_folder(scale_dir, domain);
  a.metadata_file = list;
  a.history = utc_time(now) + ": " + command_line(args);
  return a;
}

void check(const NcFile& f, int status, std::string_view step) {
  if (status == NC_NOERR) return;
  // The library names a failed write of its own "HDF error"; the system's
  // reason, when it is one of a write's, says what happened.
  const int system_error = errno;
  std::string reason = std::string(step) + ": " + nc_strerror(status);
  if (system_error == ENOSPC || system_error == EDQUOT || system_error == EIO || system_error == EFBIG ||
      system_error == EROFS) {
    reason += std::string(" (") + std::strerror(system_error) + ")";
  }
  write_failure(f.path, reason);
}

int def_dim(const NcFile& f, const char* name, std::size_t length) {
  int id = -1;
  check(f, nc_def_dim(f.ncid, name, length, &id), "nc_def_dim");
  return id;
}

int def_var(const NcFile& f, const char* name, nc_type type, std::initializer_list<int> dims) {
  int id = -1;
  const std::vector<int> ids(dims);
  check(f, nc_def_var(f.ncid, name, type, static_cast<int>(ids.size()), ids.data(), &id), "nc_def_var");
  return id;
}

void text_att(const NcFile& f, int var, const char* name, std::string_view value) {
  check(f, nc_put_att_text(f.ncid, var, name, value.size(), value.data()), "nc_put_att_text");
}

void byte_att(const NcFile& f, int var, const char* name, std::initializer_list<signed char> values) {
  const std::vector<signed char> v(values);
  check(f, nc_put_att_schar(f.ncid, var, name, NC_BYTE, v.size(), v.data()), "nc_put_att_schar");
}

void define_day(const NcFile& f, std::string_view calendar) {
  const int time = def_var(f, "time", NC_FLOAT, {});
  describe(f, time, "assessment day", "days since 2001-01-01 00:00:00");
  text_att(f, time, "standard_name", "time");
  text_att(f, time, "calendar", calendar);
  text_att(f, time, "axis", "T");
}

int define_strings(const NcFile& f, const char* name, int dim, std::size_t width) {
  const int chars = def_dim(f, (std::string(name) + "_strlen").c_str(), std::max<std::size_t>(width, 1));
  const int var = def_var(f, name, NC_CHAR, {dim, chars});
  text_att(f, var, "_Encoding", "utf-8");
  return var;
}

std::size_t widest(const std::vector<std::string>& values) {
  std::size_t width = 0;
  for (const std::string& v : values) width = std::max(width, v.size());
  return width;
}

void define_observation_platforms(const NcFile& f, int obs_dim, std::size_t width) {
  const int var = define_strings(f, "obs_platform", obs_dim, width);
  describe(f, var, "platform id of the observation (empty when its file names none)");
  text_att(f, var, "cf_role", "trajectory_id");
}

void put_strings(const NcFile& f, const char* name, std::size_t count,
                 const std::function<std::string_view(std::size_t)>& value) {
  int var = -1, dims[2] = {-1, -1};
  check(f, nc_inq_varid(f.ncid, name, &var), "nc_inq_varid");
  check(f, nc_inq_vardimid(f.ncid, var, dims), "nc_inq_vardimid");
  std::size_t width = 0;
  check(f, nc_inq_dimlen(f.ncid, dims[1], &width), "nc_inq_dimlen");
  // Rows of `width` characters, padded with NUL, a block of them at a time.
  constexpr std::size_t rows = 65536;
  std::vector<char> text;
  for (std::size_t first = 0; first < count; first += rows) {
    const std::size_t n = std::min(rows, count - first);
    text.assign(n * width, '\0');
    for (std::size_t i = 0; i < n; ++i) {
      const std::string_view v = value(first + i);
      std::copy_n(v.data(), std::min(v.size(), width), text.data() + i * width);
    }
    const std::size_t start[2] = {first, 0}, size[2] = {n, width};
    check(f, nc_put_vara_text(f.ncid, var, start, size, text.data()), "nc_put_vara " + std::string(name));
  }
}

void put_strings(const NcFile& f, const char* name, const std::vector<std::string>& values) {
  put_strings(f, name, values.size(), [&](std::size_t i) { return std::string_view(values[i]); });
}

void put_day(const NcFile& f, float days) {
  int time = -1;
  check(f, nc_inq_varid(f.ncid, "time", &time), "nc_inq_varid");
  check(f, nc_put_var_float(f.ncid, time, &days), "nc_put_var time");
}

void kind_flags(const NcFile& f, int var) {
  std::vector<int> codes;
  for (std::int32_t k = first_kind; k <= last_kind; ++k) codes.push_back(k);
  check(f, nc_put_att_int(f.ncid, var, "flag_values", NC_INT, codes.size(), codes.data()), "nc_put_att_int");
  text_att(f, var, "flag_meanings", kind_flag_meanings());
}

void describe(const NcFile& f, int var, std::string_view long_name, std::string_view units) {
  text_att(f, var, "long_name", long_name);
  if (!units.empty()) text_att(f, var, "units", units);
}

void define_globals(const NcFile& f, const FileAttributes& a, std::string_view source, const char* day_attribute) {
  text_att(f, NC_GLOBAL, "Conventions", "CF-1.8");
  text_att(f, NC_GLOBAL, "title", a.title);
  text_att(f, NC_GLOBAL, "source", source);
  text_att(f, NC_GLOBAL, "domain", a.domain);
  text_att(f, NC_GLOBAL, "parameter", a.parameter);
  text_att(f, NC_GLOBAL, day_attribute, a.assessment_day);
  text_att(f, NC_GLOBAL, "grid_configuration_file", a.grid_configuration_file);
  text_att(f, NC_GLOBAL, "scale_directory", a.scale_directory);
  text_att(f, NC_GLOBAL, "metadata_file", a.metadata_file);
  text_att(f, NC_GLOBAL, "history", a.history);
  text_att(f, NC_GLOBAL, "comment",
           "A water point of a layer is covered when an eligible observation lies within its "
           "decorrelation reach in distance east-west, north-south and in time together.");
}

void define_horizontal_axes(const NcFile& f, int lon_dim, int lat_dim) {
  const int lon = def_var(f, "lon", NC_FLOAT, {lon_dim});
  describe(f, lon, "longitude", "degrees_east");
  text_att(f, lon, "standard_name", "longitude");
  text_att(f, lon, "axis", "X");
  const int lat = def_var(f, "lat", NC_FLOAT, {lat_dim});
  describe(f, lat, "latitude", "degrees_north");
  text_att(f, lat, "standard_name", "latitude");
  text_att(f, lat, "axis", "Y");
}

void define_observation_positions(const NcFile& f, int obs_dim) {
  const int lat = def_var(f, "obs_lat", NC_FLOAT, {obs_dim});
  describe(f, lat, "latitude of the observation", "degrees_north");
  text_att(f, lat, "standard_name", "latitude");
  const int lon = def_var(f, "obs_lon", NC_FLOAT, {obs_dim});
  describe(f, lon, "longitude of the observation", "degrees_east");
  text_att(f, lon, "standard_name", "longitude");
}

void define_layer_axes(const NcFile& f, int layer_dim) {
  describe(f, def_var(f, "layer", NC_INT, {layer_dim}), "layer index (1 is the uppermost layer)");
  describe(f, def_var(f, "levnum", NC_INT, {layer_dim}), "level number of the layer in the grid configuration");
}

std::mutex& library_lock() {
  static std::mutex lock;
  return lock;
}

void without_library(std::unique_lock<std::mutex>& hold, const std::function<void()>& work) {
  hold.unlock();
  try {
    work();
  } catch (...) {
    hold.lock();
    throw;
  }
  hold.lock();
}

void write_netcdf_file(const std::string& path, const std::function<void(const NcFile&)>& body,
                       const std::function<void()>& before_rename) {
  // The library reads a backslash in a path as a "/": the file it writes (in
  // a private directory beside the final name) must not be under a folder
  // whose name holds one. The final name itself is given by a rename.
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && path.find('\\') < slash) {
    write_failure(path, "the folder's name holds a \\, which the NetCDF library reads as a /");
  }
  // The library writes the file by its name, over the named temporary file
  // that AtomicFile created for us. An anonymous file cannot serve: the
  // library resolves its /proc/self/fd path as a symbolic link and fails on
  // the target, a file without a name; and a file the library builds in
  // memory has its variables in another order.
  textio::AtomicFile file;
  std::string reason;
  if (!file.create(path, reason, textio::AtomicFile::Naming::named)) write_failure(path, "create: " + reason);
  file.close_descriptor();
  NcFile f{-1, path};
  check(f, nc_create(file.temp_path().c_str(), NC_NETCDF4 | NC_CLOBBER, &f.ncid), "nc_create");
  try {
    body(f);
  } catch (...) {
    nc_close(f.ncid);  // the temporary file goes with `file`
    throw;
  }
  check(f, nc_close(f.ncid), "nc_close");
  if (before_rename) before_rename();
  if (!file.commit(reason)) write_failure(path, reason);
}

void build_netcdf_in_memory(const std::string& name, const std::function<void(const NcFile&)>& body,
                            const std::function<void(int ncid)>& visit) {
  // NC_DISKLESS without NC_PERSIST: the file lives in memory and is dropped
  // when closed. The 64-bit data format (CDF-5) is made in a fraction of the
  // time of an HDF5 file; a body it cannot take (more than one dimension of
  // length 0, which CDF-5 reads as unlimited) is run again on netCDF-4.
  const auto build = [&](int format) {
    NcFile f{-1, name, true};
    check(f, nc_create(name.c_str(), format | NC_DISKLESS | NC_CLOBBER, &f.ncid), "nc_create");
    try {
      body(f);
      visit(f.ncid);
    } catch (...) {
      nc_close(f.ncid);
      throw;
    }
    check(f, nc_close(f.ncid), "nc_close");
  };
  try {
    build(NC_64BIT_DATA);
  } catch (const Error&) {
    build(NC_NETCDF4);
  }
}

NcInput::NcInput(const std::string& path, std::string operation, std::string shown)
    : path_(path), operation_(std::move(operation)), shown_(std::move(shown)) {
  if (const int status = nc_open(path.c_str(), NC_NOWRITE, &ncid_); status != NC_NOERR) {
    ncid_ = -1;
    fail(ErrorCode::cannot_open, std::string("cannot open as NetCDF (") + nc_strerror(status) + ")");
  }
}

NcInput::~NcInput() {
  if (ncid_ >= 0) nc_close(ncid_);
}

void NcInput::fail(ErrorCode code, const std::string& what) const {
  Error e(code, operation_, shown_ + ": " + what);
  e.file = path_;
  throw e;
}

void NcInput::check(int status, const std::string& what) const {
  if (status != NC_NOERR) fail(ErrorCode::cannot_open, what + ": " + nc_strerror(status));
}

int NcInput::variable(const std::string& name) const {
  int var = -1;
  return nc_inq_varid(ncid_, name.c_str(), &var) == NC_NOERR ? var : -1;
}

std::string NcInput::text_attribute(int var, const char* name) const {
  std::size_t length = 0;
  nc_type type = NC_NAT;
  if (nc_inq_att(ncid_, var, name, &type, &length) != NC_NOERR || type != NC_CHAR) return {};
  std::string text(length, '\0');
  check(nc_get_att_text(ncid_, var, name, text.data()), std::string("attribute ") + name);
  return text;
}

std::optional<double> NcInput::number_attribute(int var, const char* name) const {
  std::size_t length = 0;
  nc_type type = NC_NAT;
  double value = 0.0;
  if (nc_inq_att(ncid_, var, name, &type, &length) != NC_NOERR || length != 1 || type == NC_CHAR) return std::nullopt;
  if (nc_get_att_double(ncid_, var, name, &value) != NC_NOERR) return std::nullopt;
  return value;
}

}  // namespace kelvo::io
