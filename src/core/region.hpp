// A longitude-latitude box, such as the region an import keeps (given on
// the command line or taken from a domain's grid), with longitudes that may
// wrap round: east is taken in the 360 degrees that start at west.
#pragma once

#include <string_view>

namespace kelvo {

// West < east <= west + 360 (east moved by multiples of 360 into the range
// that starts at west), south < north.
struct Region {
  double west = 0.0, east = 0.0, south = 0.0, north = 0.0;
};

// The box W E S N as a region; an Error (bad_request), its message beginning
// with `source` (the option or the file the box came from), when it is not one.
Region make_region(std::string_view source, double west, double east, double south, double north);

// `lon` moved by a multiple of 360 into [west, west + 360).
double shift_longitude(double lon, double west);

// Whether a position (its longitude shifted into the region's range) lies in
// the region, edges included.
bool in_region(const Region& region, double lat, double shifted_lon);

}  // namespace kelvo
