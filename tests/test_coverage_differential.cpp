// The fast coverage evaluation against the exhaustive one on a thousand
// random small domains, irregular values included. Observations are also
// placed right at the edge of a point's reach, in distance alone or in
// distance and time together, where only the safety margin of the fast
// evaluation keeps the two in agreement; some have twins, some domains have
// a few or many time distances, and the rows are shared among 1 to 3 threads;
// each layer is decided again with tagged observations among some points.
// Some grids go round the globe, with observations at the seam, whole turns
// away and near the poles, and reaches beyond half the circle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <random>
#include <vector>

#include "core/assess.hpp"
#include "core/coverage_engine.hpp"
#include "core/domain.hpp"
#include "core/error.hpp"
#include "core/series.hpp"

namespace {

struct Rng {
  std::mt19937 gen;
  explicit Rng(std::uint32_t seed) : gen(seed) {}
  double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(gen); }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(gen); }
  bool chance(double p) { return uniform(0.0, 1.0) < p; }
};

float nan_from_zero_over_zero() {
  volatile float zero = 0.0f;
  return zero / zero;
}

float random_exponent(Rng& rng) {
  const float choices[] = {1.0f, 1.0f, 2.0f, 0.5f, 1.5f, 3.0f, 0.0f, -1.0f, 0.1f, 8.0f};
  if (rng.chance(0.03)) return nan_from_zero_over_zero();
  return choices[rng.pick(10)];
}

// A scale entry for exponent p: mostly the value that gives a reach of 5 to
// 500 km, sometimes zero, negative, tiny, huge, the marker or not a number.
float random_scale(Rng& rng, float p, bool global) {
  switch (rng.pick(20)) {
    case 0: return 0.0f;
    case 1: return -0.01f;
    case 2: return kelvo::no_value;
    case 3: return nan_from_zero_over_zero();
    case 4: return 1e-30f;
    case 5: return 1e30f;
    default: break;
  }
  const double reach = rng.uniform(5.0, global && rng.chance(0.3) ? 30000.0 : 500.0);
  const double q = p > 0.0f ? static_cast<double>(p) : 1.0;
  return static_cast<float>(std::pow(reach, -q));
}

// A random domain of two layers (its water points where all three scales
// are present), its observations and the slot of day 1096.
struct Sample {
  kelvo::Domain domain;
  std::vector<kelvo::Observation> obs;
  float slot = 1096.0f;
  const kelvo::Grid& grid() const { return domain.grid(); }
  float lon(std::int32_t i) const { return grid().lon[static_cast<std::size_t>(i - 1)]; }
  float lat(std::int32_t j) const { return grid().lat[static_cast<std::size_t>(j - 1)]; }
  // Exponent and scale of component m (1 x, 2 y, 3 t).
  float power(std::int32_t k, int m) const {
    const kelvo::Exponents& e = domain.exponents(k);
    return m == 1 ? e.px : (m == 2 ? e.py : e.pt);
  }
  float scale(std::int32_t i, std::int32_t j, std::int32_t k, int m) const {
    const kelvo::DomainLayer& l = domain.layer(k);
    const std::span<const float> plane = m == 1 ? l.sx : (m == 2 ? l.sy : l.st);
    return plane[static_cast<std::size_t>((i - 1) + grid().nlon * (j - 1))];
  }
};

kelvo::Grid make_axes(Rng& rng) {
  kelvo::Grid g;
  g.nlon = 1 + rng.pick(12);
  g.nlat = 1 + rng.pick(10);
  g.nz = 2;
  g.levnum = {1, 2};
  const float dlons[] = {0.1f, 0.25f, 1.0f, 5.0f};
  const float dlats[] = {0.05f, 0.5f, 2.0f, 10.0f};
  g.dlon = dlons[rng.pick(4)];
  g.dlat = dlats[rng.pick(4)];
  g.west = static_cast<float>(rng.uniform(-185.0, 175.0));
  // Some grids reach past the poles, where the cosine of the latitude is not positive.
  g.south = static_cast<float>(rng.chance(0.2) ? rng.uniform(80.0, 95.0) : rng.uniform(-89.0, 70.0));
  if (rng.chance(0.3)) {  // round the globe, rows up to the poles or not
    g.dlon = rng.chance(0.03) ? 1.0f : 5.0f * static_cast<float>(1 << rng.pick(3));
    g.west = rng.chance(0.7) ? (rng.chance(0.5) ? -180.0f : 0.0f) : g.west;
    // Some with the seam column twice, or one more beyond it.
    g.nlon = static_cast<std::int32_t>(360.0f / g.dlon) + (rng.chance(0.3) ? 1 + rng.pick(2) : 0);
    // Some with rows at 90 N, from 90 S or from 30 N.
    if (rng.chance(0.5)) g.dlat = 30.0f, g.south = rng.chance(0.5) ? -90.0f : 30.0f, g.nlat = g.south < 0.0f ? 7 : 3;
  }
  kelvo::build_axes(g);
  g.periodic = kelvo::spans_full_circle(g.nlon, g.dlon);
  return g;
}

// With `quadratic`, the usual exponents px = py = 2 and a positive pt.
kelvo::Domain make_domain(Rng& rng, bool quadratic = false) {
  kelvo::Grid g = make_axes(rng);
  kelvo::ScaleFields scales{1, 2, g.plane_size(), std::vector<float>(static_cast<std::size_t>(g.plane_size() * 6)),
                            std::vector<kelvo::Exponents>(2)};
  for (kelvo::Exponents& e : scales.exponents) {
    for (float* p : {&e.px, &e.py, &e.pt}) *p = random_exponent(rng);
    if (quadratic) e.px = e.py = 2.0f, e.pt = rng.chance(0.5) ? 1.0f : 0.5f;
  }
  for (std::int32_t k = 1; k <= 2; ++k) {
    const kelvo::Exponents& e = scales.exponents[static_cast<std::size_t>(k - 1)];
    const float p[3] = {e.px, e.py, e.pt};
    for (int m = 0; m < 3; ++m) {
      for (float& v : scales.plane(k, m)) v = random_scale(rng, p[m], g.periodic);
    }
    // Mostly time scales of a real layer and no negative scale, so that
    // records out of their slot cannot cover and the days are decided together.
    if (quadratic && rng.chance(0.8)) {
      for (int m = 0; m < 3; ++m) {
        for (float& v : scales.plane(k, m)) v = m == 2 && v != kelvo::no_value && !std::isnan(v) ? 1.0f : std::max(v, 0.0f);
      }
    }
  }
  return kelvo::Domain::build("Rnd", "salt", std::move(g), std::move(scales));
}

// An observation at the edge of the reach of a random point, along x or y.
// On a periodic grid, some go from an end column across the seam, their
// distance off by up to the rounding of a folded separation.
void edge_observation(const Sample& ds, Rng& rng, float& lat, float& lon) {
  const bool across = ds.grid().periodic && rng.chance(0.5);
  const std::int32_t i = across ? (rng.chance(0.5) ? 1 : ds.grid().nlon) : 1 + rng.pick(ds.grid().nlon);
  const std::int32_t j = 1 + rng.pick(ds.grid().nlat);
  const std::int32_t k = 1 + rng.pick(2);
  lat = ds.lat(j);
  lon = ds.lon(i);
  const bool along_x = across || rng.chance(0.5);
  const float p = ds.power(k, along_x ? 1 : 2);
  const float s = ds.scale(i, j, k, along_x ? 1 : 2);
  if (!(p > 0.0f) || !(s > 0.0f) || !std::isfinite(s)) return;
  const double km = std::pow(1.0 / static_cast<double>(s), 1.0 / static_cast<double>(p));
  const double per_degree =
      along_x ? static_cast<double>(kelvo::km_per_degree_lon(lat)) : static_cast<double>(kelvo::km_per_degree);
  if (!(per_degree > 0.0)) return;
  // To either side, so that both ends of the search are reached.
  const double side = across ? (i == 1 ? -1.0 : 1.0) : (rng.chance(0.5) ? 1.0 : -1.0);
  const double offset =
      side * (km / per_degree * (1.0 + 1e-7 * rng.uniform(-4.0, 8.0)) + (across ? rng.uniform(-3e-5, 3e-5) : 0.0));
  if (along_x) {
    lon = static_cast<float>(lon + offset);
  } else {
    lat = static_cast<float>(lat + offset);
  }
}

// An observation at the edge of the reach of a random point in distance and
// time together: a share f of the level spent along x or y, the rest by its
// time distance. Returns false where the point's scales give no such edge.
bool edge_in_time(const Sample& ds, Rng& rng, kelvo::Observation& o) {
  const std::int32_t i = 1 + rng.pick(ds.grid().nlon);
  const std::int32_t j = 1 + rng.pick(ds.grid().nlat);
  const std::int32_t k = 1 + rng.pick(2);
  const bool along_x = rng.chance(0.5);
  const float p = ds.power(k, along_x ? 1 : 2);
  const float s = ds.scale(i, j, k, along_x ? 1 : 2);
  const float pt = ds.power(k, 3);
  const float st = ds.scale(i, j, k, 3);
  const auto usable = [](float v) { return v > 0.0f && std::isfinite(v); };
  if (!usable(p) || !usable(s) || !usable(pt) || !usable(st)) return false;
  const double f = rng.chance(0.2) ? 0.0 : rng.uniform(0.0, 1.0);
  const double km = std::pow(f / static_cast<double>(s), 1.0 / static_cast<double>(p));
  const double per_degree =
      along_x ? static_cast<double>(kelvo::km_per_degree_lon(ds.lat(j))) : static_cast<double>(kelvo::km_per_degree);
  if (!(per_degree > 0.0)) return false;
  const double days = std::pow((1.0 - f) * (1.0 + 1e-7 * rng.uniform(-4.0, 8.0)) / static_cast<double>(st),
                               1.0 / static_cast<double>(pt));
  const double offset = (rng.chance(0.5) ? 1.0 : -1.0) * km / per_degree;
  o.lat = along_x ? ds.lat(j) : static_cast<float>(ds.lat(j) + offset);
  o.lon = along_x ? static_cast<float>(ds.lon(i) + offset) : ds.lon(i);
  o.time = static_cast<float>(ds.slot + (rng.chance(0.5) ? days : -days));
  return true;
}

// The time of an observation: at the slot or absent from it in most
// domains, and in some a few (each with its own search group) or many other
// time distances (one mixed group).
float random_time(const Sample& ds, Rng& rng, int time_mode) {
  if (time_mode == 0 || rng.chance(0.5)) return rng.chance(0.85) ? ds.slot : kelvo::absent_time;
  const float few[] = {0.5f, 1.0f, 3.0f};
  const float offset = time_mode == 1 ? few[rng.pick(3)] : static_cast<float>(rng.uniform(0.0, 20.0));
  return ds.slot + (rng.chance(0.5) ? offset : -offset);
}

void make_observations(Sample& ds, Rng& rng) {
  // A domain of thin search rows: many observations over the grid's
  // latitudes but far away in longitude (they seldom cover), none far away
  // in latitude (which would stretch the rows over thousands of degrees),
  // and a few at the edge of reach, mostly the only ones covering a point.
  const bool dense = rng.chance(0.25);
  const std::int32_t nobs = dense ? 100 + rng.pick(300) : rng.pick(40);
  const int time_mode = rng.pick(3);
  ds.obs.assign(static_cast<std::size_t>(nobs), kelvo::Observation{});
  const kelvo::Grid& g = ds.grid();
  const float span_lon = static_cast<float>(g.nlon) * g.dlon;
  const float span_lat = static_cast<float>(g.nlat) * g.dlat;
  for (std::int32_t n = 1; n <= nobs; ++n) {
    kelvo::Observation& o = ds.obs[static_cast<std::size_t>(n - 1)];
    const std::int32_t layers[] = {-9, -9, -9, 1, 2, 0};
    o.layer = layers[rng.pick(6)];
    o.time = random_time(ds, rng, time_mode);
    float lat = 0.0f;
    float lon = 0.0f;
    const int where = dense ? (rng.chance(0.15) ? (rng.chance(0.3) ? 10 : 0) : 11) : rng.pick(12);
    if (dense && where == 11) {
      o.lat = g.south + static_cast<float>(rng.uniform(-0.5, 1.5)) * span_lat;
      o.lon = g.west - 120.0f;
      continue;
    }
    if (where < 4) {
      edge_observation(ds, rng, lat, lon);
    } else if (where < 8) {
      lat = g.south + static_cast<float>(rng.uniform(-0.5, 1.5)) * span_lat;
      lon = g.west + static_cast<float>(rng.uniform(-0.5, 1.5)) * span_lon;
    } else if (where == 8) {
      lat = static_cast<float>(rng.uniform(-2000.0, 2000.0));  // far outside any grid
      lon = static_cast<float>(rng.uniform(-2000.0, 2000.0));
    } else if (where == 9) {
      lat = rng.chance(0.5) ? std::numeric_limits<float>::infinity() : ds.lat(1);
      lon = rng.chance(0.5) ? -std::numeric_limits<float>::infinity() : ds.lon(1);
    } else if (where == 10 && edge_in_time(ds, rng, o)) {
      continue;
    } else if (n > 1) {
      o = ds.obs[static_cast<std::size_t>(rng.pick(n - 1))];  // a twin of an earlier one
      continue;
    }
    o.lat = lat;
    o.lon = lon;
    if (!g.periodic || rng.chance(0.6)) continue;
    // At the seam, whole turns away, or near a pole.
    const float seam[] = {179.9f, -179.95f, 180.0f, -180.0f, 540.3f, -359.7f, g.west, g.west + 360.0f, 3e15f};
    if (rng.chance(0.4)) o.lon = seam[rng.pick(9)], o.lat = ds.lat(1 + rng.pick(g.nlat));
    if (rng.chance(0.4)) o.lon += 360.0f * static_cast<float>(rng.pick(5) - 2);
    if (rng.chance(0.2)) o.lat = (rng.chance(0.5) ? 1.0f : -1.0f) * (rng.chance(0.5) ? 89.9f : 90.0f);
  }
}

struct Disagreement {
  int domains = 0;
  int points = 0;
};

// The same layer with every observation tagged (1 to 5 tags) and only some
// points examined: the decisions per tag of both evaluations.
int tagged_disagreements(const Sample& ds, const kelvo::GridAxes& grid, const kelvo::LayerFields& layer,
                         Rng& rng, const kelvo::FastTuning& tuning) {
  const std::int32_t ntags = 1 + rng.pick(5);
  std::vector<std::uint32_t> tags(ds.obs.size());
  for (std::uint32_t& t : tags) t = static_cast<std::uint32_t>(rng.pick(ntags));
  const std::size_t n = static_cast<std::size_t>(ds.grid().plane_size());
  std::vector<std::uint8_t> among(n);
  for (std::uint8_t& a : among) a = rng.chance(0.7) ? 1 : 0;
  const int threads = 1 + rng.pick(3);
  const kelvo::PreparedObservations prepared =
      kelvo::prepare_observations(ds.obs, ds.slot, 1, 2, threads, tags, ntags, grid.wrap);
  // The fast search needs no observation once they are prepared.
  kelvo::PreparedObservations bare = kelvo::prepare_observations(ds.obs, ds.slot, 1, 2, threads, tags, ntags, grid.wrap);
  bare.source = {};
  std::vector<std::uint8_t> slow(n * static_cast<std::size_t>(ntags), 9), fast = slow;
  const kelvo::CoverageJob slow_job{layer, &prepared, among, slow}, fast_job{layer, &bare, among, fast};
  const auto ks = kelvo::count_covered(grid, {&slow_job, 1}, {kelvo::Evaluation::exhaustive, threads, tuning});
  const auto kf = kelvo::count_covered(grid, {&fast_job, 1}, {kelvo::Evaluation::fast, threads, tuning});
  int points = ks == kf ? 0 : 1;
  for (std::size_t q = 0; q < slow.size(); ++q) points += slow[q] != fast[q] ? 1 : 0;
  return points;
}

// The marking functions against count_covered, observation by observation,
// for a few observations among some points, with weights and groups.
int marking_disagreements(const Sample& ds, const kelvo::GridAxes& grid, const kelvo::LayerFields& layer, Rng& rng,
                          const kelvo::FastTuning& tuning) {
  const std::size_t n = static_cast<std::size_t>(grid.plane_size());
  std::vector<kelvo::Observation> few;
  std::vector<std::uint32_t> groups;
  for (const kelvo::Observation& o : ds.obs) {
    if (few.size() < 12 && rng.chance(0.2)) few.push_back(o), groups.push_back(static_cast<std::uint32_t>(rng.pick(3)));
  }
  std::vector<std::uint8_t> among(n), count(n, 0), tally(n, 0);
  std::vector<std::int32_t> weights(n), first(n, -1), first_coverer(n, -1), gains(few.size());
  std::vector<std::int64_t> weighed(few.size());
  for (std::size_t q = 0; q < n; ++q) among[q] = rng.chance(0.8) ? 1 : 0, weights[q] = rng.pick(5);
  const kelvo::LayerReach reach = kelvo::layer_reach(grid, layer, tuning);
  kelvo::count_newly_covered_each(grid, layer, reach, few, ds.slot, gains, among);
  kelvo::weigh_newly_covered_each(grid, layer, reach, few, ds.slot, weights, weighed, among);
  kelvo::tally_covered(grid, layer, reach, few, ds.slot, count, first, among, groups);
  int points = 0;
  for (std::size_t k = 0; k < few.size(); ++k) {
    std::vector<std::uint8_t> covered(n, 0);
    kelvo::count_covered(grid, layer, {&few[k], 1}, ds.slot, {kelvo::Evaluation::exhaustive, covered, among});
    std::int64_t c = 0, w = 0;
    for (std::size_t q = 0; q < n; ++q) {
      if (covered[q] == 0) continue;
      c += 1, w += weights[q];
      if (tally[q] == 0) tally[q] = 1, first_coverer[q] = static_cast<std::int32_t>(k);
      if (groups[static_cast<std::size_t>(first_coverer[q])] != groups[k]) tally[q] = 2;
    }
    const std::int64_t one = kelvo::count_newly_covered(grid, layer, reach, few[k], ds.slot, among);
    const std::int64_t one_weighed = kelvo::weigh_newly_covered(grid, layer, reach, few[k], ds.slot, weights, among);
    points += (c != gains[k]) + (c != one) + (w != weighed[k]) + (w != one_weighed);
  }
  for (std::size_t q = 0; q < n; ++q) points += (tally[q] != count[q]) + (first_coverer[q] != first[q]);
  return points;
}

// Compares the per-point decisions of both evaluations on `count` domains.
Disagreement compare(int count, const kelvo::FastTuning& tuning) {
  Disagreement d;
  for (int seed = 1; seed <= count; ++seed) {
    Rng rng(static_cast<std::uint32_t>(seed));
    Sample ds;
    ds.domain = make_domain(rng);
    make_observations(ds, rng);
    const kelvo::GridAxes grid = ds.domain.axes();
    bool differs = false;
    // The day taken a layer at a time with only the observations in the slot
    // indexed, the absent ones decided apart.
    kelvo::AssessRequest day_request;
    day_request.last_layer = 2;
    day_request.slot = ds.slot;
    day_request.keep_decisions = true;
    day_request.threads = 1 + rng.pick(2);
    kelvo::DayAssessor day(ds.obs, day_request, grid.wrap, false);
    for (std::int32_t k = 1; k <= 2; ++k) {
      const std::size_t n = static_cast<std::size_t>(ds.grid().plane_size());
      std::vector<std::uint8_t> slow(n, 9), fast(n, 9);
      const kelvo::LayerFields layer = ds.domain.fields(k);
      const float slot = ds.slot;
      const std::int32_t ks =
          kelvo::count_covered(grid, layer, ds.obs, slot, {kelvo::Evaluation::exhaustive, slow, {}, {}});
      // The rows shared among one to three threads, in bands of a row or more.
      const int threads = 1 + rng.pick(3);
      const std::int32_t kf =
          kelvo::count_covered(grid, layer, ds.obs, slot, {kelvo::Evaluation::fast, fast, {}, tuning, threads});
      // Observation by observation, and the proof that absent observations
      // cannot cover, give the same decisions.
      std::vector<std::uint8_t> marked(n, 0), by_absent(n, 9);
      kelvo::mark_covered(grid, layer, kelvo::layer_reach(grid, layer, tuning), ds.obs, slot, marked);
      std::vector<kelvo::Observation> absent;
      for (const kelvo::Observation& o : ds.obs) {
        if (o.time == kelvo::absent_time) absent.push_back(o);
      }
      kelvo::count_covered(grid, layer, absent, slot, {kelvo::Evaluation::exhaustive, by_absent, {}, {}});
      const std::vector<std::uint8_t> may = kelvo::absent_may_cover(grid, layer, std::fabs(slot - kelvo::absent_time));
      std::vector<std::uint8_t> by_layer(n, 9);
      if (day.layer(ds.domain, k, by_layer).covered != ks) ++d.points;
      for (std::size_t q = 0; q < n; ++q) {
        if (slow[q] != 9 && slow[q] != by_layer[q]) ++d.points;
        if (slow[q] != fast[q]) ++d.points;
        if (slow[q] != 9 && slow[q] != marked[q]) ++d.points;
        if (by_absent[q] == 1 && may[q] == 0) ++d.points;
      }
      const int tagged =
          tagged_disagreements(ds, grid, layer, rng, tuning) + marking_disagreements(ds, grid, layer, rng, tuning);
      d.points += tagged;
      if (ks != kf || slow != fast || tagged != 0) differs = true;
    }
    if (differs) ++d.domains;
  }
  return d;
}

constexpr int domain_count = 1000;

TEST(CoverageDifferential, FastAgreesWithExhaustiveOnEveryPoint) {
  const Disagreement d = compare(domain_count, kelvo::FastTuning{});
  EXPECT_EQ(d.domains, 0);
  EXPECT_EQ(d.points, 0);
}

// The same domains without the safety margin: the edge observations must
// then produce disagreements, or the test above would not be guarding it.
TEST(CoverageDifferential, EdgeObservationsNeedTheSafetyMargin) {
  const Disagreement d = compare(domain_count, kelvo::FastTuning{0.0});
  EXPECT_GT(d.points, 0);
  std::cout << "disagreeing points without margin: " << d.points << " in " << d.domains << " domains\n";
}

// An observation at 179.9 E covers points on both sides of the seam of a
// global grid, and only its own side once the grid is taken as not
// periodic; observations prepared for the one are refused on the other.
TEST(CoverageDifferential, AnObservationCoversAcrossTheSeamOfAPeriodicGridOnly) {
  kelvo::Grid g;
  g.nlon = 360, g.nlat = 1, g.nz = 1, g.levnum = {1}, g.west = -180.0f, g.dlon = 1.0f, g.dlat = 1.0f, g.periodic = true;
  kelvo::build_axes(g);
  const std::vector<float> scales(3 * 360, 1.0f / 300.0f);  // a reach of 300 km: 2.7 degrees at the equator
  const kelvo::Domain d = kelvo::Domain::build("Glb", "salt", g, {1, 1, 360, scales, {{1.0f, 1.0f, 1.0f}}});
  kelvo::GridAxes grid = d.axes();
  const kelvo::Observation o{0.0f, 179.9f, 1096.0f, kelvo::every_layer, 0};
  for (const bool periodic : {true, false}) {
    grid.wrap.periodic = periodic;
    std::vector<std::uint8_t> covered(360, 0), marked(360, 0);
    kelvo::count_covered(grid, d.fields(1), {&o, 1}, 1096.0f, {kelvo::Evaluation::fast, covered});
    kelvo::mark_covered(grid, d.fields(1), kelvo::layer_reach(grid, d.fields(1)), {&o, 1}, 1096.0f, marked);
    EXPECT_EQ(covered, marked);
    EXPECT_EQ(std::vector<int>({covered[358], covered[359], covered[0], covered[1]}),
              std::vector<int>({1, 1, periodic, periodic}));  // at 178 E, 179 E, 180 W, 179 W
  }
  const kelvo::PreparedObservations flat = kelvo::prepare_observations({&o, 1}, 1096.0f, 1, 1);
  const kelvo::CoverageJob job{d.fields(1), &flat};
  EXPECT_THROW(kelvo::count_covered(d.axes(), {&job, 1}, {}), kelvo::Error);
}

TEST(CoverageDifferential, ReachHasNoBoundWhereWeightsDoNotShrink) {
  const kelvo::FastTuning t;
  for (float p : {0.0f, -1.0f, nan_from_zero_over_zero(), std::numeric_limits<float>::infinity()}) {
    EXPECT_TRUE(std::isinf(kelvo::reach_km(p, 0.01f, t))) << p;
  }
  for (float s : {0.0f, -0.01f, nan_from_zero_over_zero(), std::numeric_limits<float>::infinity()}) {
    EXPECT_TRUE(std::isinf(kelvo::reach_km(1.0f, s, t))) << s;
  }
  // With p = 1 and s = 0.01 the exact reach is 100 km; the margin widens it a little.
  EXPECT_GT(kelvo::reach_km(1.0f, 0.01f, t), 100.0);
  EXPECT_LT(kelvo::reach_km(1.0f, 0.01f, t), 100.1);
}

// A series on random domains (half of them with px = py = 2, where the
// quadratic test decides most points) against the exhaustive evaluation of
// each day: records at every time, one-time, with short and long spans and
// in no day's slot, days in any order and some twice, and (one domain in
// five, with fewer records) 300 days, so that spans outlast 255 of them.
TEST(SeriesDifferential, EveryDayIsThatDaysExhaustiveDecision) {
  int disagreements = 0;
  for (int seed = 1; seed <= 250; ++seed) {
    Rng rng(static_cast<std::uint32_t>(seed) + 7000u);
    Sample ds;
    ds.domain = make_domain(rng, seed % 2 == 0);
    make_observations(ds, rng);
    const int ndays = seed % 5 == 0 ? 300 : 1 + rng.pick(6);
    if (ndays > 10 && ds.obs.size() > 12) ds.obs.resize(12);
    const kelvo::GridAxes grid = ds.domain.axes();
    kelvo::SeriesRequest request;
    request.last_layer = 2;
    request.by_kind = true;
    request.threads = 1 + rng.pick(2);
    for (int d = 0; d < ndays; ++d) request.slots.push_back(ds.slot + static_cast<float>(ndays > 10 ? d : rng.pick(8) - 2));
    std::vector<kelvo::ObservationRecord> records;
    for (const kelvo::Observation& o : ds.obs) {
      kelvo::ObservationRecord r;
      r.lat = o.lat, r.lon = o.lon, r.layer = o.layer, r.kind = 1 + rng.pick(3);
      const float start = ds.slot + static_cast<float>(rng.uniform(-4.0, ndays + 2.0));
      const float lengths[] = {0.0f, 0.3f, 1.0f, 2.5f, 280.0f};
      r.time = rng.chance(0.1) ? kelvo::TimeSpan::always()
                               : (rng.chance(0.1) ? kelvo::TimeSpan::at(ds.slot - 400.0f)
                                                  : kelvo::TimeSpan{start, start + lengths[rng.pick(5)]});
      records.push_back(r);
    }
    kelvo::SeriesAssessor series(records, request);
    const std::size_t n = static_cast<std::size_t>(ds.grid().plane_size());
    for (std::int32_t k = 1; k <= 2; ++k) {
      const kelvo::SeriesLayer got = series.layer(ds.domain, k);
      const kelvo::LayerFields layer = ds.domain.fields(k);
      std::vector<std::int32_t> days(n, 0);
      for (std::size_t d = 0; d < request.slots.size(); ++d) {
        const float slot = request.slots[d];
        const std::vector<kelvo::Observation> placed = kelvo::place_at(records, slot);
        std::vector<std::uint8_t> plane(n, 0);
        const std::int32_t covered =
            kelvo::count_covered(grid, layer, placed, slot, {kelvo::Evaluation::exhaustive, plane, {}, {}});
        disagreements += covered != got.covered_points[d];
        for (std::size_t q = 0; q < n; ++q) days[q] += plane[q];
        for (std::size_t c = 0; c < series.kinds().size(); ++c) {
          std::vector<kelvo::Observation> kind;
          for (const kelvo::Observation& o : placed) {
            if (o.kind == series.kinds()[c]) kind.push_back(o);
          }
          const std::int32_t own = kelvo::count_covered(grid, layer, kind, slot, {kelvo::Evaluation::exhaustive});
          const float share = static_cast<float>(own) / static_cast<float>(ds.domain.nwater(k));
          const float seen = got.coverage_by_kind[d * series.kinds().size() + c];
          disagreements += !(seen == share || (std::isnan(seen) && std::isnan(share)));
        }
      }
      disagreements += days != got.covered_days;
    }
  }
  EXPECT_EQ(disagreements, 0);
}

// The quadratic test settles the decision only where the weights agree:
// distances and scales drawn round the threshold, and extreme ones.
TEST(SeriesDifferential, TheQuadraticTestAgreesWithTheWeights) {
  Rng rng(99);
  kelvo::PointScales p{0.0f, 0.0f, 100.0f, 0.0f, 0.0f, 0.1f, 2.0f, 2.0f, 1.0f, {}};
  int settled = 0, disagreements = 0;
  for (int n = 0; n < 2000000; ++n) {
    const double reach = std::pow(10.0, rng.uniform(-3.0, 4.0));
    p.sx = static_cast<float>(1.0 / (reach * reach));
    p.sy = rng.chance(0.01) ? 0.0f : static_cast<float>(p.sx * rng.uniform(0.2, 5.0));
    // Mostly within a few parts in ten thousand of the threshold, in both directions.
    const double u = rng.chance(0.5) ? 1.0 + rng.uniform(-3e-4, 3e-4) : rng.uniform(0.0, 3.0);
    const double share = rng.uniform(0.0, 1.0);
    const float lon = static_cast<float>(std::sqrt(u * share / p.sx) / p.dxkm);
    const float lat = p.sy > 0.0f ? static_cast<float>(std::sqrt(u * (1.0 - share) / p.sy) / kelvo::km_per_degree) : 0.0f;
    const bool weights = kelvo::observation_covers(p, lat, lon, 0.0f);
    const float dx = p.wrap.separation(lon, p.lon) * p.dxkm, dy = std::fabs(lat - p.lat) * kelvo::km_per_degree;
    const kelvo::Quick quick = kelvo::quadratic_test(dx, dy, p.sx, p.sy);
    settled += quick != kelvo::Quick::unsure;
    disagreements += quick != kelvo::Quick::unsure && (quick == kelvo::Quick::covered) != weights;
    disagreements += kelvo::observation_covers_at_slot(p, lat, lon) != weights;
  }
  for (const float big : {1e19f, 1e30f, std::numeric_limits<float>::infinity()}) {
    for (const float s : {1e-38f, 1e-30f, 0.0f}) {
      p.sx = p.sy = s;
      const float lon = big / p.dxkm;
      disagreements += kelvo::observation_covers_at_slot(p, 0.0f, lon) != kelvo::observation_covers(p, 0.0f, lon, 0.0f);
    }
  }
  EXPECT_EQ(disagreements, 0);
  EXPECT_GT(settled, 1600000);  // only a sixth lie in the band, where the weights are needed
}

}  // namespace
