// The coverage series file: a CF-1.8 netCDF-4 file with the assessment days,
// each day's covered points and effective coverage per layer, and the share
// of the days each water point is covered.
#pragma once

#include <cstdint>
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

// The contents of the series `result` of `domain` over the days of `slots`.
SeriesContents series_contents(const Domain& domain, const SeriesResult& result, std::span<const float> slots,
                               FileAttributes attributes);

// Writes `contents` to `path` through a temporary file (an Error,
// cannot_write, when it could not be written).
void write_series_file(const std::string& path, const SeriesContents& contents);

// Defines and fills the series' dimensions, variables and attributes in the
// open file `f` (in define mode): the body of write_series_file, also run on
// a file in memory by the Python module.
void fill_series_file(const NcFile& f, const SeriesContents& contents);

}  // namespace kelvo::io
