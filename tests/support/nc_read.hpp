// Reading a NetCDF file back in tests: variables, dimensions, attributes.
#pragma once

#include <netcdf.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvo_test {

struct NcRead {
  int ncid = -1;
  explicit NcRead(const std::filesystem::path& p) {
    if (nc_open(p.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) ncid = -1;
  }
  ~NcRead() {
    if (ncid >= 0) nc_close(ncid);
  }
  NcRead(const NcRead&) = delete;
  NcRead& operator=(const NcRead&) = delete;

  int var(const std::string& name) const {
    int id = -2;
    if (nc_inq_varid(ncid, name.c_str(), &id) != NC_NOERR) return -2;
    return id;
  }
  std::size_t dim(const std::string& name) const {
    int id = -1;
    std::size_t len = 0;
    if (nc_inq_dimid(ncid, name.c_str(), &id) != NC_NOERR) return static_cast<std::size_t>(-1);
    nc_inq_dimlen(ncid, id, &len);
    return len;
  }
  std::vector<std::string> dims_of(const std::string& name) const {
    const int v = var(name);
    int ndims = 0;
    int ids[NC_MAX_VAR_DIMS];
    std::vector<std::string> names;
    if (v < 0) return names;
    nc_inq_var(ncid, v, nullptr, nullptr, &ndims, ids, nullptr);
    for (int k = 0; k < ndims; ++k) {
      char buf[NC_MAX_NAME + 1] = {};
      nc_inq_dimname(ncid, ids[k], buf);
      names.emplace_back(buf);
    }
    return names;
  }
  nc_type type_of(const std::string& name) const {
    nc_type t = NC_NAT;
    nc_inq_vartype(ncid, var(name), &t);
    return t;
  }
  // Text attribute of a variable, or of the file with an empty name.
  std::string text(const std::string& name, const std::string& att) const {
    const int v = name.empty() ? NC_GLOBAL : var(name);
    std::size_t len = 0;
    nc_type t = NC_NAT;
    if (nc_inq_att(ncid, v, att.c_str(), &t, &len) != NC_NOERR || t != NC_CHAR) return "<none>";
    std::string s(len, '\0');
    nc_get_att_text(ncid, v, att.c_str(), s.data());
    return s;
  }
  std::vector<float> floats(const std::string& name) const {
    std::vector<float> v(size_of(name));
    if (!v.empty()) nc_get_var_float(ncid, var(name), v.data());
    return v;
  }
  std::vector<std::int32_t> ints(const std::string& name) const {
    std::vector<std::int32_t> v(size_of(name));
    if (!v.empty()) nc_get_var_int(ncid, var(name), v.data());
    return v;
  }
  std::vector<std::int64_t> int64s(const std::string& name) const {
    std::vector<long long> v(size_of(name));
    if (!v.empty()) nc_get_var_longlong(ncid, var(name), v.data());
    return std::vector<std::int64_t>(v.begin(), v.end());
  }
  std::vector<signed char> bytes(const std::string& name) const {
    std::vector<signed char> v(size_of(name));
    if (!v.empty()) nc_get_var_schar(ncid, var(name), v.data());
    return v;
  }
  // A string variable, or a character one read as one text per row.
  std::vector<std::string> strings(const std::string& name) const {
    nc_type type = NC_NAT;
    nc_inq_vartype(ncid, var(name), &type);
    if (type == NC_CHAR) {
      const std::vector<std::string> dims = dims_of(name);
      const std::size_t width = dim(dims.back()), n = size_of(name) / std::max<std::size_t>(width, 1);
      std::string text(size_of(name), '\0');
      if (!text.empty()) nc_get_var_text(ncid, var(name), text.data());
      std::vector<std::string> s;
      for (std::size_t i = 0; i < n; ++i) s.push_back(std::string(text.c_str() + i * width, strnlen(text.c_str() + i * width, width)));
      return s;
    }
    std::vector<char*> v(size_of(name), nullptr);
    if (!v.empty()) nc_get_var_string(ncid, var(name), v.data());
    std::vector<std::string> s(v.begin(), v.end());
    if (!v.empty()) nc_free_string(v.size(), v.data());
    return s;
  }
  std::size_t size_of(const std::string& name) const {
    std::size_t n = 1;
    for (const std::string& d : dims_of(name)) n *= dim(d);
    return n;
  }
};

}  // namespace kelvo_test
