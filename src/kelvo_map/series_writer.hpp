// The coverage series file: a CF-1.8 netCDF-4 file with the assessment days,
// each day's covered points and effective coverage per layer, and the share
// of the days each water point is covered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kelvo_map/map_contents.hpp"

namespace kelvo {

struct SeriesContents {
  MapAttributes attributes;               // assessment_day holds the period
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

// Writes `contents` to `path` through a temporary file; false, with the
// failing step and the library's message, when it could not be written.
bool write_series_file(const std::string& path, const SeriesContents& contents, std::string& reason);

}  // namespace kelvo
