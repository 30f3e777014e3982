// The Argo profile index (the core index and the synthetic BGC index): one
// comma-separated line per profile of a profiling float, after '#' comments
// and a header line naming the columns. Every profile is a one-time
// observation of platform type PF.
#include "core/calendar.hpp"
#include "io/index_files.hpp"

namespace kelvo::io {

namespace {

constexpr std::string_view argo_required[] = {"date", "latitude", "longitude"};
// Only the synthetic index names the parameters of each profile; the file
// names the float.
constexpr std::string_view argo_optional[] = {"parameters", "file"};
enum ArgoColumn : std::size_t { date, latitude, longitude, parameters, file };

// The float's WMO number: the folder before "profiles" in
// aoml/13857/profiles/R13857_001.nc, or the digits of a bare file name
// (R13857_001.nc, the letters before them and the cycle after them dropped).
std::string_view wmo_number(std::string_view path) {
  // dac/wmo/profiles/file: the second part, when the third is "profiles".
  const std::size_t first = path.find('/');
  const std::size_t second = first == std::string_view::npos ? first : path.find('/', first + 1);
  if (second != std::string_view::npos && path.substr(second + 1, 9) == "profiles/") {
    return path.substr(first + 1, second - first - 1);
  }
  const std::size_t profiles = path.find("/profiles/");
  if (profiles != std::string_view::npos) {
    const std::string_view folder = path.substr(0, profiles);
    const std::size_t slash = folder.rfind('/');
    return slash == std::string_view::npos ? folder : folder.substr(slash + 1);
  }
  const std::size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t digits = name.find_first_of("0123456789");
  if (digits == std::string_view::npos) return {};
  name.remove_prefix(digits);
  return name.substr(0, name.find_first_not_of("0123456789"));
}

// YYYYMMDDHHMISS.
bool parse_argo_time(std::string_view text, IndexTime& t) {
  if (text.size() != 14) return false;
  int v[14];
  for (std::size_t i = 0; i < 14; ++i) {
    v[i] = text[i] - '0';
    if (v[i] < 0 || v[i] > 9) return false;
  }
  t.year = ((v[0] * 10 + v[1]) * 10 + v[2]) * 10 + v[3];
  t.month = v[4] * 10 + v[5];
  t.day = v[6] * 10 + v[7];
  t.hour = v[8] * 10 + v[9];
  t.minute = v[10] * 10 + v[11];
  t.second = v[12] * 10 + v[13];
  return make_time(t);
}

}  // namespace

const IndexLayout argo_layout{"Argo profile index", argo_required, argo_optional, false};

ParsedLine parse_argo_line(std::span<const std::string_view> fields, const Columns& columns) {
  const std::string_view lat_text = fields[static_cast<std::size_t>(columns[latitude])];
  const std::string_view lon_text = fields[static_cast<std::size_t>(columns[longitude])];
  const std::string_view date_text = fields[static_cast<std::size_t>(columns[date])];
  ParsedLine p;
  bool lat_empty = false, lon_empty = false;
  if (!parse_degrees(lat_text, p.obs.lat, lat_empty)) return unreadable("bad number", "latitude", lat_text);
  if (!parse_degrees(lon_text, p.obs.lon, lon_empty)) return unreadable("bad number", "longitude", lon_text);
  if (!parse_argo_time(date_text, p.obs.start)) return unreadable("bad date", "date", date_text);
  p.obs.end = p.obs.start;
  // An unknown position is left empty or given as a fill value (99999, -999.999).
  if (lat_empty || lon_empty || !latitude_in_range(p.obs.lat) || !longitude_in_range(p.obs.lon)) {
    p.fate = LineFate::no_position;
    return p;
  }
  p.obs.platform = "PF";
  if (columns[file] >= 0) p.obs.platform_id = wmo_number(fields[static_cast<std::size_t>(columns[file])]);
  const int params = columns[parameters];
  if (params < 0) {
    p.obs.temp = p.obs.salt = true;
  } else {
    const std::string_view names = fields[static_cast<std::size_t>(params)];
    p.obs.temp = has_name(names, "TEMP");
    p.obs.salt = has_name(names, "PSAL");
  }
  return p;
}

}  // namespace kelvo::io
