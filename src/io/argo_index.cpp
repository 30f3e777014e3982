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
  return text.size() == 14 && read_digits(text, 0, 4, t.year) && read_digits(text, 4, 2, t.month) &&
         read_digits(text, 6, 2, t.day) && read_digits(text, 8, 2, t.hour) && read_digits(text, 10, 2, t.minute) &&
         read_digits(text, 12, 2, t.second) && make_time(t);
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
