// count_water_points: a grid point of a layer is water exactly where its x,
// y and t scales all hold a value; one line per layer of the grid, in
// layer order, whatever the layer range.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "kelvo_brino/command_line.hpp"
#include "kelvo_brino/scale_fields.hpp"
#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/grid_cfg.hpp"
#include "kelvo_mod/run_stop.hpp"
#include "kelvo_mod/water_points.hpp"
#include "support/hand_lines.hpp"
#include "support/run_support.hpp"

namespace {

using hand::free_lines;
using hand::integer;
using hand::text;

const std::string kMarker = "99.99900";
const std::string kOne = " 1.00000";

std::string water_line(int layer, int npoints) {
  return free_lines({text("ilayer, Npoints: "), integer(layer), integer(npoints)});
}

// A 3 x 2 grid of four layers (level numbers 1..4), layers 2 and 3 read.
// Layer 2, points (i, j):
//   x marker at (1,1); y marker at (2,2); t marker at (2,1) and (3,2)
//   -> water only at (3,1) and (1,2): 2 points. (2,1) and (3,2) have x and
//   y scales but no t scale.
// Layer 3: every scale 1.0 -> 6 points. Layers 1 and 4 are outside the
// range, their scales were never read -> 0 points.
TEST(WaterPoints, PointIsWaterOnlyWithAllThreeScalesOneLinePerLayer) {
  kelvo_test::TestDomain d;
  const auto meta = d.metadata({});
  kelvo_test::write_file(d.asc_dir() / "Tst_grid_cfg", hand::grid_cfg_text(3, 2, {1, 2, 3, 4}));
  const auto scale_file = [&](const std::string& lev, char comp, const std::vector<std::string>& rows) {
    kelvo_test::write_file(d.asc_dir() / ("Tst_salt_scale_lev" + lev + "_" + comp + ".dat"), hand::joined(rows));
  };
  scale_file("02", 'x', {kMarker + kOne + kOne, kOne + kOne + kOne});
  scale_file("02", 'y', {kOne + kOne + kOne, kOne + kMarker + kOne});
  scale_file("02", 't', {kOne + kMarker + kOne, kOne + kOne + kMarker});
  for (char comp : {'x', 'y', 't'}) {
    scale_file("03", comp, {kOne + kOne + kOne, kOne + kOne + kOne});
    kelvo_test::write_file(d.asc_dir() / (std::string("Tst_salt_power_") + comp + ".dat"),
                           hand::repeat(kOne, 4) + "\n");
  }

  textio::Console console;
  kelvo::Reporter out{console};
  kelvo::DomainState ds(d.dirs());
  const std::vector<std::string> argv{"kelvo_brino", "Tst", "salt", "2", "3", meta.string(), "wp"};
  try {
    kelvo::get_args(out, ds, argv);
    kelvo::read_layer_bounds(out, ds);
    kelvo::read_grid_cfg(out, ds);
    kelvo::check_layer_range(out, ds);
    kelvo::alloc_domain(out, ds);
    kelvo::get_grid(out, ds);
  } catch (const kelvo::RunStop&) {
    FAIL() << console.out;
  }
  console.out.clear();
  kelvo::count_water_points(out, ds);

  EXPECT_EQ(console.out, water_line(1, 0) + water_line(2, 2) + water_line(3, 6) + water_line(4, 0));
  ASSERT_EQ(ds.Nwater.size(), 4);
  EXPECT_EQ(ds.Nwater(1), 0);
  EXPECT_EQ(ds.Nwater(2), 2);
  EXPECT_EQ(ds.Nwater(3), 6);
  EXPECT_EQ(ds.Nwater(4), 0);
  const int layer2[2][3] = {{0, 0, 1}, {1, 0, 0}};  // [j-1][i-1]
  for (int j = 1; j <= 2; ++j) {
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(ds.water_mask.at(i, j, 1, 1), 0) << i << "," << j;
      EXPECT_EQ(ds.water_mask.at(i, j, 2, 1), layer2[j - 1][i - 1]) << i << "," << j;
      EXPECT_EQ(ds.water_mask.at(i, j, 3, 1), 1) << i << "," << j;
      EXPECT_EQ(ds.water_mask.at(i, j, 4, 1), 0) << i << "," << j;
    }
  }
}

// Scales set directly on one layer of 4 x 1 points: a scale that is not a
// number counts as no value, like the marker itself; a value next to the
// marker (99.99899) is a scale. Water: points 3 and 4.
TEST(WaterPoints, NotANumberCountsAsTheMarker) {
  textio::Console console;
  kelvo::Reporter out{console};
  kelvo::DomainState ds(kelvo::BaseDirs{});
  ds.nlon = 4;
  ds.nlat = 1;
  ds.nz = 1;
  ds.level_start = 1;
  ds.level_end = 1;
  try {
    kelvo::alloc_domain(out, ds);
  } catch (const kelvo::RunStop&) {
    FAIL() << console.out;
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float x[4] = {nan, 1.0f, 1.0f, 99.99899f};
  const float y[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  const float t[4] = {1.0f, kelvo::no_value, 1.0f, 1.0f};
  for (int p = 0; p < 4; ++p) {
    ds.scale.plane(1, 1)[p] = x[p];
    ds.scale.plane(1, 2)[p] = y[p];
    ds.scale.plane(1, 3)[p] = t[p];
  }
  console.out.clear();
  kelvo::count_water_points(out, ds);
  EXPECT_EQ(console.out, water_line(1, 2));
  EXPECT_EQ(ds.Nwater(1), 2);
  const int want[4] = {0, 0, 1, 1};
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(ds.water_mask.at(i, 1, 1, 1), want[i - 1]) << i;
}

}  // namespace
