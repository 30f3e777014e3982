#include "io/map_file.hpp"

#include <algorithm>

#include "core/calendar.hpp"

namespace kelvo::io {

namespace {

struct Dims {
  int lon = -1, lat = -1, layer = -1, obs = -1, kind = -1;
};

void define_grid(const NcFile& f, const Dims& d, std::string_view calendar) {
  define_horizontal_axes(f, d.lon, d.lat);
  define_layer_axes(f, d.layer);
  define_day(f, calendar);
}

void define_coverage(const NcFile& f, const Dims& d, const MapContents& m) {
  const int cov = def_var(f, "coverage", NC_BYTE, {d.layer, d.lat, d.lon});
  describe(f, cov, "coverage class of the grid point");
  byte_att(f, cov, "flag_values", {0, 1, 2});
  text_att(f, cov, "flag_meanings", "land water_not_covered water_covered");
  text_att(f, cov, "coordinates", "time levnum");
  const std::size_t chunks[3] = {1, std::max<std::size_t>(m.lat.size(), 1), std::max<std::size_t>(m.lon.size(), 1)};
  if (!f.in_memory) {
    check(f, nc_def_var_chunking(f.ncid, cov, NC_CHUNKED, chunks), "nc_def_var_chunking");
    // Level 1: class maps are long runs of few values, which the fastest level packs nearly as well.
    check(f, nc_def_var_deflate(f.ncid, cov, 0, 1, 1), "nc_def_var_deflate");
  }
  describe(f, def_var(f, "nwater", NC_INT, {d.layer}), "number of water points of the layer");
  describe(f, def_var(f, "covered_points", NC_INT, {d.layer}),
           "number of covered water points of the layer");
  describe(f, def_var(f, "effective_coverage", NC_FLOAT, {d.layer}),
           "effective coverage: covered share of the water points of the layer", "1");
}

void define_observations(const NcFile& f, const Dims& d, bool kind_names) {
  define_observation_positions(f, d.obs);
  const int kind = def_var(f, "obs_kind", NC_INT, {d.obs});
  describe(f, kind, "platform kind code of the observation");
  if (kind_names) kind_flags(f, kind);
  text_att(f, kind, "coordinates", "obs_lat obs_lon");
  const int layer = def_var(f, "obs_layer", NC_INT, {d.obs});
  describe(f, layer, "layer the observation counts for");
  text_att(f, layer, "comment", "-9: every layer; 0: no layer; n > 0: layer n only");
  text_att(f, layer, "coordinates", "obs_lat obs_lon");
  const int present = def_var(f, "obs_present", NC_BYTE, {d.obs});
  describe(f, present, "observation in the time slot of the assessment day");
  byte_att(f, present, "flag_values", {0, 1});
  text_att(f, present, "flag_meanings", "absent present");
  text_att(f, present, "coordinates", "obs_lat obs_lon");
}

void define_kinds(const NcFile& f, const Dims& d, bool kind_names) {
  const int kind = def_var(f, "kind", NC_INT, {d.kind});
  describe(f, kind, "platform kind code");
  if (kind_names) kind_flags(f, kind);
  const int by = def_var(f, "coverage_by_kind", NC_FLOAT, {d.kind, d.layer});
  describe(f, by, "effective coverage with the observations of this kind alone", "1");
  text_att(f, by, "coordinates", "levnum");
  const int without = def_var(f, "coverage_without_kind", NC_FLOAT, {d.kind, d.layer});
  describe(f, without, "effective coverage with the observations of every kind but this one", "1");
  text_att(f, without, "coordinates", "levnum");
}

std::size_t observation_count(const MapContents& m) {
  return m.obs_records.empty() ? m.obs_lat.size() : m.obs_records.size();
}

// The observation variables from the records, placed at the day's slot a
// block at a time.
void put_records(const NcFile& f, const MapContents& m) {
  constexpr std::size_t block = 65536;
  MapContents part;
  for (std::size_t first = 0; first < m.obs_records.size(); first += block) {
    const std::span<const ObservationRecord> records = m.obs_records.subspan(first, std::min(block, m.obs_records.size() - first));
    part.obs_lat.clear();
    part.obs_lon.clear();
    part.obs_kind.clear();
    part.obs_layer.clear();
    part.obs_present.clear();
    for (const ObservationRecord& r : records) {
      const Observation o = placed(r, m.obs_slot);
      part.obs_lat.push_back(o.lat);
      part.obs_lon.push_back(o.lon);
      part.obs_kind.push_back(o.kind);
      part.obs_layer.push_back(o.layer);
      part.obs_present.push_back(o.time != absent_time ? 1 : 0);
    }
    put(f, "obs_lat", part.obs_lat, {records.size()}, first);
    put(f, "obs_lon", part.obs_lon, {records.size()}, first);
    put(f, "obs_kind", part.obs_kind, {records.size()}, first);
    put(f, "obs_layer", part.obs_layer, {records.size()}, first);
    put(f, "obs_present", part.obs_present, {records.size()}, first);
  }
}

void put_all(const NcFile& f, const MapContents& m) {
  const std::size_t nlon = m.lon.size(), nlat = m.lat.size(), nlayer = m.layer.size();
  const std::size_t nobs = observation_count(m), nkind = m.kind.size();
  put(f, "lon", m.lon, {nlon});
  put(f, "lat", m.lat, {nlat});
  put(f, "layer", m.layer, {nlayer});
  put(f, "levnum", m.levnum, {nlayer});
  put_day(f, m.time_days);
  if (!m.coverage.empty()) put(f, "coverage", m.coverage, {nlayer, nlat, nlon});
  put(f, "nwater", m.nwater, {nlayer});
  put(f, "covered_points", m.covered_points, {nlayer});
  put(f, "effective_coverage", m.effective_coverage, {nlayer});
  if (!m.obs_records.empty()) {
    put_records(f, m);
  } else {
    put(f, "obs_lat", m.obs_lat, {nobs});
    put(f, "obs_lon", m.obs_lon, {nobs});
    put(f, "obs_kind", m.obs_kind, {nobs});
    put(f, "obs_layer", m.obs_layer, {nobs});
    put(f, "obs_present", m.obs_present, {nobs});
  }
  if (!m.obs_platform.empty() || !m.obs_records.empty()) {
    put_strings(f, "obs_platform", observation_count(m), [&](std::size_t n) {
      const std::uint32_t p = m.obs_records.empty() ? m.obs_platform[n] : m.obs_records[n].platform;
      return p < m.platforms.size() ? std::string_view(m.platforms[p]) : std::string_view{};
    });
  }
  if (nkind == 0 && m.kind_names) return;
  put(f, "kind", m.kind, {nkind});
  put(f, "coverage_by_kind", m.coverage_by_kind, {nkind, nlayer});
  put(f, "coverage_without_kind", m.coverage_without_kind, {nkind, nlayer});
}

void define_map(const NcFile& f, const MapContents& m) {
  Dims d;
  d.lon = def_dim(f, "lon", m.lon.size());
  d.lat = def_dim(f, "lat", m.lat.size());
  d.layer = def_dim(f, "layer", m.layer.size());
  d.obs = def_dim(f, "obs", observation_count(m));
  const bool kinds = !m.kind_names || !m.kind.empty();
  if (kinds) d.kind = def_dim(f, "kind", m.kind.size());
  define_globals(f, m.attributes, m.source, "assessment_day");
  define_grid(f, d, m.calendar);
  define_coverage(f, d, m);
  define_observations(f, d, m.kind_names);
  if (!m.obs_platform.empty() || !m.obs_records.empty()) {
    std::size_t width = 0;
    for (const std::string& id : m.platforms) width = std::max(width, id.size());
    define_observation_platforms(f, d.obs, width);
  }
  if (kinds) define_kinds(f, d, m.kind_names);
  check(f, nc_enddef(f.ncid), "nc_enddef");
}

}  // namespace

void write_map_file(const std::string& path, const MapContents& m) {
  write_netcdf_file(path, [&](const NcFile& f) { fill_map_file(f, m); });
}

void fill_map_file(const NcFile& f, const MapContents& m) {
  define_map(f, m);
  put_all(f, m);
}

void write_map_file_by_layer(const std::string& path, const MapContents& m,
                             const std::function<void(std::size_t n, std::span<std::int8_t> classes)>& layer) {
  // The library is held but while a layer is made (the next one may then be read meanwhile).
  std::unique_lock<std::mutex> hold(library_lock());
  write_netcdf_file(path, [&](const NcFile& f) {
    define_map(f, m);
    int var = -1;
    check(f, nc_inq_varid(f.ncid, "coverage", &var), "nc_inq_varid");
    // Each layer is one whole chunk, written once: no cache to hold it.
    check(f, nc_set_var_chunk_cache(f.ncid, var, 0, 0, 0.0f), "nc_set_var_chunk_cache");
    std::vector<std::int8_t> classes;
    allocate(classes, element_count({static_cast<std::int64_t>(m.lat.size()), static_cast<std::int64_t>(m.lon.size())}),
             std::int8_t{0}, "write_map_file", "coverage");
    for (std::size_t n = 0; n < m.layer.size(); ++n) {
      without_library(hold, [&] { layer(n, classes); });
      const std::size_t start[3] = {n, 0, 0};
      const std::size_t count[3] = {1, m.lat.size(), m.lon.size()};
      if (classes.empty()) continue;
      check(f, nc_put_vara_schar(f.ncid, var, start, count, reinterpret_cast<const signed char*>(classes.data())),
            "nc_put_vara coverage");
    }
    put_all(f, m);
  });
}

void set_observations(MapContents& m, std::span<const Observation> observations) {
  for (const Observation& o : observations) {
    m.obs_lat.push_back(o.lat);
    m.obs_lon.push_back(o.lon);
    m.obs_kind.push_back(o.kind);
    m.obs_layer.push_back(o.layer);
    m.obs_present.push_back(o.time != absent_time ? 1 : 0);
  }
}

MapContents map_contents(const Domain& domain, const Assessment& a, CoverageClasses&& classes,
                         const KindContributions& kinds) {
  MapContents m;
  m.lon = domain.grid().lon;
  m.lat = domain.grid().lat;
  m.time_days = days_since_2001(a.slot);
  for (const LayerResult& l : a.layers) {
    m.layer.push_back(l.layer);
    m.levnum.push_back(domain.grid().level_number(l.layer));
    m.nwater.push_back(l.nwater);
    m.effective_coverage.push_back(l.coverage);
  }
  m.coverage = std::move(classes.classes);
  m.covered_points = std::move(classes.covered_points);
  set_observations(m, a.observations);
  m.kind = kinds.kinds;
  m.coverage_by_kind = kinds.by_kind;
  m.coverage_without_kind = kinds.without_kind;
  return m;
}

}  // namespace kelvo::io
