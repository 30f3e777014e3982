// The candidate sites file of a plan: one site a line, latitude in columns
// 1-8 and longitude in columns 9-17 (fixed 8.4 and 9.4, as in the
// observation list, so that a list serves as a sites file); the rest of a
// line is not read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/plan.hpp"

namespace kelvo::io {

// The site of one line (without its end); false when the line is shorter
// than 17 columns or either column holds no finite number.
bool parse_site_line(std::string_view line, Site& s);

// The most sites a file may hold (8 bytes each once read).
inline constexpr std::size_t max_sites = 1000000;

// The sites of `file`, read line by line. Errors (operation "read_sites"):
// cannot_open, not_a_number (a line that is no site, or longer than 1 MiB),
// bad_request (no site in the file, or more than max_sites); each message
// begins with the file.
std::vector<Site> read_sites(const std::string& file);

}  // namespace kelvo::io
