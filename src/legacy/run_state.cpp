#include "legacy/run_state.hpp"

#include "textio/fields.hpp"

namespace kelvo::legacy {

RunState::RunState(const BaseDirs& dirs)
    : scale_dir(textio::padded(dirs.scale_dir, path_length)),
      results_dir(textio::padded(dirs.results_dir, path_length)) {}

std::string held_name(std::string_view name) {
  return std::string(textio::trim_right(name.substr(0, std::min(name.size(), path_length))));
}

std::string grid_cfg_file_name(std::string_view scale_dir, std::string_view domain) {
  // The operational tools add a "/" after the base directory, which itself ends in one.
  std::string dir(textio::trim_right(scale_dir));
  dir += '/';
  return textio::padded(io::grid_config_path(dir, textio::trim_right(domain)), path_length);
}

}  // namespace kelvo::legacy
