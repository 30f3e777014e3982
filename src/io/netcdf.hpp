// Writing CF-1.8 NetCDF files with the NetCDF C library: what the map,
// series and plan files share (their global attributes, the horizontal and
// layer axes, the observations' positions), helpers for dimensions,
// variables and attributes, and the atomic write of a whole file through a
// temporary name. Every failing library call is an Error (cannot_write,
// operation "write_netcdf") naming the file, with the call and the
// library's message as its reason.
#pragma once

#include <netcdf.h>

#include "core/error.hpp"

#include <cstdint>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kelvo::io {

// The global attributes every file of the tools carries.
struct FileAttributes {
  std::string title;
  std::string domain;
  std::string parameter;
  std::string assessment_day;           // ISO date (map, plan) or period (series)
  std::string grid_configuration_file;  // the grid configuration read
  std::string scale_directory;          // the folder of the scale and exponent files
  std::string metadata_file;            // the observation list read
  std::string history;                  // time of the run and its command line
};

// The attributes of an assessment of layers first..last of `domain` for
// `param` on `day` (or period), from the domain tree at `scale_dir` and the
// list `list`, made at `now` by the command line `args`.
FileAttributes file_attributes(std::string_view domain, std::string_view param, std::int32_t first,
                               std::int32_t last, std::string_view day, std::string_view scale_dir,
                               std::string_view list, std::span<const std::string> args, std::time_t now);

// An open file being written.
struct NcFile {
  int ncid = -1;
  std::string path;  // the final name, for messages
  // A file built in memory (build_netcdf_in_memory) and read back at once:
  // its variables are neither chunked nor compressed, which only a stored
  // file gains from (and the in-memory format may not have).
  bool in_memory = false;
};

// Throws the Error of a failed library call `step`.
void check(const NcFile& f, int status, std::string_view step);

// A dimension of length 0 is created unlimited (netCDF-4 allows several).
int def_dim(const NcFile& f, const char* name, std::size_t length);
int def_var(const NcFile& f, const char* name, nc_type type, std::initializer_list<int> dims);
void text_att(const NcFile& f, int var, const char* name, std::string_view value);
void byte_att(const NcFile& f, int var, const char* name, std::initializer_list<signed char> values);
void describe(const NcFile& f, int var, std::string_view long_name, std::string_view units = {});

// Whole variable `name`, whose extents are `counts`; nothing to write when
// any extent is 0.
// With `first`, the values go from that index of the first dimension on.
template <typename T>
void put(const NcFile& f, const char* name, const std::vector<T>& values, std::initializer_list<std::size_t> counts,
         std::size_t first = 0) {
  int var = -1;
  check(f, nc_inq_varid(f.ncid, name, &var), "nc_inq_varid");
  const std::vector<std::size_t> count(counts);
  std::size_t total = 1;
  for (std::size_t c : count) total *= c;
  if (total == 0) return;
  if (values.size() != total) check(f, NC_EEDGE, "put " + std::string(name));
  std::vector<std::size_t> start(count.size(), 0);
  if (!start.empty()) start[0] = first;
  int status = NC_NOERR;
  if constexpr (std::is_same_v<T, float>) {
    status = nc_put_vara_float(f.ncid, var, start.data(), count.data(), values.data());
  } else if constexpr (std::is_same_v<T, double>) {
    status = nc_put_vara_double(f.ncid, var, start.data(), count.data(), values.data());
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    status = nc_put_vara_int(f.ncid, var, start.data(), count.data(), values.data());
  } else if constexpr (std::is_same_v<T, std::int64_t>) {
    static_assert(sizeof(long long) == sizeof(std::int64_t));
    status = nc_put_vara_longlong(f.ncid, var, start.data(), count.data(),
                                  reinterpret_cast<const long long*>(values.data()));
  } else {
    static_assert(std::is_same_v<T, std::int8_t>);
    status = nc_put_vara_schar(f.ncid, var, start.data(), count.data(),
                               reinterpret_cast<const signed char*>(values.data()));
  }
  check(f, status, "nc_put_vara " + std::string(name));
}

// The global attributes: the conventions, title, `source`, domain,
// parameter, the day (or period) under the name `day_attribute`, the files
// read, the history and a comment on what coverage means.
void define_globals(const NcFile& f, const FileAttributes& a, std::string_view source, const char* day_attribute);

// lon(lon) and lat(lat) with their CF attributes; layer(layer) and levnum(layer).
void define_horizontal_axes(const NcFile& f, int lon_dim, int lat_dim);
void define_layer_axes(const NcFile& f, int layer_dim);
// time, a scalar: the assessment day in days since 2001-01-01 00:00, in
// `calendar` (kelvo's files: "proleptic_gregorian", the calendar of its
// days; kelvo_map's: "standard", as it always wrote).
inline constexpr std::string_view kelvo_calendar = "proleptic_gregorian";
void define_day(const NcFile& f, std::string_view calendar = kelvo_calendar);
void put_day(const NcFile& f, float days);
// The kind codes 1-7 as flag values of the integer variable `var`, with
// their names as flag meanings.
void kind_flags(const NcFile& f, int var);
// A text variable of one value per entry of `dim`: characters (NC_CHAR) on
// the dimensions (dim, NAME_strlen), `width` wide (at least 1), each value
// padded with NUL (xarray reads it as strings, by its _Encoding);
// put_strings writes `count` values, value(i) giving each.
int define_strings(const NcFile& f, const char* name, int dim, std::size_t width);
void put_strings(const NcFile& f, const char* name, std::size_t count,
                 const std::function<std::string_view(std::size_t)>& value);
void put_strings(const NcFile& f, const char* name, const std::vector<std::string>& values);
// The length of the longest of `values`.
std::size_t widest(const std::vector<std::string>& values);
// obs_platform(obs): each kept observation's platform id (empty for none).
void define_observation_platforms(const NcFile& f, int obs_dim, std::size_t width);
// obs_lat(obs) and obs_lon(obs), the positions of the kept observations.
void define_observation_positions(const NcFile& f, int obs_dim);

// The NetCDF library (and HDF5 under it) must not be called from two threads
// at once. A run that reads the next layer of a domain file on one thread
// while it writes the last layer's results on another holds this around
// every call of either.
std::mutex& library_lock();
// Runs `work` with `hold` (of library_lock) let go, and holds it again
// whether `work` returns or throws.
void without_library(std::unique_lock<std::mutex>& hold, const std::function<void()>& work);

// Writes the file at `path` through a temporary file in a private folder
// beside it: `body` defines and fills it (on an open file in define mode);
// the file is closed, `before_rename` runs (a file written with it is put in
// place first), and the file is flushed to disk and renamed over `path` only
// when every step succeeded; nothing is left of it otherwise. A folder whose
// name holds a backslash is refused (the library would write elsewhere).
void write_netcdf_file(const std::string& path, const std::function<void(const NcFile&)>& body,
                       const std::function<void()>& before_rename = {});

// The same file built in memory and never written (a diskless netCDF-4
// file named `name` in messages): `body` defines and fills it as for
// write_netcdf_file, then `visit` reads the open file (its ncid, in data
// mode) before it is closed. The Python module takes a file's variables and
// attributes from here, so that they come from the writer itself.
void build_netcdf_in_memory(const std::string& name, const std::function<void(const NcFile&)>& body,
                            const std::function<void(int ncid)>& visit);

// ---------------------------------------------------------------- reading

// A NetCDF file open for reading, closed when it goes. Its failures are
// Errors of `operation` whose message begins with `shown` (how the caller
// names the file, such as "--bathymetry FILE") and a colon.
class NcInput {
 public:
  NcInput(const std::string& path, std::string operation, std::string shown);
  ~NcInput();
  NcInput(const NcInput&) = delete;
  NcInput& operator=(const NcInput&) = delete;

  int id() const { return ncid_; }
  const std::string& path() const { return path_; }
  [[noreturn]] void fail(ErrorCode code, const std::string& what) const;
  // Fails (cannot_open) with `what` and the library's reason unless `status` is success.
  void check(int status, const std::string& what) const;
  // The variable's id, or -1 when the file has none of that name.
  int variable(const std::string& name) const;
  // A text attribute (empty when absent or not text), a one-value number
  // attribute (none when absent, text or several values); NC_GLOBAL for the file's.
  std::string text_attribute(int var, const char* name) const;
  std::optional<double> number_attribute(int var, const char* name) const;

 private:
  std::string path_, operation_, shown_;
  int ncid_ = -1;
};

}  // namespace kelvo::io
