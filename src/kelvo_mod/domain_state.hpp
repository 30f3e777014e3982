// The domain state: the one record of a run that the stages fill and read in
// turn (run settings, directories, grid, time axis, fields, observations).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "kelvo_mod/arrays.hpp"
#include "kelvo_mod/layer_field.hpp"
#include "textio/console.hpp"
#include "textio/free_format.hpp"

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

struct DomainState {
  textio::Console& console;
  BaseDirs fixed_dirs;

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

  // Directories (255 characters, blank-padded).
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
  Array1<std::int32_t> covered;
  Array1<float> Kpct;
  Array1<std::int32_t> Nwater;

  // Observations kept for the parameter.
  Array2<float> obs_meta;   // nrec x 9
  Array2<float> obs_jday;   // nobs_sel x ntimes
  Array1<std::int32_t> obs_layer;

  // Row counter of the scale-file reads; kept for the whole run, so the
  // exponent-file messages show the value the last scale file left.
  std::int32_t ilat = 0;

  DomainState(textio::Console& con, BaseDirs dirs) : console(con), fixed_dirs(std::move(dirs)) {}
};

// Print one free-format line (or more, when it wraps) on the console.
void print_free(DomainState& ds, std::initializer_list<textio::FreeItem> items);
// Print a free-format message and end the run with `exit_status`.
[[noreturn]] void stop_run(DomainState& ds, std::initializer_list<textio::FreeItem> items,
                           int exit_status);

}  // namespace kelvo
