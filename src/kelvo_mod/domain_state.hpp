// The domain state: the one record of a run that the stages fill and read in
// turn (run settings, directories, grid, time axis, fields, observations).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <span>
#include <vector>

#include "kelvo_mod/arrays.hpp"
#include "kelvo_mod/coverage_engine.hpp"
#include "kelvo_mod/layer_field.hpp"

namespace kelvo {

// The two base directories the tool is built with (each ending in "/").
struct BaseDirs {
  std::string scale_dir;
  std::string results_dir;
};

// Lengths of the fixed-length texts of the run.
inline constexpr std::size_t setting_length = 100;
inline constexpr std::size_t level_text_length = 2;
inline constexpr std::size_t run_tag_length = 5;
inline constexpr std::size_t path_length = 255;

// The no-value marker of the scale files: the float nearest 99.999.
inline constexpr float no_value = 99.999f;

// When a kept observation is in the time slot of an assessment day: a
// repeating observation always, a one-time observation when its own day
// number is less than a day from the slot.
struct ObservationDate {
  bool repeating = false;
  float jday = 0.0f;  // day number of a one-time observation's date
};

// The time of an observation at `slot`: the slot itself, or absent_time.
float time_at_slot(const ObservationDate& date, float slot);

struct DomainState {
  // Run settings, blank-padded texts as typed, and the layer range.
  std::string domain;
  std::string param;
  std::string level_start_text;
  std::string level_end_text;
  std::string metadata_file;
  std::string run_tag;
  std::int32_t level_start = 0;
  std::int32_t level_end = 0;
  std::int32_t nobs_sel = 0;

  // The base directories (255 characters, blank-padded).
  std::string scale_dir;
  std::string results_dir;

  // Grid.
  std::int32_t nlon = 0;
  std::int32_t nlat = 0;
  std::int32_t nz = 0;
  float west = 0.0f, east = 0.0f, south = 0.0f, north = 0.0f;
  float dlon = 0.0f, dlat = 0.0f;
  Array1<std::int32_t> levnum;
  Array1<float> lon;
  Array1<float> lat;

  // Time axis.
  static constexpr std::int32_t ntimes = 1;
  float jday_start = 0.0f;
  float jday_end = 0.0f;
  Array1<float> jdayaxis;

  // Decorrelation exponents (nz x 3) and scales (nlon x nlat x layer x 3).
  Array2<float> power;
  LayerField<float> scale;

  // Water points and coverage.
  LayerField<std::int32_t> water_mask;
  Array1<float> Kpct;
  Array1<std::int32_t> Nwater;

  // The observations kept for the parameter, in list order, placed at the
  // slot jdayaxis(1), and their dates for placing them on another day.
  std::vector<Observation> obs;
  std::vector<ObservationDate> obs_dates;
  // The list line (from 1) of each kept observation, and the number of list
  // lines read (up to the first line that cannot be read).
  std::vector<std::int32_t> obs_lines;
  std::int32_t list_records = 0;

  // Row counter of the scale-file reads; kept for the whole run, so the
  // exponent-file messages show the value the last scale file left.
  std::int32_t ilat = 0;

  explicit DomainState(const BaseDirs& dirs);
};

// The coverage engine's view of the state: the grid (with the kilometres
// per degree `dxkm` of each row) and the fields of one stored layer.
GridAxes grid_axes(const DomainState& ds, std::span<const float> dxkm);
LayerFields layer_fields(const DomainState& ds, std::int32_t ilayer);

}  // namespace kelvo
