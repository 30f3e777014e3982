// The coverage map file: a CF-1.8 netCDF-4 file written with the NetCDF C
// library.
#pragma once

#include <string>

#include "kelvo_map/map_contents.hpp"

namespace kelvo {

// Writes `contents` to `path`. The file is written under a temporary name
// beside it and renamed over `path` only when complete, so a failure never
// leaves a partial file nor touches an older one. False, with `reason`
// (the step and the library's message), when the file could not be written.
bool write_map_file(const std::string& path, const MapContents& contents, std::string& reason);

}  // namespace kelvo
