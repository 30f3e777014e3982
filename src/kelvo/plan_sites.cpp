#include "kelvo/plan_sites.hpp"

#include <cmath>

#include "kelvo/cli.hpp"
#include "textio/fields.hpp"
#include "textio/line_reader.hpp"

namespace kelvo::cli {

namespace {
constexpr std::size_t site_columns = 17;
}  // namespace

bool parse_site_line(std::string_view line, Site& s) {
  return line.size() >= site_columns && textio::parse_fixed(line.substr(0, 8), 4, s.lat) &&
         textio::parse_fixed(line.substr(8, 9), 4, s.lon) && std::isfinite(s.lat) && std::isfinite(s.lon);
}

std::vector<Site> read_sites(const std::string& file) {
  textio::LineReader lines;
  std::string reason;
  if (!lines.open(file, reason)) throw Failure{"--sites " + file + ": " + reason};
  std::vector<Site> sites;
  for (;;) {
    std::string_view line;
    const textio::LineStatus status = lines.next(site_columns, line);
    if (status == textio::LineStatus::end) break;
    if (status == textio::LineStatus::read_error) throw Failure{"--sites " + file + ": " + lines.reason()};
    Site s;
    if (status == textio::LineStatus::too_long || !parse_site_line(line, s)) {
      throw Failure{"--sites " + file + ": line " + std::to_string(lines.line_number()) +
                    " has no latitude (columns 1-8) and longitude (columns 9-17)"};
    }
    sites.push_back(s);
  }
  if (sites.empty()) throw Failure{"--sites " + file + ": holds no site"};
  return sites;
}

}  // namespace kelvo::cli
