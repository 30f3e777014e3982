// The candidate sites file of kelvo plan: one site a line, latitude in
// columns 1-8 and longitude in columns 9-17 (fixed 8.4 and 9.4, as in the
// list kelvo_brino reads); the rest of a line is not read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvo::cli {

struct Site {
  float lat = 0.0f, lon = 0.0f;
};

// The site of one line (without its end); false when the line is shorter
// than 17 columns or either column holds no finite number.
bool parse_site_line(std::string_view line, Site& s);

// The sites of `file`, read line by line; throws Failure naming the file,
// and the line when a line is no site (or longer than textio's line limit),
// or when the file cannot be read or holds no site.
std::vector<Site> read_sites(const std::string& file);

}  // namespace kelvo::cli
