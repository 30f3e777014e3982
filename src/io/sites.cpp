#include "io/sites.hpp"

#include <cmath>

#include "core/error.hpp"
#include "textio/fields.hpp"
#include "textio/line_reader.hpp"

namespace kelvo::io {

namespace {

constexpr std::size_t site_columns = 17;

[[noreturn]] void sites_failure(ErrorCode code, const std::string& file, std::string what, std::int64_t line = 0) {
  Error e(code, "read_sites", file + ": " + what);
  e.file = file;
  e.line = line;
  throw e;
}

}  // namespace

bool parse_site_line(std::string_view line, Site& s) {
  return line.size() >= site_columns && textio::parse_fixed(line.substr(0, 8), 4, s.lat) &&
         textio::parse_fixed(line.substr(8, 9), 4, s.lon) && std::isfinite(s.lat) && std::isfinite(s.lon);
}

std::vector<Site> read_sites(const std::string& file) {
  textio::LineReader lines;
  std::string reason;
  if (!lines.open(file, reason)) sites_failure(ErrorCode::cannot_open, file, reason);
  std::vector<Site> sites;
  for (;;) {
    std::string_view line;
    const textio::LineStatus status = lines.next(site_columns, line);
    if (status == textio::LineStatus::end) break;
    if (sites.size() == max_sites) {
      sites_failure(ErrorCode::bad_request, file, "more than " + std::to_string(max_sites) + " sites, the most a sites file holds");
    }
    if (status == textio::LineStatus::read_error) sites_failure(ErrorCode::cannot_open, file, lines.reason());
    Site s;
    if (status == textio::LineStatus::too_long || !parse_site_line(line, s)) {
      const auto n = static_cast<std::int64_t>(lines.line_number());
      sites_failure(ErrorCode::not_a_number, file,
                    "line " + std::to_string(n) + " has no latitude (columns 1-8) and longitude (columns 9-17)", n);
    }
    sites.push_back(s);
  }
  if (sites.empty()) sites_failure(ErrorCode::bad_request, file, "holds no site");
  return sites;
}

}  // namespace kelvo::io
