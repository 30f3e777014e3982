// A domain made from a bathymetry: a regular grid, the sea depth at each of
// its points, the depth of each layer, and rules for the decorrelation
// reaches. A point of a layer is water where the sea is deeper than the
// layer; there each scale coefficient is reach^-p (p the direction's
// exponent), and on land there is none.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/domain.hpp"

namespace kelvo {

// A reach (km in x and y, days in t) as a rule: the same everywhere, one
// value per layer, or growing toward the equator as the first baroclinic
// Rossby radius does: `at_30` at 30 degrees of latitude, times
// sin(30)/|sin(lat)|, and at most `cap` (the equator's radius is unbounded).
struct ReachRule {
  enum class Form { constant, per_layer, rossby };
  Form form = Form::constant;
  std::vector<double> values;  // constant: one; per_layer: one per layer
  double at_30 = 0.0;
  double cap = 0.0;

  double at(std::int32_t layer, float lat) const;
};

// A regular grid: points west + i * dlon for i < nlon, where nlon is
// round((east - west) / dlon) + 1, except that a grid whose east is 360
// degrees from its west ends one step short of it (its last column would be
// its first again) and wraps round; latitudes likewise without the wrap.
// The layers are numbered 1.. and given the depths. An Error (bad_request)
// for steps that are not positive, an east not east of west, a north not
// north of south, or a latitude beyond the poles.
Grid regular_grid(double west, double east, double south, double north, double dlon, double dlat,
                  std::span<const float> depths);

struct DomainRecipe {
  Grid grid;
  std::vector<float> sea_depth;  // a plane: metres below sea level, positive; not a number where unknown
  std::array<ReachRule, 3> reach;  // x, y, t
  Exponents exponents;
};

// Whether point q of `layer` is water: the sea there is deeper than the layer.
bool recipe_water(const DomainRecipe& r, std::int32_t layer, std::size_t q);

// Fills the planes of `layer`: reach^-p at water points, no_value elsewhere.
void fill_recipe_layer(const DomainRecipe& r, std::int32_t layer, LayerPlanes planes);

// The exponents of every layer (the recipe's, the same for all).
std::vector<Exponents> recipe_exponents(const DomainRecipe& r);

}  // namespace kelvo
