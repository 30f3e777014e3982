#include "kelvo/import_region.hpp"

#include "kelvo/assessment.hpp"

#include <cmath>

#include "kelvo/cli.hpp"
#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/grid_cfg.hpp"
#include "kelvo_mod/run_stop.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

[[noreturn]] void bad_region(std::string_view source, std::string_view why) {
  throw Failure{std::string(source) + ": " + std::string(why)};
}


}  // namespace

double shift_longitude(double lon, double west) { return lon - 360.0 * std::floor((lon - west) / 360.0); }

Region make_region(std::string_view source, double west, double east, double south, double north) {
  if (!std::isfinite(west) || !std::isfinite(east) || !std::isfinite(south) || !std::isfinite(north)) {
    bad_region(source, "the box W E S N is not four finite numbers");
  }
  if (west < -360.0 || west > 360.0) bad_region(source, "west is outside -360 to 360");
  const double shifted_east = shift_longitude(east, west);
  if (shifted_east <= west) bad_region(source, "west is not west of east (W >= E after moving E into [W, W+360))");
  if (south < -90.0 || north > 90.0) bad_region(source, "south and north must lie within -90 to 90");
  if (south >= north) bad_region(source, "south is not south of north (S >= N)");
  return {west, shifted_east, south, north};
}

bool in_region(const Region& region, double lat, double shifted_lon) {
  return shifted_lon <= region.east && lat >= region.south && lat <= region.north;
}

void check_domain_name(const std::string& scale_dir, const std::string& domain) {
  if (domain.empty()) throw Failure{"--domain: the domain name is empty"};
  for (const char c : domain) {
    if (c == '/') throw Failure{"--domain \"" + domain + "\": a domain name cannot hold \"/\""};
    if (c <= ' ' || c > '~') throw Failure{"--domain \"" + domain + "\": a domain name is printable text without blanks"};
  }
  if (textio::trim_right(kelvo::grid_cfg_file_name(scale_dir, domain)).size() >= kelvo::path_length) {
    throw Failure{"--domain " + domain + ": the grid configuration path is longer than " +
                  std::to_string(kelvo::path_length - 1) + " characters (--scale-dir " + scale_dir + ")"};
  }
}

Region domain_box(const std::string& scale_dir, const std::string& domain) {
  textio::Console console;
  kelvo::Reporter out{console};
  kelvo::DomainState ds(kelvo::BaseDirs{scale_dir, ""});
  ds.domain = domain;
  try {
    kelvo::read_grid_cfg(out, ds);
  } catch (const kelvo::RunStop&) {
    throw Failure{"--domain " + domain + ": " + stop_message(console.out)};
  }
  return {ds.west, ds.east, ds.south, ds.north};
}

}  // namespace kelvo::cli
