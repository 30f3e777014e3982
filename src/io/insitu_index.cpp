// The in-situ index files (latest, monthly, history): one comma-separated
// line per data file, after '#' comments and a header line naming the
// columns (which may itself start with '#'). The data file's name carries
// its data type (PR profiles, TS time series, TR trajectory) and platform
// type as two-letter codes; its box and time coverage give the position and
// times.
#include "core/calendar.hpp"
#include "io/index_files.hpp"

namespace kelvo::io {

namespace {

constexpr std::string_view insitu_required[] = {
    "file_name",          "geospatial_lat_min", "geospatial_lat_max", "geospatial_lon_min",
    "geospatial_lon_max", "time_coverage_start", "time_coverage_end", "parameters"};
enum InsituColumn : std::size_t { file_name, lat_min, lat_max, lon_min, lon_max, time_start, time_end, parameters };

struct FileCodes {
  std::string_view data_type;
  std::string_view platform;
  std::string_view id;  // the platform's code, the part of the name after its type
};

// GL_PR_PF_6901234.nc, GL_LATEST_PR_PF_6901234_20040101.nc, IR_TS_MO_Bilbao.nc:
// after the region code, the first data type code, the code after it and
// the platform's code after that (6901234, Bilbao).
FileCodes file_codes(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  name = name.substr(0, name.rfind('.'));
  std::string_view previous;
  for (std::size_t i = 0; !name.empty(); ++i) {
    const std::size_t cut = name.find('_');
    const std::string_view code = name.substr(0, cut);
    if (i >= 2 && code.size() == 2 && (previous == "PR" || previous == "TS" || previous == "TR")) {
      const std::string_view rest = cut == std::string_view::npos ? std::string_view{} : name.substr(cut + 1);
      return {previous, code, rest.substr(0, rest.find('_'))};
    }
    previous = code;
    name.remove_prefix(cut == std::string_view::npos ? name.size() : cut + 1);
  }
  return {};
}

bool fraction_and_zone(std::string_view rest) {
  if (!rest.empty() && rest.front() == '.') {
    rest.remove_prefix(1);
    const std::size_t digits = rest.find_first_not_of("0123456789");
    if (digits == 0 || rest.empty()) return false;
    rest.remove_prefix(digits == std::string_view::npos ? rest.size() : digits);
  }
  return rest.empty() || rest == "Z";
}

// YYYY-MM-DDTHH:MM:SS, an optional fraction of a second and an optional Z.
bool parse_iso_time(std::string_view text, IndexTime& t) {
  return text.size() >= 19 && text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' &&
         text[16] == ':' && read_digits(text, 0, 4, t.year) && read_digits(text, 5, 2, t.month) &&
         read_digits(text, 8, 2, t.day) && read_digits(text, 11, 2, t.hour) && read_digits(text, 14, 2, t.minute) &&
         read_digits(text, 17, 2, t.second) && fraction_and_zone(text.substr(19)) && make_time(t);
}

std::string_view field(std::span<const std::string_view> fields, const Columns& columns, InsituColumn c) {
  return fields[static_cast<std::size_t>(columns[c])];
}

}  // namespace

const IndexLayout insitu_layout{"in-situ index", insitu_required, {}, true};

ParsedLine parse_insitu_line(std::span<const std::string_view> fields, const Columns& columns) {
  static constexpr InsituColumn box[4] = {lat_min, lat_max, lon_min, lon_max};
  ParsedLine p;
  double v[4] = {};
  bool empty = false;
  for (int i = 0; i < 4; ++i) {
    bool e = false;
    const std::string_view text = field(fields, columns, box[i]);
    if (!parse_degrees(text, v[i], e)) return unreadable("bad number", insitu_required[box[i]], text);
    empty = empty || e;
  }
  const std::string_view start = field(fields, columns, time_start);
  if (!parse_iso_time(start, p.obs.start)) return unreadable("bad date", "time_coverage_start", start);
  const FileCodes codes = file_codes(field(fields, columns, file_name));
  p.obs.end = p.obs.start;
  if (codes.data_type == "TS") {
    const std::string_view end = field(fields, columns, time_end);
    if (!parse_iso_time(end, p.obs.end) || p.obs.end.seconds < p.obs.start.seconds) {
      return unreadable("bad date", "time_coverage_end", end);
    }
  }
  if (empty || !latitude_in_range(v[0]) || !latitude_in_range(v[1]) || !longitude_in_range(v[2]) ||
      !longitude_in_range(v[3])) {
    p.fate = LineFate::no_position;
    return p;
  }
  if (v[0] != v[1] || v[2] != v[3]) {
    p.fate = LineFate::moving_platform;
    return p;
  }
  p.obs.lat = v[0];
  p.obs.lon = v[2];
  p.obs.fixed = codes.data_type == "TS";
  p.obs.platform = codes.platform;
  p.obs.platform_id = codes.id;
  const std::string_view names = field(fields, columns, parameters);
  p.obs.temp = has_name(names, "TEMP");
  p.obs.salt = has_name(names, "PSAL");
  return p;
}

}  // namespace kelvo::io
