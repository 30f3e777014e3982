// The coverage map file of one assessment day (CF-1.8, netCDF-4): the grid,
// the coverage class of every point of the assessed layers, each layer's
// water points, covered points and effective coverage, the observations
// with their kind, layer and presence in the day's slot, and what each
// observation kind adds.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/assess.hpp"
#include "core/contributions.hpp"
#include "core/observations.hpp"
#include "io/netcdf.hpp"

namespace kelvo::io {

// Everything the file holds, as plain arrays in the order the file stores
// them (the last dimension varying fastest).
struct MapContents {
  FileAttributes attributes;
  std::string source = "kelvo_map: effective coverage of an ocean observing network";
  // kelvo's maps: the kind variables carry the kinds' names as flags, and
  // are left out when no kind was assessed.
  bool kind_names = false;
  std::string calendar = "standard";  // of the time variable; kelvo's maps: kelvo_calendar
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
  // kelvo's maps (obs_platform when not empty): each kept observation's
  // index in `platforms`, the platform ids.
  std::vector<std::uint32_t> obs_platform;
  std::span<const std::string> platforms;
  // Instead of the obs_ vectors (left empty), the records themselves, placed
  // at the day's slot as they are written a block at a time (kelvo map, so
  // that a large network is not held twice).
  std::span<const ObservationRecord> obs_records;
  float obs_slot = 0.0f;  // the slot they are placed at
  std::vector<std::int32_t> kind;        // kind codes present, ascending
  std::vector<float> coverage_by_kind;   // kind x layer
  std::vector<float> coverage_without_kind;
};

// The contents of the map of `assessment` (with its decisions), its
// coverage classes and the kinds' contributions.
MapContents map_contents(const Domain& domain, const Assessment& assessment, CoverageClasses&& classes,
                         const KindContributions& kinds);

// Writes `contents` to `path` through a temporary file; nothing is left
// there but the whole file, and an older file stays as it was on a failure
// (an Error, cannot_write).
void write_map_file(const std::string& path, const MapContents& contents);

// The map written a layer at a time, so that a run holds one layer of
// classes: `contents` is complete but for `coverage` (left empty), and
// `layer(n, classes)` fills the classes of the n-th layer of contents.layer
// (called in order, from 0). The per-layer values and the kinds' shares are
// written after the last layer, from `contents` as the calls left it. Written
// through a temporary file as write_map_file is.
void write_map_file_by_layer(const std::string& path, const MapContents& contents,
                             const std::function<void(std::size_t n, std::span<std::int8_t> classes)>& layer);

// The per-observation variables of `contents` from the placed observations.
void set_observations(MapContents& contents, std::span<const Observation> observations);

// Defines and fills the map's dimensions, variables and attributes in the
// open file `f` (in define mode): the body of write_map_file, also run on a
// file in memory (build_netcdf_in_memory) by the Python module.
void fill_map_file(const NcFile& f, const MapContents& contents);

}  // namespace kelvo::io
