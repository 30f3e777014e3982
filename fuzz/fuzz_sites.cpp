// Fuzz target: one line of a --sites file of kelvo plan. Checked: a line is
// refused or gives a finite latitude and longitude; each, written with
// put_fixed (8.4 and 9.4, the file's columns) where that is not asterisks,
// reads back within the rounding to 4 decimals, and the value read back
// writes the same text again and reads back to the very same float.
#include <cmath>

#include "fuzz_check.hpp"
#include "io/sites.hpp"
#include "textio/fields.hpp"

namespace {
void read_back(float v, int w, std::string_view line) {
  std::string text, again;
  textio::put_fixed(text, v, w, 4);
  FUZZ_CHECK(text.size() == static_cast<std::size_t>(w), "width of " + fuzz::shown(text));
  if (text.find('*') != std::string::npos) return;
  float r = 0, r2 = 0;
  FUZZ_CHECK(textio::parse_fixed(text, 4, r), "unreadable " + fuzz::shown(text) + " of " + fuzz::shown(line));
  const double slack = 0.5e-4 + 2.0 * (std::nextafter(std::fabs(v), 1e30f) - std::fabs(v));
  FUZZ_CHECK(std::fabs(static_cast<double>(r) - v) <= slack, "far: " + fuzz::shown(text) + " of " + fuzz::shown(line));
  textio::put_fixed(again, r, w, 4);
  FUZZ_CHECK(textio::parse_fixed(again, 4, r2) && r2 == r, "no fixed point: " + fuzz::shown(text) + " " + fuzz::shown(again));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  kelvo::Site s;
  if (!kelvo::io::parse_site_line(line, s)) return 0;
  FUZZ_CHECK(std::isfinite(s.lat) && std::isfinite(s.lon), "not finite: " + fuzz::shown(line));
  read_back(s.lat, 8, line);
  read_back(s.lon, 9, line);
  return 0;
}
