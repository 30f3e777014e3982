#include "io/series_file.hpp"

#include "core/error.hpp"


namespace kelvo::io {

namespace {

struct SeriesDims {
  int time = -1, layer = -1, lat = -1, lon = -1, kind = -1;
};

void define_axes(const NcFile& f, const SeriesDims& d) {
  const int time = def_var(f, "time", NC_DOUBLE, {d.time});
  describe(f, time, "assessment day", "days since 2001-01-01 00:00:00");
  text_att(f, time, "standard_name", "time");
  text_att(f, time, "calendar", kelvo_calendar);
  text_att(f, time, "axis", "T");
  define_horizontal_axes(f, d.lon, d.lat);
  define_layer_axes(f, d.layer);
  describe(f, def_var(f, "nwater", NC_INT, {d.layer}), "number of water points of the layer");
}

void define_series(const NcFile& f, const SeriesDims& d, bool by_kind) {
  const int covered = def_var(f, "covered_points", NC_INT, {d.time, d.layer});
  describe(f, covered, "number of covered water points of the layer on the day");
  text_att(f, covered, "coordinates", "levnum");
  const int eff = def_var(f, "effective_coverage", NC_FLOAT, {d.time, d.layer});
  describe(f, eff, "effective coverage: covered share of the water points of the layer on the day", "1");
  text_att(f, eff, "coordinates", "levnum");
  describe(f, def_var(f, "observations_in_slot", NC_INT, {d.time}),
           "number of kept observations placed in the time slot of the day");
  const int share = def_var(f, "covered_days_fraction", NC_FLOAT, {d.layer, d.lat, d.lon});
  describe(f, share, "share of the days of the series on which the water point is covered", "1");
  text_att(f, share, "coordinates", "levnum");
  check(f, nc_put_att_float(f.ncid, share, "_FillValue", NC_FLOAT, 1, &series_fill), "_FillValue");
  if (!by_kind) return;
  const int kind = def_var(f, "kind", NC_INT, {d.kind});
  describe(f, kind, "platform kind code");
  kind_flags(f, kind);
  const int kinds = def_var(f, "coverage_by_kind", NC_FLOAT, {d.time, d.kind, d.layer});
  describe(f, kinds, "effective coverage with the observations of this kind alone", "1");
  text_att(f, kinds, "coordinates", "levnum");
}

void define_series_file(const NcFile& f, const SeriesContents& s) {
  const bool by_kind = !s.kind.empty();
  SeriesDims d;
  d.time = def_dim(f, "time", s.time_days.size());
  d.layer = def_dim(f, "layer", s.layer.size());
  d.lat = def_dim(f, "lat", s.lat.size());
  d.lon = def_dim(f, "lon", s.lon.size());
  if (by_kind) d.kind = def_dim(f, "kind", s.kind.size());
  define_globals(f, s.attributes, "kelvo series: effective coverage of an ocean observing network through time",
                 "assessment_period");
  define_axes(f, d);
  define_series(f, d, by_kind);
  check(f, nc_enddef(f.ncid), "nc_enddef");
}

void put_series(const NcFile& f, const SeriesContents& s) {
  const std::size_t nt = s.time_days.size(), nl = s.layer.size(), ny = s.lat.size(), nx = s.lon.size();
  put(f, "time", s.time_days, {nt});
  put(f, "lon", s.lon, {nx});
  put(f, "lat", s.lat, {ny});
  put(f, "layer", s.layer, {nl});
  put(f, "levnum", s.levnum, {nl});
  put(f, "nwater", s.nwater, {nl});
  put(f, "covered_points", s.covered_points, {nt, nl});
  put(f, "effective_coverage", s.effective_coverage, {nt, nl});
  put(f, "observations_in_slot", s.observations_in_slot, {nt});
  if (!s.covered_days_fraction.empty()) put(f, "covered_days_fraction", s.covered_days_fraction, {nl, ny, nx});
  if (!s.kind.empty()) {
    put(f, "kind", s.kind, {s.kind.size()});
    put(f, "coverage_by_kind", s.coverage_by_kind, {nt, s.kind.size(), nl});
  }
}

}  // namespace

void write_series_file(const std::string& path, const SeriesContents& s) {
  write_netcdf_file(path, [&](const NcFile& f) { fill_series_file(f, s); });
}

void fill_series_file(const NcFile& f, const SeriesContents& s) {
  define_series_file(f, s);
  put_series(f, s);
}

void write_series_file_by_layer(const std::string& path, const SeriesContents& s,
                                const std::function<void(std::size_t n, std::span<float> fractions)>& layer) {
  // The library is held but while a layer is made (the next one may then be read meanwhile).
  std::unique_lock<std::mutex> hold(library_lock());
  write_netcdf_file(path, [&](const NcFile& f) {
    define_series_file(f, s);
    int var = -1;
    check(f, nc_inq_varid(f.ncid, "covered_days_fraction", &var), "nc_inq_varid");
    std::vector<float> fractions;
    allocate(fractions, element_count({static_cast<std::int64_t>(s.lat.size()), static_cast<std::int64_t>(s.lon.size())}),
             series_fill, "write_series_file", "covered_days_fraction");
    for (std::size_t n = 0; n < s.layer.size(); ++n) {
      without_library(hold, [&] { layer(n, fractions); });
      if (fractions.empty()) continue;
      const std::size_t start[3] = {n, 0, 0};
      const std::size_t count[3] = {1, s.lat.size(), s.lon.size()};
      check(f, nc_put_vara_float(f.ncid, var, start, count, fractions.data()), "nc_put_vara covered_days_fraction");
    }
    put_series(f, s);
  });
}

void covered_days_fraction(std::span<const std::int32_t> water, std::span<const std::int32_t> covered_days,
                           std::size_t days, std::span<float> fractions) {
  for (std::size_t q = 0; q < fractions.size(); ++q) {
    fractions[q] = water[q] == 1 ? static_cast<float>(covered_days[q]) / static_cast<float>(days) : series_fill;
  }
}

SeriesContents series_frame(const Grid& grid, const SeriesResult& r, std::span<const float> slots,
                            FileAttributes attributes) {
  SeriesContents c;
  c.attributes = std::move(attributes);
  c.lon = grid.lon;
  c.lat = grid.lat;
  for (std::int32_t l = 0; l < r.layers; ++l) {
    c.layer.push_back(r.k_first + l);
    c.levnum.push_back(grid.level_number(r.k_first + l));
  }
  c.nwater.assign(c.layer.size(), 0);
  for (float slot : slots) c.time_days.push_back(static_cast<double>(slot) - 1.0);
  const std::size_t days = slots.size(), layers = c.layer.size();
  c.covered_points.assign(days * layers, 0);
  c.effective_coverage.assign(days * layers, 0.0f);
  c.observations_in_slot = r.observations_in_slot;
  c.kind = r.kinds;
  c.coverage_by_kind.assign(days * c.kind.size() * layers, 0.0f);
  return c;
}

SeriesContents series_contents(const Domain& domain, const SeriesResult& r, std::span<const float> slots,
                               FileAttributes attributes) {
  SeriesContents c = series_frame(domain.grid(), r, slots, std::move(attributes));
  for (std::size_t l = 0; l < c.layer.size(); ++l) c.nwater[l] = domain.nwater(c.layer[l]);
  c.covered_points = r.covered_points;
  c.effective_coverage = r.effective_coverage;
  const std::size_t plane = static_cast<std::size_t>(domain.grid().plane_size());
  c.covered_days_fraction.assign(r.covered_days.size(), series_fill);
  for (std::size_t l = 0; l < c.layer.size(); ++l) {
    covered_days_fraction(domain.layer(c.layer[l]).water,
                          std::span<const std::int32_t>(r.covered_days).subspan(l * plane, plane), slots.size(),
                          std::span<float>(c.covered_days_fraction).subspan(l * plane, plane));
  }
  c.coverage_by_kind = r.coverage_by_kind;
  return c;
}

}  // namespace kelvo::io
