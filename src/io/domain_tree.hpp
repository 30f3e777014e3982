// The domain tree: a domain as the folder of fixed-column text files that
// the operational tools read under their scale directory,
//
//   <scale_dir>/<Dom>_ASC/<Dom>_grid_cfg                       the grid
//   <scale_dir>/<Dom>_ASC/<Dom>_<Par>_scale_lev<LL>_<x,y,t>.dat  scales of a level
//   <scale_dir>/<Dom>_ASC/<Dom>_<Par>_power_<x,y,t>.dat          exponents
//
// The grid configuration is four lines, each after a 16-column label: nlon
// nlat nz (int 5 each); the nz level numbers (int 4 each); west east south
// north (fixed 9.5 each); dlon dlat (fixed 9.5 each). A scale file holds one
// line per grid row (south first) of nlon fields of fixed 8.5, 99.999 where
// there is no value (land); an exponent file one line of nz such fields.
//
// Files are read line by line and only as far as they are used: the four
// lines of the grid, the first nlat lines of a scale file, the first line of
// an exponent file, and of each line only the columns that hold fields. A
// line shorter than its fields reads the missing columns as blanks.
#pragma once

#include <array>
#include <functional>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/domain.hpp"

namespace kelvo::io {

// The files of the tree, plain concatenations: `scale_dir` ends in "/".
std::string grid_config_path(std::string_view scale_dir, std::string_view domain);
std::string scale_file_path(std::string_view scale_dir, std::string_view domain, std::string_view param,
                            std::int32_t level, int component);  // component 0 x, 1 y, 2 t
std::string exponent_file_path(std::string_view scale_dir, std::string_view domain, std::string_view param,
                               int component);
// The folder of a domain's files: <scale_dir><Dom>_ASC/.
std::string domain_folder(std::string_view scale_dir, std::string_view domain);

// The domains of the tree under `scale_dir`: the names Dom of the folders
// Dom_ASC that hold a grid configuration, sorted; none when the directory
// cannot be read.
std::vector<std::string> domains_under(std::string_view scale_dir);

// The parameters a domain of the tree has files for: the names Par of its
// exponent files Dom_Par_power_x.dat, sorted.
std::vector<std::string> parameters_of(std::string_view scale_dir, std::string_view domain);

// The grid of a grid configuration file, its axes built. Errors (operation
// "read_grid_cfg"): cannot_open (with the system's reason), truncated (line
// = the missing line), not_a_number (line = the line), bad_grid (items nlon,
// nlat, nz), out_of_memory.
Grid read_grid_config(const std::string& path);

// The scale and exponent files of one parameter, as named by the caller.
struct ScaleFiles {
  std::int32_t first_layer = 1;
  std::vector<std::array<std::string, 3>> layers;  // x, y, t of first_layer, first_layer + 1, ...
  std::array<std::string, 3> exponents;
};

// The tree's files of `param` for layers first..last of `grid` (the scale
// files of a layer are those of its level number).
ScaleFiles scale_files(std::string_view scale_dir, std::string_view domain, std::string_view param, const Grid& grid,
                       std::int32_t first, std::int32_t last);

// What reading the scale files saw, in the order they are read: each scale
// file read whole, with the mean and count of its values that carry a scale
// (summed longitude fastest, then latitude), and how many exponent files
// were begun. On a failure it holds what came before the failing file.
struct ScaleFileSummary {
  std::string file;
  float mean = 0.0f;
  std::int32_t count = 0;
};
struct ScaleReport {
  std::vector<ScaleFileSummary> scale_files;
  int exponent_files_begun = 0;
};

// Reads the scale files (side by side on `threads` threads) and then the
// exponent files. A failure is the one of the first failing file in that
// order, as on one thread, and no file after it is begun. Errors (operation
// "get_grid"): cannot_open, truncated (line = the row not found; 1 for an
// exponent file), not_a_number (line = the row), out_of_memory.
ScaleFields read_scale_fields(const ScaleFiles& files, const Grid& grid, int threads, ScaleReport* report = nullptr);

// Parses the first values.size() eight-column fields of a line into
// `values`; missing columns read as blanks. False on a field that is not a
// number.
bool parse_scale_row(std::string_view line, std::span<float> values);

// A whole domain of the tree: the grid, then (after checking that
// first..last lies inside it) the scales of those layers and the exponents.
// With `periodic_when_global`, a grid that spans 360 degrees east-west
// wraps round (kelvo_brino's grids never do).
Domain read_domain_tree(std::string_view scale_dir, std::string_view domain, std::string_view param,
                        std::int32_t first, std::int32_t last, int threads, bool periodic_when_global = false);

// ------------------------------------------------------------ writing a tree

// Fills the planes of layer `layer` of parameter number `parameter`
// (no_value where there is none).
using PlaneSource = std::function<void(std::size_t parameter, std::int32_t layer, LayerPlanes planes)>;

// A domain to write as a tree: the grid, the parameters with their
// exponents (per parameter, one set per layer) and the source of the planes.
struct TreeContents {
  std::string name;
  Grid grid;
  std::vector<std::string> parameters;
  std::vector<std::vector<Exponents>> exponents;
  PlaneSource planes;
};

// How faithfully the text holds the values: every number written, and those
// whose nearest text in its field reads back as another float; and whether
// the grid configuration read back gives the same axes.
struct TreeWriteReport {
  std::int64_t values = 0;
  std::int64_t inexact = 0;
  bool axes_equal = true;
};

// Writes the tree of `contents` as <scale_dir><name>_ASC/ (scale_dir ends in
// "/"): the files go to a private folder beside it, which is renamed into
// place when every file is written; nothing is left on failure, and a
// folder already there is never written into. Each value is the text of
// its field nearest to it (textio::put_nearest_fixed). Errors:
// cannot_write (naming the file or folder), bad_request (the folder
// exists, or the contents do not fit the grid).
TreeWriteReport write_domain_tree(std::string_view scale_dir, const TreeContents& contents);

}  // namespace kelvo::io
