#include "core/region.hpp"

#include <cmath>
#include <string>

#include "core/error.hpp"

namespace kelvo {

namespace {

[[noreturn]] void bad_region(std::string_view source, std::string_view why) {
  throw Error(ErrorCode::bad_request, "region", std::string(source) + ": " + std::string(why));
}


}  // namespace

double shift_longitude(double lon, double west) { return lon - 360.0 * std::floor((lon - west) / 360.0); }

Region make_region(std::string_view source, double west, double east, double south, double north) {
  if (!std::isfinite(west) || !std::isfinite(east) || !std::isfinite(south) || !std::isfinite(north)) {
    bad_region(source, "the box W E S N is not four finite numbers");
  }
  if (west < -360.0 || west > 360.0) bad_region(source, "west is outside -360 to 360");
  // A box 360 degrees wide or wider is the whole circle of longitudes.
  const double shifted_east = east - west >= 360.0 ? west + 360.0 : shift_longitude(east, west);
  if (shifted_east <= west) bad_region(source, "west is not west of east (W >= E after moving E into [W, W+360))");
  if (south < -90.0 || north > 90.0) bad_region(source, "south and north must lie within -90 to 90");
  if (south >= north) bad_region(source, "south is not south of north (S >= N)");
  return {west, shifted_east, south, north};
}

bool in_region(const Region& region, double lat, double shifted_lon) {
  return shifted_lon <= region.east && lat >= region.south && lat <= region.north;
}

}  // namespace kelvo
