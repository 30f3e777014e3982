// The model domain of an assessment: its grid, and for one parameter the
// decorrelation scales of a range of layers with their water points and the
// exponents of every layer. A Domain is built once from what a reader gives
// and is read-only from then on.
//
// Layers are numbered as users name them, 1 being the uppermost; every array
// is indexed from 0, and a plane is nlon x nlat values with the longitude
// varying fastest.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/coverage_engine.hpp"

namespace kelvo {

// The no-value marker of a scale: the float nearest 99.999.
inline constexpr float no_value = 99.999f;

// True when a scale entry stands for "no value": the marker itself, or a
// value that is not a number.
inline bool is_no_value(float s) { return s == no_value || s != s; }

// Largest number of layers a grid can have.
inline constexpr std::int32_t max_layers = 9999;

struct Grid {
  std::int32_t nlon = 0;
  std::int32_t nlat = 0;
  std::int32_t nz = 0;
  std::vector<std::int32_t> levnum;  // the level number of each layer (layer k at k - 1)
  float west = 0.0f, east = 0.0f, south = 0.0f, north = 0.0f;
  float dlon = 0.0f, dlat = 0.0f;
  std::vector<float> lon;  // nlon: west + i * dlon
  std::vector<float> lat;  // nlat: south + j * dlat
  // The depth in metres of each layer (nz), not a number where unknown (a
  // domain tree does not give it).
  std::vector<float> depth;
  // Whether longitude wraps round: the grid spans 360 degrees east-west, so
  // that its first column follows its last (see spans_full_circle).
  bool periodic = false;

  std::int64_t plane_size() const { return std::int64_t{nlon} * nlat; }
  std::int32_t level_number(std::int32_t layer) const { return levnum[static_cast<std::size_t>(layer - 1)]; }
};

// Whether the sizes are those of a grid: nlon, nlat >= 1, 1 <= nz <= max_layers.
bool valid_grid_sizes(std::int32_t nlon, std::int32_t nlat, std::int32_t nz);

// Checks that first..last lies inside the grid's layers (an empty range
// counts when it starts at 1 or later and ends at nz or before); an Error
// (bad_layers, items first, last, nz) otherwise.
void check_layer_range(const Grid& grid, std::int32_t first, std::int32_t last);

// Whether nlon columns dlon apart span the whole circle of longitude
// (360 degrees, to single precision).
bool spans_full_circle(std::int32_t nlon, float dlon);

// Fills the axes lon and lat of `g` from its sizes, edges and steps. Each
// coordinate is computed from its own index, never by adding steps, so
// rounding does not accumulate along the axis.
void build_axes(Grid& g);

// The exponents of the three directions (x, y, t) of one layer.
struct Exponents {
  float px = no_value;
  float py = no_value;
  float pt = no_value;
};

// The scales of layers first_layer .. first_layer + layers - 1 as read: the
// x, y and t planes of each layer one after the other, in one block (one
// allocation for all of them), and the exponents of every layer of the grid.
struct ScaleFields {
  std::int32_t first_layer = 1;
  std::int32_t layers = 0;
  std::int64_t plane_size = 0;
  std::vector<float> values;         // layers x 3 planes
  std::vector<Exponents> exponents;  // nz

  // The plane of `component` (0 x, 1 y, 2 t) of `layer`.
  std::span<float> plane(std::int32_t layer, int component) {
    return {values.data() + offset(layer, component), static_cast<std::size_t>(plane_size)};
  }
  std::span<const float> plane(std::int32_t layer, int component) const {
    return {values.data() + offset(layer, component), static_cast<std::size_t>(plane_size)};
  }

 private:
  std::size_t offset(std::int32_t layer, int component) const {
    return static_cast<std::size_t>(plane_size * (3 * std::int64_t{layer - first_layer} + component));
  }
};

// The three scale planes of one layer, to be filled.
struct LayerPlanes {
  std::span<float> sx, sy, st;
};

// A layer of the domain: its scales and its water points, the points where
// none of the three scales is missing (views of the domain's own arrays).
struct DomainLayer {
  std::int32_t number = 1;
  std::span<const float> sx, sy, st;
  std::span<const std::int32_t> water;  // 1 at a water point, 0 elsewhere
  std::int32_t nwater = 0;
};

// Copies the three scale planes of `layer` into `planes` (of the same size).
void copy_planes(const DomainLayer& layer, LayerPlanes planes);

// A domain is moved, never copied: its layers are views of its own arrays.
class Domain {
 public:
  Domain() = default;
  Domain(Domain&&) = default;
  Domain& operator=(Domain&&) = default;
  Domain(const Domain&) = delete;
  Domain& operator=(const Domain&) = delete;

  // The domain `name` of `grid` for `param`, with the layers of `scales`
  // (inside 1..nz, each plane of the grid's size) and their exponents (nz
  // of them); marks the water points of each layer. An Error (bad_request)
  // when the pieces do not fit together.
  static Domain build(std::string name, std::string param, Grid grid, ScaleFields scales);

  const std::string& name() const { return name_; }
  const std::string& param() const { return param_; }
  const Grid& grid() const { return grid_; }

  // The layers with scales: first_layer() .. last_layer() (none when last is below first).
  std::int32_t first_layer() const { return scales_.first_layer; }
  std::int32_t last_layer() const { return scales_.first_layer + scales_.layers - 1; }
  bool has_layer(std::int32_t k) const { return k >= first_layer() && k <= last_layer(); }
  // A layer with scales (an Error for any other).
  const DomainLayer& layer(std::int32_t k) const;
  // The water points of layer k: 0 for a layer without scales.
  std::int32_t nwater(std::int32_t k) const { return has_layer(k) ? layer(k).nwater : 0; }
  // The exponents of any layer of the grid.
  const Exponents& exponents(std::int32_t k) const { return scales_.exponents[static_cast<std::size_t>(k - 1)]; }
  const std::vector<Exponents>& all_exponents() const { return scales_.exponents; }

  // The engine's view: the grid with the kilometres per degree of each row,
  // and the fields of a layer with scales.
  GridAxes axes() const { return GridAxes{grid_.lon, grid_.lat, dxkm_, LongitudeWrap{grid_.periodic, grid_.west}}; }
  LayerFields fields(std::int32_t k) const;

 private:
  std::string name_;
  std::string param_;
  Grid grid_;
  ScaleFields scales_;
  std::vector<std::int32_t> water_;  // the water planes of the layers, in one block
  std::vector<DomainLayer> layers_;
  std::vector<float> dxkm_;
};

// The number of layers of first..last (0 when last is below first).
inline std::int32_t layer_count(std::int32_t first, std::int32_t last) { return last >= first ? last - first + 1 : 0; }

}  // namespace kelvo
