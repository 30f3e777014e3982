// The names of the result files in a results directory: every tool names
// them alike, <dir><Dom>_<Par>_<what>_<tag><ending>, such as
// NsBs_salt_cover_map_ab.nc (the directory's "/" is the caller's).
#pragma once

#include <string>
#include <string_view>

namespace kelvo::io {

inline std::string result_file_name(std::string_view dir, std::string_view domain, std::string_view param,
                                    std::string_view what, std::string_view tag, std::string_view ending) {
  std::string name(dir);
  name.append(domain).append("_").append(param).append("_").append(what).append("_").append(tag).append(ending);
  return name;
}

}  // namespace kelvo::io
