#include "global_generator.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "core/domain.hpp"
#include "io/domain_file.hpp"
#include "io/metadata_list.hpp"

namespace kelvo_bench {

namespace fs = std::filesystem;

GlobalShape quarter_degree() { return GlobalShape{}; }

GlobalShape twelfth_degree() {
  GlobalShape s;
  s.label = "global_twelfth";
  s.nlon = 4320;
  s.nlat = 2160;
  s.nz = 10;
  return s;
}

GlobalShape quick_globe() {
  GlobalShape s;
  s.label = "global_quick";
  s.nlon = 360;
  s.nlat = 180;
  s.nz = 5;
  s.floats = 300;
  s.moorings = 40;
  s.drifters = 60;
  s.ship_lines = 6;
  s.gliders = 4;
  return s;
}

namespace {

constexpr double degree = 3.14159265358979323846 / 180.0;

struct Rng {
  std::mt19937 gen;
  explicit Rng(std::uint32_t seed) : gen(seed) {}
  double uniform() { return static_cast<double>(gen() >> 5) * (1.0 / 134217728.0); }  // 27 bits
  double uniform(double a, double b) { return a + (b - a) * uniform(); }
};

struct Vec {
  double x, y, z;
};

// A direction uniform on the sphere, by rejection from the cube.
Vec random_direction(Rng& r) {
  for (;;) {
    const Vec v{r.uniform(-1, 1), r.uniform(-1, 1), r.uniform(-1, 1)};
    const double n = v.x * v.x + v.y * v.y + v.z * v.z;
    if (n > 1e-6 && n <= 1.0) {
      const double s = 1.0 / std::sqrt(n);
      return {v.x * s, v.y * s, v.z * s};
    }
  }
}

struct Bump {
  Vec centre;
  double height, width2;
};

}  // namespace

GlobalSea build_sea(const GlobalShape& shape) {
  GlobalSea sea;
  sea.shape = shape;
  const double dlon = 360.0 / shape.nlon, dlat = 180.0 / shape.nlat;
  for (std::int32_t i = 0; i < shape.nlon; ++i) sea.lon.push_back(static_cast<float>(-180.0 + (i + 0.5) * dlon));
  for (std::int32_t j = 0; j < shape.nlat; ++j) sea.lat.push_back(static_cast<float>(-90.0 + (j + 0.5) * dlat));
  Rng rng(shape.seed);
  std::vector<Bump> continents;
  for (int n = 0; n < 30; ++n) {
    const double w = rng.uniform(0.12, 0.42);
    continents.push_back({random_direction(rng), rng.uniform(0.5, 1.2), w * w});
  }
  std::vector<Vec> ridges;
  for (int n = 0; n < 8; ++n) ridges.push_back(random_direction(rng));
  const std::size_t plane = static_cast<std::size_t>(shape.nlon) * static_cast<std::size_t>(shape.nlat);
  std::vector<float> relief(plane), ridge(plane);
  for (std::int32_t j = 0; j < shape.nlat; ++j) {
    const double cl = std::cos(sea.lat[static_cast<std::size_t>(j)] * degree), sl = std::sin(sea.lat[static_cast<std::size_t>(j)] * degree);
    for (std::int32_t i = 0; i < shape.nlon; ++i) {
      const double lo = sea.lon[static_cast<std::size_t>(i)] * degree;
      const Vec p{cl * std::cos(lo), cl * std::sin(lo), sl};
      double e = 0.0, r = 0.0;
      for (const Bump& b : continents) {
        const double dx = p.x - b.centre.x, dy = p.y - b.centre.y, dz = p.z - b.centre.z;
        e += b.height / (1.0 + (dx * dx + dy * dy + dz * dz) / b.width2);
      }
      for (const Vec& n : ridges) {
        const double d = p.x * n.x + p.y * n.y + p.z * n.z;
        r = std::max(r, 1.0 / (1.0 + d * d / 0.0012));
      }
      const std::size_t q = static_cast<std::size_t>(i) + static_cast<std::size_t>(shape.nlon) * static_cast<std::size_t>(j);
      relief[q] = static_cast<float>(e);
      ridge[q] = static_cast<float>(r);
    }
  }
  // Land is the highest 29 % of the relief.
  std::vector<float> sorted = relief;
  const std::size_t cut = static_cast<std::size_t>(0.71 * static_cast<double>(plane));
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(cut), sorted.end());
  const double coast = sorted[cut];
  sea.depth.resize(plane);
  for (std::size_t q = 0; q < plane; ++q) {
    const double h = coast - relief[q];
    const double basin = h > 0.0 ? 5500.0 * h / (h + 0.06) : 3000.0 * h;  // shelves where h is small
    sea.depth[q] = static_cast<float>(h > 0.0 ? std::max(10.0, basin * (1.0 - 0.55 * ridge[q])) : basin);
  }
  for (std::int32_t k = 0; k < shape.nz; ++k) {
    const double f = shape.nz > 1 ? static_cast<double>(k) / (shape.nz - 1) : 0.0;
    sea.layer_depth.push_back(static_cast<float>(5000.0 * f * f));
  }
  return sea;
}

void write_global_domain(const GlobalSea& sea, const fs::path& file) {
  const GlobalShape& s = sea.shape;
  kelvo::io::DomainFileContents c;
  c.name = s.label;
  kelvo::Grid& g = c.grid;
  g.nlon = s.nlon;
  g.nlat = s.nlat;
  g.nz = s.nz;
  g.lon = sea.lon;
  g.lat = sea.lat;
  g.west = sea.lon.front();
  g.east = sea.lon.back();
  g.south = sea.lat.front();
  g.north = sea.lat.back();
  g.dlon = static_cast<float>(360.0 / s.nlon);
  g.dlat = static_cast<float>(180.0 / s.nlat);
  g.periodic = true;
  for (std::int32_t k = 1; k <= s.nz; ++k) g.levnum.push_back(k);
  g.depth = sea.layer_depth;
  c.parameters = {"temp"};
  c.exponents = {std::vector<kelvo::Exponents>(static_cast<std::size_t>(s.nz), kelvo::Exponents{2.0f, 2.0f, 1.0f})};
  c.planes = [&](std::size_t, std::int32_t k, kelvo::LayerPlanes p) {
    const double deeper = s.nz > 1 ? 0.5 * (k - 1) / (s.nz - 1) : 0.0;
    for (std::int32_t j = 0; j < s.nlat; ++j) {
      const double lat = std::fabs(sea.lat[static_cast<std::size_t>(j)]);
      const double toward_equator = std::clamp(1.6 / (0.4 + lat / 40.0), 0.5, 2.5);
      for (std::int32_t i = 0; i < s.nlon; ++i) {
        const std::size_t q = static_cast<std::size_t>(i) + static_cast<std::size_t>(s.nlon) * static_cast<std::size_t>(j);
        const double depth = sea.depth[q];
        if (!(depth > sea.layer_depth[static_cast<std::size_t>(k - 1)])) continue;  // no_value: land at this depth
        const double open = std::min(1.0, depth / 3000.0);
        const double rx = (25.0 + 275.0 * open) * toward_equator * (1.0 + deeper);
        const double rt = 2.0 + 28.0 * std::min(1.0, depth / 4000.0);
        p.sx[q] = static_cast<float>(1.0 / (rx * rx));
        p.sy[q] = static_cast<float>(1.0 / (0.64 * rx * rx));
        p.st[q] = static_cast<float>(1.0 / rt);
      }
    }
  };
  c.source = "kelvo bench: a generated global sea";
  kelvo::io::write_domain_file(file.string(), c);
}

namespace {

// Day d (0-based) of 2025 at `minutes` past midnight, as ISO text.
std::string iso(int d, int minutes) {
  static constexpr int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int m = 0;
  while (m < 11 && d >= month_days[m]) d -= month_days[m++];
  char text[32];
  std::snprintf(text, sizeof text, "2025-%02d-%02dT%02d:%02dZ", m + 1, d + 1, minutes / 60, minutes % 60);
  return text;
}

struct Network {
  const GlobalSea& sea;
  std::FILE* out;
  std::FILE* list;
  Rng rng;
  std::int64_t records = 0;

  std::size_t point_of(double lat, double lon) const {
    const GlobalShape& s = sea.shape;
    const auto i = static_cast<std::int32_t>(std::floor((lon + 180.0) / (360.0 / s.nlon)));
    const auto j = static_cast<std::int32_t>(std::floor((lat + 90.0) / (180.0 / s.nlat)));
    return static_cast<std::size_t>((i % s.nlon + s.nlon) % s.nlon) +
           static_cast<std::size_t>(s.nlon) * static_cast<std::size_t>(std::clamp(j, 0, s.nlat - 1));
  }
  float depth_at(double lat, double lon) const { return sea.depth[point_of(lat, lon)]; }
  // A place at sea between `shallowest` and `deepest` metres, within 70 degrees of the equator.
  void sea_place(double& lat, double& lon, double shallowest, double deepest) {
    for (;;) {
      lat = std::asin(rng.uniform(-0.94, 0.94)) / degree;
      lon = rng.uniform(-180.0, 180.0);
      const double d = depth_at(lat, lon);
      if (d > shallowest && d < deepest) return;
    }
  }
  // A record on day d at `minutes`; a mooring's lasts the year. The list
  // holds the same record (the year-long ones repeating daily).
  void row(const std::string& platform, int kind, double lat, double lon, int d, int minutes, bool all_year = false) {
    const std::string start = iso(d, minutes), end = all_year ? iso(364, 1439) : "";
    std::fprintf(out, "%s,%d,%.4f,%.4f,%s,%s,TEMP PSAL\n", platform.c_str(), kind, lat, lon, start.c_str(), end.c_str());
    kelvo::io::ListRecord r;
    r.lat = static_cast<float>(lat);
    r.lon = static_cast<float>(lon);
    r.year = 2025;
    r.month = std::atoi(start.c_str() + 5);
    r.day = std::atoi(start.c_str() + 8);
    r.hour = minutes / 60;
    r.frequency = all_year ? 365 : 0;
    r.temp = r.salt = true;
    r.kind = kind;
    r.platform = platform;
    const std::string line = kelvo::io::list_line(r) + "\n";
    std::fwrite(line.data(), 1, line.size(), list);
    ++records;
  }
  // One step of a drift of about `step` degrees, kept at sea.
  void drift(double& lat, double& lon, double step) {
    const double nlat = std::clamp(lat + rng.uniform(-step, step), -78.0, 78.0);
    const double nlon = std::remainder(lon + rng.uniform(-step, step) / std::max(0.2, std::cos(lat * degree)), 360.0);
    if (depth_at(nlat, nlon) > 0.0f) {
      lat = nlat;
      lon = nlon;
    }
  }
};

}  // namespace

std::int64_t write_global_network(const GlobalSea& sea, const fs::path& csv, const fs::path& list) {
  const GlobalShape& s = sea.shape;
  std::FILE* out = std::fopen(csv.c_str(), "w");
  std::FILE* lst = std::fopen(list.c_str(), "w");
  if (out == nullptr || lst == nullptr) return -1;
  Network n{sea, out, lst, Rng(s.seed + 1u)};
  std::fprintf(out, "platform,kind,latitude,longitude,time_start,time_end,parameters\n");
  for (int f = 0; f < s.floats; ++f) {
    double lat = 0, lon = 0;
    n.sea_place(lat, lon, 1000.0, 1e9);
    const int phase = f % 10;
    for (int d = phase; d < 365; d += 10) {
      n.row(std::to_string(5900000 + f), 4, lat, lon, d, (f * 37) % 1440);
      for (int step = 0; step < 10; ++step) n.drift(lat, lon, 0.05);
    }
  }
  for (int m = 0; m < s.moorings; ++m) {
    double lat = 0, lon = 0;
    const bool gauge = m % 5 < 2;
    n.sea_place(lat, lon, gauge ? 5.0 : 50.0, gauge ? 200.0 : 1e9);
    n.row(std::to_string(7000000 + m), gauge ? 5 : 3, lat, lon, 0, 0, true);
  }
  for (int b = 0; b < s.drifters; ++b) {
    double lat = 0, lon = 0;
    n.sea_place(lat, lon, 100.0, 1e9);
    for (int d = 0; d < 365; ++d) {
      n.row(std::to_string(3000000 + b), 2, lat, lon, d, 720);
      n.drift(lat, lon, 0.3);
    }
  }
  for (int l = 0; l < s.ship_lines; ++l) {
    double lat0 = 0, lon0 = 0, lat1 = 0, lon1 = 0;
    n.sea_place(lat0, lon0, 200.0, 1e9);
    n.sea_place(lat1, lon1, 200.0, 1e9);
    if (std::fabs(lon1 - lon0) > 60.0) lon1 = lon0 + (lon1 > lon0 ? 60.0 : -60.0);
    for (int month = 0; month < 12; ++month) {
      for (int st = 0; st < 25; ++st) {
        const double f = st / 24.0;
        const double lat = lat0 + f * (lat1 - lat0), lon = std::remainder(lon0 + f * (lon1 - lon0), 360.0);
        if (n.depth_at(lat, lon) <= 0.0f) continue;
        n.row(std::to_string(8000000 + l), 1, lat, lon, month * 30 + 10 + st / 8, (st % 8) * 180);
      }
    }
  }
  for (int g = 0; g < s.gliders; ++g) {
    double lat = 0, lon = 0;
    n.sea_place(lat, lon, 100.0, 3000.0);
    const int first = static_cast<int>(n.rng.uniform(0.0, 200.0));
    for (int d = first; d < first + 150 && d < 365; ++d) {
      for (int p = 0; p < 6; ++p) {
        n.row(std::to_string(9000000 + g), 6, lat, lon, d, p * 240);
        n.drift(lat, lon, 0.03);
      }
    }
  }
  const bool ok = std::fclose(out) == 0 && std::fclose(lst) == 0;
  return ok ? n.records : -1;
}

GlobalFiles ensure_global(const GlobalShape& shape, const fs::path& root) {
  fs::create_directories(root);
  GlobalFiles f{root / (shape.label + ".nc"), root / (shape.label + "_network.csv"), root / (shape.label + "_network.lst"), 0};
  const fs::path stamp = root / (shape.label + ".stamp");
  const std::string signature = std::to_string(shape.nlon) + " " + std::to_string(shape.nlat) + " " +
                                std::to_string(shape.nz) + " " + std::to_string(shape.floats) + " " +
                                std::to_string(shape.drifters) + " " + std::to_string(shape.seed) + " v2";
  std::ifstream in(stamp);
  std::string seen;
  std::int64_t records = 0;
  if (std::getline(in, seen) && seen == signature && (in >> records) && fs::exists(f.domain) && fs::exists(f.network)) {
    f.records = records;
    return f;
  }
  fs::remove(stamp);
  const GlobalSea sea = build_sea(shape);
  write_global_domain(sea, f.domain);
  f.records = write_global_network(sea, f.network, f.list);
  std::ofstream(stamp) << signature << "\n" << f.records << "\n";
  return f;
}

}  // namespace kelvo_bench
