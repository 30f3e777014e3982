// Everything the coverage map file holds, as plain arrays in the order the
// file stores them (the last dimension varying fastest).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {

struct MapAttributes {
  std::string title;
  std::string domain;
  std::string parameter;
  std::string assessment_day;           // ISO date, e.g. "2004-01-01"
  std::string grid_configuration_file;  // the grid configuration file read
  std::string scale_directory;          // the folder of the scale and exponent files
  std::string metadata_file;            // the observation list read
  std::string history;                  // time of the run and its command line
};

struct MapContents {
  MapAttributes attributes;
  std::vector<float> lon;                // grid columns, degrees east
  std::vector<float> lat;                // grid rows, degrees north
  std::vector<std::int32_t> layer;       // assessed layers
  std::vector<std::int32_t> levnum;      // level number of each assessed layer
  float time_days = 0.0f;                // assessment day, days since 2001-01-01 00:00
  std::vector<std::int8_t> coverage;     // layer x lat x lon, coverage classes
  std::vector<std::int32_t> nwater;      // per layer
  std::vector<std::int32_t> covered_points;
  std::vector<float> effective_coverage;
  std::vector<float> obs_lat;            // per kept observation
  std::vector<float> obs_lon;
  std::vector<std::int32_t> obs_kind;
  std::vector<std::int32_t> obs_layer;
  std::vector<std::int8_t> obs_present;  // 1 when placed in the time slot
  std::vector<std::int32_t> kind;        // kind codes present, ascending
  std::vector<float> coverage_by_kind;   // kind x layer
  std::vector<float> coverage_without_kind;
};

}  // namespace kelvo
