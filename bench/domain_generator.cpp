#include "domain_generator.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "textio/fields.hpp"

namespace kelvo_bench {

namespace fs = std::filesystem;

DomainSpec large_domain() {
  DomainSpec s;
  s.label = "large";
  return s;
}

DomainSpec operational(DomainSpec shape, std::int32_t nobs) {
  shape.nobs = nobs;
  shape.network = Network::operational;
  return shape;
}

DomainSpec quick_domain() {
  DomainSpec s;
  s.label = "quick";
  s.nlon = 80;
  s.nlat = 60;
  s.nz = 3;
  s.nobs = 2000;
  s.dlon = 0.5f;  // the same sea as the large domain, five times coarser
  s.dlat = 0.5f;
  return s;
}

// ---------------------------------------------------------------- random numbers

double Random::uniform() {
  const std::uint64_t hi = raw() >> 5;  // 27 bits
  const std::uint64_t lo = raw() >> 6;  // 26 bits
  return static_cast<double>((hi << 26) | lo) * (1.0 / 9007199254740992.0);
}

std::int32_t Random::pick(std::int32_t n) {
  const auto k = static_cast<std::int32_t>(uniform() * static_cast<double>(n));
  return std::clamp<std::int32_t>(k, 0, n - 1);
}

namespace {

// A random direction, by rejection from the square (no trigonometry).
void random_direction(Random& rng, double& ux, double& uy) {
  for (;;) {
    const double x = rng.uniform(-1.0, 1.0);
    const double y = rng.uniform(-1.0, 1.0);
    const double r2 = x * x + y * y;
    if (r2 > 1.0 || r2 < 1e-4) continue;
    const double r = std::sqrt(r2);
    ux = x / r;
    uy = y / r;
    return;
  }
}

void normalize(double& ux, double& uy) {
  const double r = std::sqrt(ux * ux + uy * uy);
  if (r > 0.0) {
    ux /= r;
    uy /= r;
  } else {
    ux = 1.0;
    uy = 0.0;
  }
}

// ---------------------------------------------------------------- smooth fields

// Value noise on the unit square: random values on an nx x ny lattice,
// blended with smoothstep weights.
class ValueNoise {
 public:
  ValueNoise(Random& rng, std::int32_t nx, std::int32_t ny) : nx_(nx), ny_(ny) {
    values_.resize(static_cast<std::size_t>(nx + 1) * static_cast<std::size_t>(ny + 1));
    for (double& v : values_) v = rng.uniform(-1.0, 1.0);
  }
  double at(double x, double y) const {  // x, y in [0, 1]
    const double gx = x * nx_;
    const double gy = y * ny_;
    const std::int32_t ix = std::clamp(static_cast<std::int32_t>(gx), 0, nx_ - 1);
    const std::int32_t iy = std::clamp(static_cast<std::int32_t>(gy), 0, ny_ - 1);
    const double tx = smooth(gx - ix);
    const double ty = smooth(gy - iy);
    const double a = node(ix, iy) + (node(ix + 1, iy) - node(ix, iy)) * tx;
    const double b = node(ix, iy + 1) + (node(ix + 1, iy + 1) - node(ix, iy + 1)) * tx;
    return a + (b - a) * ty;
  }

 private:
  static double smooth(double t) { return t * t * (3.0 - 2.0 * t); }
  double node(std::int32_t i, std::int32_t j) const {
    return values_[static_cast<std::size_t>(i) + static_cast<std::size_t>(nx_ + 1) * static_cast<std::size_t>(j)];
  }
  std::int32_t nx_, ny_;
  std::vector<double> values_;
};

// Four octaves of value noise, coarsest first.
class Fractal {
 public:
  Fractal(Random& rng, std::int32_t nx, std::int32_t ny) {
    double amp = 1.0;
    for (std::int32_t o = 0; o < 4; ++o) {
      octaves_.emplace_back(rng, nx << o, ny << o);
      amps_.push_back(amp);
      amp *= 0.5;
    }
  }
  double at(double x, double y) const {
    double s = 0.0;
    for (std::size_t o = 0; o < octaves_.size(); ++o) s += amps_[o] * octaves_[o].at(x, y);
    return s;
  }

 private:
  std::vector<ValueNoise> octaves_;
  std::vector<double> amps_;
};

// A field sampled at every grid point, i fastest, scaled to [0, 1].
std::vector<double> unit_field(const DomainSpec& s, const Fractal& f) {
  std::vector<double> v(static_cast<std::size_t>(s.nlon) * static_cast<std::size_t>(s.nlat));
  for (std::int32_t j = 0; j < s.nlat; ++j) {
    for (std::int32_t i = 0; i < s.nlon; ++i) {
      const double x = s.nlon > 1 ? static_cast<double>(i) / (s.nlon - 1) : 0.5;
      const double y = s.nlat > 1 ? static_cast<double>(j) / (s.nlat - 1) : 0.5;
      v[static_cast<std::size_t>(i) + static_cast<std::size_t>(s.nlon) * static_cast<std::size_t>(j)] = f.at(x, y);
    }
  }
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  const double a = *lo;
  const double span = *hi - *lo > 0.0 ? *hi - *lo : 1.0;
  for (double& x : v) x = (x - a) / span;
  return v;
}

// ---------------------------------------------------------------- observations

constexpr std::int32_t day_hours = 20;  // one-time observations of the day: 00 to 20 h

std::string two_digits(std::int32_t v) {
  std::string s;
  textio::put_int(s, v, 2, 2);
  return s;
}

// Date text of a one-time observation: on the assessment day 1 January 2004
// (now and then at 23 h the evening before), or four days later.
std::string one_time_date(Random& rng, bool present, std::int32_t hour) {
  if (!present) return two_digits(hour) + "05012004";
  if (rng.chance(0.05)) return "2331122003";
  return two_digits(hour) + "01012004";
}

// Date text of a repeating observation: the start of its series (not used
// by the tool beyond reading it as a number).
std::string series_date(Random& rng) {
  return "00" + two_digits(1 + rng.pick(28)) + two_digits(1 + rng.pick(12)) + "2003";
}

struct Builder {
  const DomainSpec& s;
  const Domain& d;
  Random& rng;
  std::vector<Observation>& out;
  std::int32_t next_id = 0;

  bool full() const { return static_cast<std::int32_t>(out.size()) >= s.nobs; }

  bool on_water(double fi, double fj, std::int32_t k) const {
    const auto i = static_cast<std::int32_t>(std::floor(fi + 0.5));
    const auto j = static_cast<std::int32_t>(std::floor(fj + 0.5));
    if (i < 1 || i > s.nlon || j < 1 || j > s.nlat) return false;
    return d.water(i, j, k);
  }

  // A record at fractional grid position (fi, fj), 1-based.
  Observation at(double fi, double fj) const {
    Observation o;
    const double lon = static_cast<double>(s.west) + (fi - 1.0) * static_cast<double>(s.dlon);
    const double lat = static_cast<double>(s.south) + (fj - 1.0) * static_cast<double>(s.dlat);
    o.lon_e4 = static_cast<std::int32_t>(std::floor(lon * 1e4 + 0.5));
    o.lat_e4 = static_cast<std::int32_t>(std::floor(lat * 1e4 + 0.5));
    return o;
  }

  void add(Observation o) {
    if (!full()) out.push_back(std::move(o));
  }
};

std::vector<std::size_t> points_where(const Domain& d, bool (*keep)(const Domain&, std::int32_t, std::int32_t)) {
  std::vector<std::size_t> v;
  for (std::int32_t j = 1; j <= d.shape.nlat; ++j)
    for (std::int32_t i = 1; i <= d.shape.nlon; ++i)
      if (keep(d, i, j)) v.push_back(d.point(i, j));
  return v;
}

bool coastal(const Domain& d, std::int32_t i, std::int32_t j) {
  if (!d.water(i, j, 1)) return false;
  const std::int32_t di[] = {1, -1, 0, 0};
  const std::int32_t dj[] = {0, 0, 1, -1};
  for (int n = 0; n < 4; ++n) {
    const std::int32_t a = i + di[n];
    const std::int32_t b = j + dj[n];
    if (a < 1 || a > d.shape.nlon || b < 1 || b > d.shape.nlat) continue;
    if (!d.water(a, b, 1)) return true;
  }
  return false;
}

bool surface_water(const Domain& d, std::int32_t i, std::int32_t j) { return d.water(i, j, 1); }

bool open_sea(const Domain& d, std::int32_t i, std::int32_t j) {
  return d.water(i, j, std::max<std::int32_t>(1, (d.shape.nz + 1) / 2));
}

void grid_position(const DomainSpec& s, std::size_t p, double& fi, double& fj) {
  fi = static_cast<double>(p % static_cast<std::size_t>(s.nlon)) + 1.0;
  fj = static_cast<double>(p / static_cast<std::size_t>(s.nlon)) + 1.0;
}

// The points of `pool` within `radius` grid cells of point c.
std::vector<std::size_t> points_near(const DomainSpec& s, const std::vector<std::size_t>& pool, std::size_t c,
                                     double radius) {
  double ci = 0.0, cj = 0.0;
  grid_position(s, c, ci, cj);
  std::vector<std::size_t> v;
  for (std::size_t p : pool) {
    double pi = 0.0, pj = 0.0;
    grid_position(s, p, pi, pj);
    if ((pi - ci) * (pi - ci) + (pj - cj) * (pj - cj) <= radius * radius) v.push_back(p);
  }
  return v;
}

std::size_t pick_from(Random& rng, const std::vector<std::size_t>& v) {
  return v[static_cast<std::size_t>(rng.pick(static_cast<std::int32_t>(v.size())))];
}

// A distance in kilometres as a number of grid rows.
double km_to_cells(const DomainSpec& s, double km) { return km / (static_cast<double>(s.dlat) * 111.12); }

// Moorings and tide gauges, gathered around a few harbours along the coast:
// about half of them repeat through the year, a share at the surface only.
void coastal_stations(Builder& b, std::int32_t count, const std::vector<std::size_t>& coast) {
  if (coast.empty()) return;
  const std::int32_t freqs[] = {12, 52, 365};
  std::vector<std::vector<std::size_t>> harbours;
  const std::int32_t nharbours = std::max<std::int32_t>(6, b.s.nobs / 500);
  for (std::int32_t h = 0; h < nharbours; ++h)
    harbours.push_back(points_near(b.s, coast, pick_from(b.rng, coast), km_to_cells(b.s, 60.0)));
  for (std::int32_t n = 0; n < count && !b.full(); ++n) {
    const std::vector<std::size_t>& harbour = harbours[static_cast<std::size_t>(b.rng.pick(nharbours))];
    double fi = 0.0, fj = 0.0;
    grid_position(b.s, pick_from(b.rng, harbour), fi, fj);
    Observation o = b.at(fi + b.rng.uniform(-0.3, 0.3), fj + b.rng.uniform(-0.3, 0.3));
    o.platform = Platform::coastal_station;
    o.platform_id = 6100000 + b.next_id++;
    o.kind = b.rng.chance(0.4) ? 2 : (b.rng.chance(0.5) ? 1 : 3);
    if (b.rng.chance(0.5)) {
      o.freq = freqs[b.rng.pick(3)];
      o.date = series_date(b.rng);
    } else {
      o.date = one_time_date(b.rng, b.rng.chance(0.85), b.rng.pick(day_hours + 1));
    }
    o.depth_m = o.kind == 2 ? 0 : 10 + b.rng.pick(190);
    o.temp = true;
    o.salt = !b.rng.chance(0.05);
    b.add(o);
  }
}

struct Position {
  double fi, fj;  // fractional grid column and row, 1-based
};

// The path of a moving platform from a random start: `stations` positions
// `step` grid cells apart, turning away from land, shorter when cornered.
std::vector<Position> walk(Builder& b, const std::vector<std::size_t>& starts, std::int32_t stations, double step) {
  std::vector<Position> path;
  if (starts.empty()) return path;
  double fi = 0.0, fj = 0.0;
  grid_position(b.s, pick_from(b.rng, starts), fi, fj);
  fi += b.rng.uniform(-0.5, 0.5);
  fj += b.rng.uniform(-0.5, 0.5);
  double ux = 0.0, uy = 0.0;
  random_direction(b.rng, ux, uy);
  for (std::int32_t n = 0; n < stations; ++n) {
    path.push_back({fi, fj});
    bool moved = false;
    for (int attempt = 0; attempt < 12 && !moved; ++attempt) {
      double rx = 0.0, ry = 0.0;
      random_direction(b.rng, rx, ry);
      const double wobble = attempt == 0 ? 0.15 : 1.0;
      double vx = ux + wobble * rx;
      double vy = uy + wobble * ry;
      normalize(vx, vy);
      const double ni = fi + step * vx;
      const double nj = fj + step * vy;
      if (b.on_water(ni, nj, 1)) {
        fi = ni;
        fj = nj;
        ux = vx;
        uy = vy;
        moved = true;
      }
    }
    if (!moved) break;
  }
  return path;
}

// Ships: a few lines sailed again and again (ferries with a ferrybox at the
// surface, XBT lines measuring temperature only, repeated CTD sections),
// each passage on one day, and now and then a one-off research cruise.
void ship_tracks(Builder& b, std::int32_t count, const std::vector<std::size_t>& water) {
  struct Line {
    std::vector<Position> path;
    std::int32_t kind;
  };
  std::vector<Line> lines;
  const std::int32_t nlines = std::max<std::int32_t>(4, b.s.nobs / 1000);
  const double step = km_to_cells(b.s, 8.0);
  for (std::int32_t n = 0; n < nlines; ++n) {
    const double kind_draw = b.rng.uniform();
    const std::int32_t kind = kind_draw < 0.55 ? 2 : (kind_draw < 0.65 ? 6 : 1);
    lines.push_back({walk(b, water, 60 + b.rng.pick(240), step), kind});
  }
  const std::size_t stop = std::min<std::size_t>(b.out.size() + static_cast<std::size_t>(count),
                                                 static_cast<std::size_t>(b.s.nobs));
  while (b.out.size() < stop) {
    Line cruise;
    const Line* line = &lines[static_cast<std::size_t>(b.rng.pick(nlines))];
    if (b.rng.chance(0.2)) {
      cruise = {walk(b, water, 40 + b.rng.pick(160), step), 1};
      line = &cruise;
    }
    const bool present = b.rng.chance(0.8);
    const std::int32_t id = 3100000 + b.next_id++;
    const std::int32_t start_hour = b.rng.pick(6);
    const auto n_stations = static_cast<std::int32_t>(line->path.size());
    for (std::int32_t n = 0; n < n_stations && b.out.size() < stop; ++n) {
      const Position& p = line->path[static_cast<std::size_t>(n)];
      Observation o = b.at(p.fi + b.rng.uniform(-0.3, 0.3), p.fj + b.rng.uniform(-0.3, 0.3));
      o.platform = Platform::ship_track;
      o.platform_id = id;
      o.kind = line->kind;
      const std::int32_t hour = std::min(
          day_hours, start_hour + static_cast<std::int32_t>((static_cast<std::int64_t>(n) * 15) / n_stations));
      o.date = one_time_date(b.rng, present, hour);
      o.depth_m = o.kind == 2 ? 0 : (o.kind == 6 ? 800 : 100 + b.rng.pick(900));
      o.temp = true;
      o.salt = o.kind != 6;
      b.add(o);
    }
  }
}

// Profiling floats scattered over the open sea.
void profiling_floats(Builder& b, std::int32_t count, const std::vector<std::size_t>& sea) {
  for (std::int32_t n = 0; n < count && !b.full() && !sea.empty(); ++n) {
    double fi = 0.0, fj = 0.0;
    grid_position(b.s, pick_from(b.rng, sea), fi, fj);
    Observation o = b.at(fi + b.rng.uniform(-0.5, 0.5), fj + b.rng.uniform(-0.5, 0.5));
    o.platform = Platform::profiling_float;
    o.platform_id = 6900000 + b.next_id++;
    o.kind = 4;
    o.date = one_time_date(b.rng, b.rng.chance(0.8), b.rng.pick(day_hours + 1));
    o.depth_m = b.rng.chance(0.5) ? 1000 : 2000;
    o.temp = !b.rng.chance(0.02);
    o.salt = true;
    b.add(o);
  }
}

// Surface drifters: short drifts, many of them measuring temperature only.
void surface_drifters(Builder& b, const std::vector<std::size_t>& water) {
  while (!b.full() && !water.empty()) {
    const bool present = b.rng.chance(0.85);
    const bool salinity = b.rng.chance(0.7);
    const std::int32_t id = 4100000 + b.next_id++;
    const std::int32_t start_hour = b.rng.pick(day_hours + 1 - 5);
    const std::vector<Position> path = walk(b, water, 5 + b.rng.pick(26), km_to_cells(b.s, 4.0));
    for (std::size_t n = 0; n < path.size() && !b.full(); ++n) {
      Observation o = b.at(path[n].fi, path[n].fj);
      o.platform = Platform::surface_drifter;
      o.platform_id = id;
      o.kind = 2;
      o.date = one_time_date(b.rng, present, std::min(day_hours, start_hour + static_cast<std::int32_t>(n / 6)));
      o.depth_m = 0;
      o.temp = true;
      o.salt = salinity;
      b.add(o);
    }
  }
}

// ---------------------------------------------------------------- an operational list

// Its records span 2003 to 2006 (the tool's window and the year before),
// day 0 being 1 January 2003; day 365 is the assessment day.
constexpr std::int32_t network_days = 1461;
constexpr std::int32_t assessment_day_index = 365;

bool leap(std::int32_t year) { return year % 4 == 0; }

// hhddmmyyyy of day `index` of the network at `hour`.
std::string network_date(std::int32_t hour, std::int32_t index) {
  static constexpr std::int32_t month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::int32_t year = 2003;
  std::int32_t d = std::clamp(index, 0, network_days - 1);
  while (d >= (leap(year) ? 366 : 365)) {
    d -= leap(year) ? 366 : 365;
    ++year;
  }
  std::int32_t month = 0;
  while (month < 11 && d >= month_days[month] + (month == 1 && leap(year) ? 1 : 0)) {
    d -= month_days[month] + (month == 1 && leap(year) ? 1 : 0);
    ++month;
  }
  return two_digits(hour) + two_digits(d + 1) + two_digits(month + 1) + std::to_string(year);
}

// The list covers a box three degrees wider than the grid on every side.
struct ListBox {
  double west, east, south, north;  // of the grid
  double margin = 3.0;
};

ListBox list_box(const DomainSpec& s) {
  const double west = s.west, south = s.south;
  return {west, west + (s.nlon - 1) * static_cast<double>(s.dlon), south,
          south + (s.nlat - 1) * static_cast<double>(s.dlat)};
}

// A position of the box's margin, outside the grid (degrees).
void outside_position(Random& rng, const ListBox& box, double& lat, double& lon) {
  for (;;) {
    lat = rng.uniform(box.south - box.margin, box.north + box.margin);
    lon = rng.uniform(box.west - box.margin, box.east + box.margin);
    if (lat < box.south || lat > box.north || lon < box.west || lon > box.east) return;
  }
}

struct OperationalBuilder {
  Builder& b;
  ListBox box;
  std::int32_t platforms = 0;

  // A record at (lat, lon) in degrees.
  Observation at_degrees(double lat, double lon) const {
    Observation o;
    o.lat_e4 = static_cast<std::int32_t>(std::floor(lat * 1e4 + 0.5));
    o.lon_e4 = static_cast<std::int32_t>(std::floor(lon * 1e4 + 0.5));
    return o;
  }
  double lat_of(double fj) const { return box.south + (fj - 1.0) * static_cast<double>(b.s.dlat); }
  double lon_of(double fi) const { return box.west + (fi - 1.0) * static_cast<double>(b.s.dlon); }

  // A new platform's id (seven digits from `base`), with or without the
  // depth column, and the file name its records come from.
  std::int32_t new_platform(std::int32_t base) {
    ++platforms;
    return base + b.next_id++;
  }

  // A record of platform `id`: as kelvo import writes it (`id_only`), or as
  // an older writer did, with the depth in columns 33-36 and the hour, day
  // and month of its date padded with blanks (" 0 1 12004").
  void add(Observation o, std::int32_t id, bool id_only, const char* file_kind, std::int32_t day) {
    o.platform_id = id;
    o.id_only = id_only;
    for (std::size_t k = 0; k < 6 && !id_only; k += 2) {
      if (o.date[k] == '0') o.date[k] = ' ';
    }
    if (b.rng.chance(0.7)) {
      const std::string date = network_date(0, day);
      o.tail = "  " + std::string(file_kind) + "_" + std::to_string(id) + "_" + date.substr(6, 4) + date.substr(4, 2) +
               ".nc";
    }
    b.add(std::move(o));
  }

  // A platform's first position: outside the grid one time in five, else
  // at one of `points`, moved by up to `jitter` cells (none when 0).
  void first_position(const std::vector<std::size_t>& points, double jitter, double& lat, double& lon) {
    if (b.rng.chance(0.2)) {
      outside_position(b.rng, box, lat, lon);
      return;
    }
    double fi = 0.0, fj = 0.0;
    grid_position(b.s, pick_from(b.rng, points), fi, fj);
    if (jitter > 0.0) fj += b.rng.uniform(-jitter, jitter);
    if (jitter > 0.0) fi += b.rng.uniform(-jitter, jitter);
    lat = lat_of(fj);
    lon = lon_of(fi);
  }

  // A one-time record's date on day `day` at a random hour.
  std::string one_time(std::int32_t day) { return network_date(b.rng.pick(24), day); }
};

// Profiling floats: a profile every ten days for up to four years, a fifth
// of them drifting outside the grid; a few measure temperature only.
void network_floats(OperationalBuilder& n, std::int32_t count, const std::vector<std::size_t>& sea) {
  Builder& b = n.b;
  const std::size_t stop = std::min<std::size_t>(b.out.size() + static_cast<std::size_t>(count),
                                                 static_cast<std::size_t>(b.s.nobs));
  while (b.out.size() < stop && !sea.empty()) {
    double lat = 0.0, lon = 0.0;
    n.first_position(sea, 0.0, lat, lon);
    const std::int32_t id = n.new_platform(6900000);
    const bool id_only = b.rng.chance(0.5);
    const bool temp_only = b.rng.chance(0.03);
    for (std::int32_t day = -700 + b.rng.pick(2160); day < network_days && b.out.size() < stop; day += 10) {
      lat += b.rng.uniform(-0.08, 0.08);
      lon += b.rng.uniform(-0.12, 0.12);
      if (day < 0) continue;
      Observation o = n.at_degrees(lat, lon);
      o.platform = Platform::profiling_float;
      o.kind = 4;
      o.date = n.one_time(day);
      o.depth_m = 2000;
      o.salt = !temp_only;
      n.add(std::move(o), id, id_only, "GL_PR_PF", day);
    }
  }
}

// Moorings, tide gauges and fixed stations: each site listed once a month
// at the same position, its records repeating (hourly or daily: present at
// every time), one-time (monthly files) or sampled so often (every ten to
// thirty minutes) that the repeat frequency reads as a one-time record.
void network_sites(OperationalBuilder& n, std::int32_t count, const std::vector<std::size_t>& coast) {
  Builder& b = n.b;
  const std::int32_t repeating[] = {24, 365, 4380, 8760};
  const std::int32_t too_often[] = {17520, 35040, 52560};
  const std::size_t stop = std::min<std::size_t>(b.out.size() + static_cast<std::size_t>(count),
                                                 static_cast<std::size_t>(b.s.nobs));
  while (b.out.size() < stop && !coast.empty()) {
    double lat = 0.0, lon = 0.0;
    n.first_position(coast, 0.3, lat, lon);
    const double kind_draw = b.rng.uniform();
    const std::int32_t kind = kind_draw < 0.5 ? 3 : (kind_draw < 0.8 ? 5 : 1);
    const std::int32_t id = n.new_platform(6200000);
    const bool id_only = b.rng.chance(0.5);
    const double mode = b.rng.uniform();
    const std::int32_t frequency =
        mode < 0.3 ? repeating[b.rng.pick(4)] : (mode < 0.55 ? too_often[b.rng.pick(3)] : 0);
    const bool temp_only = kind == 5 && b.rng.chance(0.5);
    const std::int32_t depth = kind == 5 ? 0 : 5 + b.rng.pick(200);
    for (std::int32_t day = b.rng.pick(30); day < network_days && b.out.size() < stop; day += 30) {
      Observation o = n.at_degrees(lat, lon);
      o.platform = Platform::coastal_station;
      o.kind = kind;
      o.freq = frequency;
      o.date = frequency > 0 && frequency < 9999 ? network_date(0, day) : n.one_time(day);
      o.depth_m = depth;
      o.salt = !temp_only;
      n.add(std::move(o), id, id_only, kind == 5 ? "GL_TS_TG" : "GL_TS_MO", day);
    }
  }
}

// Ships and gliders along walks over the grid's water (or straight drifts
// outside it): `per_day` records a day from a random start day, dated day
// by day; `kind` and whether they measure salinity given.
void network_walks(OperationalBuilder& n, std::int32_t count, const std::vector<std::size_t>& water,
                   std::int32_t min_stations, std::int32_t more_stations, double step_km, std::int32_t per_day,
                   std::int32_t kind, double salt_share, std::int32_t id_base, const char* file_kind) {
  Builder& b = n.b;
  const std::size_t stop = std::min<std::size_t>(b.out.size() + static_cast<std::size_t>(count),
                                                 static_cast<std::size_t>(b.s.nobs));
  while (b.out.size() < stop) {
    const std::int32_t stations = min_stations + b.rng.pick(more_stations);
    std::vector<Position> path;
    const bool outside = b.rng.chance(0.25);
    if (!outside) path = walk(b, water, stations, km_to_cells(b.s, step_km));
    const std::int32_t id = n.new_platform(id_base);
    const bool id_only = b.rng.chance(0.5);
    const bool salt = b.rng.chance(salt_share);
    std::int32_t day = b.rng.pick(network_days);
    double lat = 0.0, lon = 0.0, dlat = 0.0, dlon = 0.0;
    if (outside) {
      outside_position(b.rng, n.box, lat, lon);
      random_direction(b.rng, dlon, dlat);
    }
    const std::int32_t length = outside ? stations : static_cast<std::int32_t>(path.size());
    for (std::int32_t k = 0; k < length && b.out.size() < stop; ++k) {
      if (k > 0 && k % per_day == 0) ++day;
      Observation o;
      if (outside) {
        o = n.at_degrees(lat + k * dlat * step_km / 111.12, lon + k * dlon * step_km / 80.0);
      } else {
        o = n.at_degrees(n.lat_of(path[static_cast<std::size_t>(k)].fj), n.lon_of(path[static_cast<std::size_t>(k)].fi));
      }
      o.platform = Platform::ship_track;
      o.kind = kind;
      o.date = n.one_time(day);
      o.depth_m = kind == 2 ? 5 : 10 + b.rng.pick(990);
      o.salt = salt;
      n.add(std::move(o), id, id_only, file_kind, day);
    }
  }
}

// Ferry lines: a few fixed routes sailed every week, each passage a record
// every 8 km at the route's very positions, dated on the day of the passage.
void network_ferries(OperationalBuilder& n, std::int32_t count, const std::vector<std::size_t>& water) {
  Builder& b = n.b;
  std::vector<std::vector<Position>> routes;
  for (std::int32_t r = 0; r < 12; ++r) routes.push_back(walk(b, water, 40 + b.rng.pick(160), km_to_cells(b.s, 8.0)));
  std::vector<std::int32_t> ids;
  for (std::size_t r = 0; r < routes.size(); ++r) ids.push_back(n.new_platform(3100000));
  const std::size_t stop = std::min<std::size_t>(b.out.size() + static_cast<std::size_t>(count),
                                                 static_cast<std::size_t>(b.s.nobs));
  while (b.out.size() < stop) {
    const std::int32_t r = b.rng.pick(static_cast<std::int32_t>(routes.size()));
    const std::int32_t day = b.rng.pick(network_days);
    const std::int32_t start_hour = b.rng.pick(8);
    const std::vector<Position>& route = routes[static_cast<std::size_t>(r)];
    for (std::size_t k = 0; k < route.size() && b.out.size() < stop; ++k) {
      Observation o = n.at_degrees(n.lat_of(route[k].fj), n.lon_of(route[k].fi));
      o.platform = Platform::ship_track;
      o.kind = 2;
      o.date = network_date(std::min<std::int32_t>(23, start_hour + static_cast<std::int32_t>(k / 12)), day);
      o.depth_m = 4;
      n.add(std::move(o), ids[static_cast<std::size_t>(r)], r % 2 == 0, "GL_TS_FB", day);
    }
  }
}

// A list as an operational service writes it (see Network::operational).
void operational_network(Builder& b, const std::vector<std::size_t>& coast, const std::vector<std::size_t>& water,
                         const std::vector<std::size_t>& sea) {
  OperationalBuilder n{b, list_box(b.s)};
  const std::int32_t nobs = b.s.nobs;
  network_sites(n, nobs * 26 / 100, coast);
  network_floats(n, nobs * 24 / 100, sea);
  network_ferries(n, nobs * 16 / 100, water);
  network_walks(n, nobs * 10 / 100, water, 20, 80, 15.0, 8, 1, 0.97, 7400000, "GL_PR_CT");
  network_walks(n, nobs * 5 / 100, water, 60, 120, 3.0, 12, 6, 0.9, 6800000, "GL_PR_GL");
  network_walks(n, nobs * 4 / 100, water, 10, 40, 20.0, 10, 7, 0.3, 7700000, "GL_PR_XB");
  // Surface drifters, most measuring temperature only, to the end.
  network_walks(n, nobs, water, 20, 100, 6.0, 4, 2, 0.25, 4100000, "GL_TS_DB");
  // A few records of kind codes no layer takes (0, 8 and 9), as real lists hold.
  for (Observation& o : b.out) {
    if (b.rng.chance(0.003)) o.kind = b.rng.chance(0.5) ? 0 : 8 + b.rng.pick(2);
  }
  // A share of the one-time records of a day near the assessment day,
  // so that the day's slot holds a few hundred of them.
  for (Observation& o : b.out) {
    if (o.freq == 0 && b.rng.chance(0.004)) o.date = network_date(b.rng.pick(24), assessment_day_index);
  }
}

void append_right(std::string& out, const std::string& text, std::size_t width) {
  if (text.size() < width) out.append(width - text.size(), ' ');
  out.append(text);
}

// A value in units of 1e-4 as a decimal with four decimals, right-aligned.
void append_e4(std::string& out, std::int32_t v, std::size_t width) {
  const std::int64_t a = v < 0 ? -std::int64_t{v} : std::int64_t{v};
  std::string frac = std::to_string(a % 10000);
  frac.insert(0, 4 - frac.size(), '0');
  append_right(out, (v < 0 ? "-" : "") + std::to_string(a / 10000) + "." + frac, width);
}

void write_text(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(text.data(), static_cast<std::streamsize>(text.size()));
  f.close();
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

std::string read_text(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  if (!f) return {};
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string stamp_text(const DomainSpec& s) {
  // The format number changes whenever the generator writes different files.
  std::string t = "kelvo_bench generated domain, format 3\n";
  t += std::string(s.network == Network::operational ? "operational list, " : "") + s.label + " " + s.domain + " " +
       s.param + " " + std::to_string(s.nlon) + " " + std::to_string(s.nlat) + " " + std::to_string(s.nz) + " " + std::to_string(s.nobs) + " " + std::to_string(s.seed) + " ";
  for (float v : {s.west, s.south, s.dlon, s.dlat}) textio::put_fixed(t, v, 12, 5);
  return t + "\n";
}

}  // namespace

// ---------------------------------------------------------------- the domain

double Domain::reach(std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t m) const {
  const std::size_t p = point(i, j);
  if (m == 3) return reach_t_days[p];
  // Horizontal reaches shrink a little with depth, within 20 to 300 km.
  const double depth_share = shape.nz > 1 ? static_cast<double>(k - 1) / (shape.nz - 1) : 0.0;
  const double r = (m == 1 ? reach_x_km[p] : reach_y_km[p]) * (1.0 - 0.25 * depth_share);
  return std::clamp(r, 20.0, 300.0);
}

double Domain::scale_value(std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t m) const {
  const double r = reach(i, j, k, m);
  return exponent[static_cast<std::size_t>(k - 1)] == 2 ? 1.0 / (r * r) : 1.0 / r;
}

std::int64_t Domain::water_points(std::int32_t k) const {
  std::int64_t n = 0;
  for (std::int32_t j = 1; j <= shape.nlat; ++j)
    for (std::int32_t i = 1; i <= shape.nlon; ++i)
      if (water(i, j, k)) ++n;
  return n;
}

Domain build_domain(const DomainSpec& shape) {
  Domain d;
  d.shape = shape;
  Random rng(shape.seed);

  // Bathymetry: fractal noise on a slope that puts land along the east and
  // the north-east, with islands and inlets where the noise wins.
  const Fractal relief(rng, 6, 5);
  d.depth = unit_field(shape, relief);
  for (std::int32_t j = 1; j <= shape.nlat; ++j) {
    for (std::int32_t i = 1; i <= shape.nlon; ++i) {
      const double x = shape.nlon > 1 ? static_cast<double>(i - 1) / (shape.nlon - 1) : 0.5;
      const double y = shape.nlat > 1 ? static_cast<double>(j - 1) / (shape.nlat - 1) : 0.5;
      d.depth[d.point(i, j)] += 0.7 * (0.5 - x) - 0.25 * (y - 0.5) * x;
    }
  }
  // Water share: 60 % at the surface, 25 % in the deepest layer.
  std::vector<double> sorted = d.depth;
  std::sort(sorted.begin(), sorted.end());
  for (std::int32_t k = 1; k <= shape.nz; ++k) {
    const double share = 0.60 - 0.35 * (shape.nz > 1 ? static_cast<double>(k - 1) / (shape.nz - 1) : 0.0);
    const auto idx = static_cast<std::size_t>((1.0 - share) * static_cast<double>(sorted.size()));
    d.threshold.push_back(sorted[std::min(idx, sorted.size() - 1)]);
  }

  // Reaches: short on the shelf by the coast, long over the deep sea, within
  // 20-300 km and different along the meridian; 2-8 days.
  const Fractal fx(rng, 3, 3), fy(rng, 3, 3), ft(rng, 2, 2);
  const std::vector<double> ux = unit_field(shape, fx), uy = unit_field(shape, fy), ut = unit_field(shape, ft);
  const double shelf = d.threshold[0];
  const double deepest = *std::max_element(d.depth.begin(), d.depth.end());
  const double span = deepest - shelf > 0.0 ? deepest - shelf : 1.0;
  d.reach_x_km.resize(ux.size());
  d.reach_y_km.resize(ux.size());
  d.reach_t_days.resize(ux.size());
  for (std::size_t p = 0; p < ux.size(); ++p) {
    const double deep = std::clamp((d.depth[p] - shelf) / span, 0.0, 1.0);
    const double a = std::clamp(0.75 * deep + 0.25 * ux[p], 0.0, 1.0);
    const double b = std::clamp(0.75 * deep + 0.25 * uy[p], 0.0, 1.0);
    d.reach_x_km[p] = 20.0 + 280.0 * a * a;
    d.reach_y_km[p] = 20.0 + 280.0 * b * b;
    d.reach_t_days[p] = 2.0 + 6.0 * ut[p];
  }
  for (std::int32_t k = 1; k <= shape.nz; ++k) d.exponent.push_back(k % 3 == 0 ? 2 : 1);

  // Observations: 35 % coastal stations, 40 % ship tracks, 5 % floats,
  // the rest surface drifters.
  const std::vector<std::size_t> coast = points_where(d, coastal);
  const std::vector<std::size_t> water = points_where(d, surface_water);
  const std::vector<std::size_t> sea = points_where(d, open_sea);
  Builder b{shape, d, rng, d.obs};
  d.obs.reserve(static_cast<std::size_t>(shape.nobs));
  if (shape.network == Network::operational) {
    operational_network(b, coast, water, sea);
    return d;
  }
  coastal_stations(b, shape.nobs * 35 / 100, coast);
  ship_tracks(b, shape.nobs * 40 / 100, water);
  profiling_floats(b, shape.nobs * 5 / 100, sea);
  surface_drifters(b, water);
  return d;
}

// ---------------------------------------------------------------- texts

void append_scale_field(std::string& out, double value, bool exponent_form) {
  if (!exponent_form) {
    const auto units = static_cast<std::int64_t>(std::floor(std::clamp(value, 0.0, 9.99999) * 1e5 + 0.5));
    std::string frac = std::to_string(units % 100000);
    frac.insert(0, 5 - frac.size(), '0');
    out += ' ';
    out += std::to_string(units / 100000);
    out += '.';
    out += frac;
    return;
  }
  // d.dddE-e: four significant digits of a value between 1e-9 and 1.
  double m = std::clamp(value, 1e-9, 0.99999);
  std::int32_t e = 0;
  while (m < 1.0) {
    m *= 10.0;
    ++e;
  }
  auto u = static_cast<std::int64_t>(std::floor(m * 1000.0 + 0.5));
  if (u >= 10000) {
    u = 1000;
    --e;
  }
  std::string frac = std::to_string(u % 1000);
  frac.insert(0, 3 - frac.size(), '0');
  out += std::to_string(u / 1000);
  out += '.';
  out += frac;
  out += "E-";
  out += std::to_string(e);
}

bool exponent_form(const Domain& d, std::int32_t k, std::int32_t m) {
  return m < 3 && d.exponent[static_cast<std::size_t>(k - 1)] == 2;
}

std::string grid_cfg_text(const Domain& d) {
  const DomainSpec& s = d.shape;
  const float east = static_cast<float>(s.nlon - 1) * s.dlon + s.west;
  const float north = static_cast<float>(s.nlat - 1) * s.dlat + s.south;
  std::string t = "nlon,nlat,nz    ";
  textio::put_int(t, s.nlon, 5);
  textio::put_int(t, s.nlat, 5);
  textio::put_int(t, s.nz, 5);
  t += "\nlevels          ";
  for (std::int32_t k = 1; k <= s.nz; ++k) textio::put_int(t, k, 4);
  t += "\nw,e,s,n         ";
  for (float v : {s.west, east, s.south, north}) textio::put_fixed(t, v, 9, 5);
  t += "\ndlon,dlat       ";
  textio::put_fixed(t, s.dlon, 9, 5);
  textio::put_fixed(t, s.dlat, 9, 5);
  t += "\n";
  return t;
}

std::string scale_file_text(const Domain& d, std::int32_t k, std::int32_t m) {
  const DomainSpec& s = d.shape;
  const bool expo = exponent_form(d, k, m);
  std::string t;
  t.reserve(static_cast<std::size_t>(s.nlat) * (static_cast<std::size_t>(s.nlon) * 8 + 1));
  for (std::int32_t j = 1; j <= s.nlat; ++j) {
    for (std::int32_t i = 1; i <= s.nlon; ++i) {
      if (d.water(i, j, k)) {
        append_scale_field(t, d.scale_value(i, j, k, m), expo);
      } else {
        t += marker_field;
      }
    }
    t += '\n';
  }
  return t;
}

std::string power_file_text(const Domain& d, std::int32_t /*m*/) {
  std::string t;
  for (std::int32_t p : d.exponent) textio::put_fixed(t, static_cast<float>(p), 8, 5);
  return t + "\n";
}

std::string metadata_line(const Observation& o) {
  std::string s;
  append_e4(s, o.lat_e4, 8);                         // 1-8
  append_e4(s, o.lon_e4, 9);                         // 9-17
  s += o.date;                                       // 18-27
  append_right(s, std::to_string(o.freq), 5);        // 28-32
  append_right(s, o.id_only ? "" : std::to_string(o.depth_m), 4);  // 33-36
  append_right(s, std::to_string(o.platform_id), 10);// 37-46
  textio::put_int(s, o.temp ? 1 : 0, 2);             // 47-48
  textio::put_int(s, o.salt ? 1 : 0, 2);             // 49-50
  textio::put_int(s, o.kind, 2);                     // 51-52
  return s + o.tail;
}

std::string metadata_text(const Domain& d) {
  std::string t;
  t.reserve(d.obs.size() * 53);
  for (const Observation& o : d.obs) t += metadata_line(o) + "\n";
  return t;
}

// ---------------------------------------------------------------- files

fs::path DomainFiles::scale_file(std::int32_t level, std::int32_t m) const {
  const char comp[] = {'x', 'y', 't'};
  std::string lev;
  textio::put_int(lev, level, 2, 2);
  return asc_dir() / (domain + "_" + param + "_scale_lev" + lev + "_" + comp[m - 1] + ".dat");
}

fs::path DomainFiles::power_file(std::int32_t m) const {
  const char comp[] = {'x', 'y', 't'};
  return asc_dir() / (domain + "_" + param + "_power_" + comp[m - 1] + ".dat");
}

kelvo::legacy::BaseDirs DomainFiles::dirs(const fs::path& results) const {
  return {scale_dir().string() + "/", results.string() + "/"};
}

DomainFiles domain_files(const DomainSpec& shape, const fs::path& root) {
  return DomainFiles{root, shape.domain, shape.param};
}

std::vector<fs::path> run_input_files(const DomainSpec& /*shape*/, const DomainFiles& f, std::int32_t first,
                                      std::int32_t last) {
  std::vector<fs::path> v{f.grid_cfg()};
  for (std::int32_t k = first; k <= last; ++k)
    for (std::int32_t m = 1; m <= 3; ++m) v.push_back(f.scale_file(k, m));  // level number k
  for (std::int32_t m = 1; m <= 3; ++m) v.push_back(f.power_file(m));
  v.push_back(f.metadata());
  return v;
}

bool ensure_domain(const DomainSpec& shape, const fs::path& root) {
  const DomainFiles f = domain_files(shape, root);
  const fs::path stamp = root / "kelvo_bench_domain.stamp";
  const std::string want = stamp_text(shape);
  if (read_text(stamp) == want) {
    bool complete = true;
    for (const fs::path& p : run_input_files(shape, f, 1, shape.nz)) complete = complete && fs::exists(p);
    if (complete) {
      fs::create_directories(f.results_dir());
      return false;
    }
  }
  std::error_code ec;
  fs::remove(stamp, ec);

  const Domain d = build_domain(shape);
  fs::create_directories(f.asc_dir());
  fs::create_directories(f.results_dir());
  write_text(f.grid_cfg(), grid_cfg_text(d));
  for (std::int32_t k = 1; k <= shape.nz; ++k)
    for (std::int32_t m = 1; m <= 3; ++m) write_text(f.scale_file(k, m), scale_file_text(d, k, m));
  for (std::int32_t m = 1; m <= 3; ++m) write_text(f.power_file(m), power_file_text(d, m));
  write_text(f.metadata(), metadata_text(d));
  write_text(stamp, want);  // last: marks the tree complete
  return true;
}

bool ensure_metadata_list(const DomainSpec& shape, const fs::path& list) {
  // The scales come from the generator before the observations, so a list
  // of another size belongs to the very same sea.
  const fs::path stamp = list.string() + ".stamp";
  const std::string want = stamp_text(shape);
  if (read_text(stamp) == want && fs::exists(list)) return false;
  std::error_code ec;
  fs::remove(stamp, ec);
  write_text(list, metadata_text(build_domain(shape)));
  write_text(stamp, want);
  return true;
}

}  // namespace kelvo_bench
