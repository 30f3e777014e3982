// The coverage series file: a CF-1.8 netCDF-4 file with the assessment days,
// each day's covered points and effective coverage per layer, and the share
// of the days each water point is covered.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/series.hpp"
#include "io/netcdf.hpp"

namespace kelvo::io {

struct SeriesContents {
  FileAttributes attributes;              // assessment_day holds the period
  std::vector<float> lon, lat;
  std::vector<std::int32_t> layer, levnum, nwater;
  std::vector<double> time_days;          // days since 2001-01-01 00:00
  std::vector<std::int32_t> covered_points;      // time x layer
  std::vector<float> effective_coverage;         // time x layer
  std::vector<std::int32_t> observations_in_slot;  // time
  std::vector<float> covered_days_fraction;      // layer x lat x lon, fill value on land
  std::vector<std::int32_t> kind;                // empty without per-kind figures
  std::vector<float> coverage_by_kind;           // time x kind x layer
};

// The fill value of covered_days_fraction on land.
inline constexpr float series_fill = 9.9692099683868690e+36f;

// Everything of the series of layers r.k_first.. of `grid` over the days of
// `slots` but its values by day and layer (zeros), the layers' water points
// (zeros) and the covered days (empty): what a series written a layer at a
// time fills as it goes.
SeriesContents series_frame(const Grid& grid, const SeriesResult& result, std::span<const float> slots,
                            FileAttributes attributes);

// The contents of the series `result` of `domain` over the days of `slots`.
SeriesContents series_contents(const Domain& domain, const SeriesResult& result, std::span<const float> slots,
                               FileAttributes attributes);

// Writes `contents` to `path` through a temporary file (an Error,
// cannot_write, when it could not be written).
void write_series_file(const std::string& path, const SeriesContents& contents);

// The series written a layer at a time, so that a run holds one layer's
// plane: `contents` is complete but for covered_days_fraction (left empty),
// and `layer(n, fractions)` fills the plane of the n-th layer of
// contents.layer (called in order, from 0). The values by day and layer are
// written after the last layer, from `contents` as the calls left it.
// Written through a temporary file as write_series_file is.
void write_series_file_by_layer(const std::string& path, const SeriesContents& contents,
                                const std::function<void(std::size_t n, std::span<float> fractions)>& layer);

// The covered_days_fraction plane of a layer from its water points and the
// days each point is covered, out of `days`.
void covered_days_fraction(std::span<const std::int32_t> water, std::span<const std::int32_t> covered_days,
                           std::size_t days, std::span<float> fractions);

// Defines and fills the series' dimensions, variables and attributes in the
// open file `f` (in define mode): the body of write_series_file, also run on
// a file in memory by the Python module.
void fill_series_file(const NcFile& f, const SeriesContents& contents);

}  // namespace kelvo::io
