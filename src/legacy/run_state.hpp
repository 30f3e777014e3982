// The run state of kelvo_brino and kelvo_map: the six positional arguments
// as the replaced tool held them (blank-padded texts of fixed lengths), its
// two base directories, and what each stage of a run leaves for the next:
// the grid, the domain, the kept observations and the assessment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/assess.hpp"
#include "core/domain.hpp"
#include "core/observations.hpp"
#include "io/domain_tree.hpp"
#include "io/metadata_list.hpp"

namespace kelvo::legacy {

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

// The run settings: the arguments, blank-padded as typed, and the layer range.
struct Settings {
  std::string domain;
  std::string param;
  std::string level_start_text;
  std::string level_end_text;
  std::string metadata_file;
  std::string run_tag;
  std::int32_t level_start = 0;
  std::int32_t level_end = 0;
};

struct RunState {
  Settings settings;
  // The base directories (255 characters, blank-padded).
  std::string scale_dir;
  std::string results_dir;

  // The grid and the one-entry time axis: the window the replaced tool
  // printed, and the slot of the assessment day.
  Grid grid;
  float jday_start = 0.0f;
  float jday_end = 0.0f;
  float slot = 0.0f;

  // The scale and exponent files of the run, what they hold, and the domain
  // made of it.
  io::ScaleFiles scale_files;
  ScaleFields scales;
  Domain domain;

  // The observations kept for the parameter, in list order, and what reading
  // the list saw, until they are printed and placed; then the assessment
  // (with the observations placed at the slot).
  ObservationSet observations;
  io::ListReport list_report;
  Assessment assessment;

  explicit RunState(const BaseDirs& dirs);
};

// A file name as the tool held it: cut to 255 characters, without trailing blanks.
std::string held_name(std::string_view name);

// The grid configuration file of `domain` under `scale_dir` (both as held,
// blank-padded), blank-padded to 255 characters.
std::string grid_cfg_file_name(std::string_view scale_dir, std::string_view domain);

}  // namespace kelvo::legacy
