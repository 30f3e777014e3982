// The region an import keeps: a longitude-latitude box given on the command
// line or taken from a domain's grid configuration.
#pragma once

#include <string>
#include <string_view>

namespace kelvo::cli {

// West < east <= west + 360 (east moved by multiples of 360 into the range
// that starts at west), south < north.
struct Region {
  double west = 0.0, east = 0.0, south = 0.0, north = 0.0;
};

// The box W E S N as a region; throws Failure, beginning with `source` (the
// option or the file the box came from), when it is not one.
Region make_region(std::string_view source, double west, double east, double south, double north);

// `lon` moved by a multiple of 360 into [west, west + 360).
double shift_longitude(double lon, double west);

// Whether a position (its longitude shifted into the region's range) lies in
// the region, edges included.
bool in_region(const Region& region, double lat, double shifted_lon);

// Throws Failure unless `domain` can name a domain folder: not empty, no
// "/", printable characters without blanks, and a grid configuration path
// within the length the grid reader keeps.
void check_domain_name(const std::string& scale_dir, const std::string& domain);

// The box (west east south north) of the domain's grid configuration file
// <scale_dir>/<domain>_ASC/<domain>_grid_cfg; throws Failure with the grid
// reader's message when it cannot be read.
Region domain_box(const std::string& scale_dir, const std::string& domain);

}  // namespace kelvo::cli
