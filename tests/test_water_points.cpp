// count_water_points: a grid point of a layer is water exactly where its x,
// y and t scales all hold a value; one line per layer of the grid, in
// layer order, whatever the layer range.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "legacy/command_line.hpp"
#include "legacy/driver.hpp"
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

// Whether point (i, j) (from 1) of layer k is water; a layer without scales has none.
int water_at(const kelvo::Domain& d, int i, int j, std::int32_t k) {
  if (!d.has_layer(k)) return 0;
  return d.layer(k).water[static_cast<std::size_t>((i - 1) + d.grid().nlon * (j - 1))];
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
  kelvo::legacy::Printer out{console};
  kelvo::legacy::RunState s(d.dirs());
  const std::vector<std::string> argv{"kelvo_brino", "Tst", "salt", "2", "3", meta.string(), "wp"};
  try {
    kelvo::legacy::get_args(out, s.settings, argv);
    kelvo::legacy::read_layer_bounds(out, s.settings);
    kelvo::legacy::read_grid_cfg(out, s);
    kelvo::legacy::alloc_domain(out, s);
    kelvo::legacy::get_grid(out, s, 1);
  } catch (const kelvo::Error& e) {
    FAIL() << console.out << e.what();
  }
  console.out.clear();
  kelvo::legacy::count_water_points(out, s);

  EXPECT_EQ(console.out, water_line(1, 0) + water_line(2, 2) + water_line(3, 6) + water_line(4, 0));
  const kelvo::Domain& ds = s.domain;
  EXPECT_EQ(ds.nwater(1), 0);
  EXPECT_EQ(ds.nwater(2), 2);
  EXPECT_EQ(ds.nwater(3), 6);
  EXPECT_EQ(ds.nwater(4), 0);
  const int layer2[2][3] = {{0, 0, 1}, {1, 0, 0}};  // [j-1][i-1]
  for (int j = 1; j <= 2; ++j) {
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(water_at(ds, i, j, 1), 0) << i << "," << j;
      EXPECT_EQ(water_at(ds, i, j, 2), layer2[j - 1][i - 1]) << i << "," << j;
      EXPECT_EQ(water_at(ds, i, j, 3), 1) << i << "," << j;
      EXPECT_EQ(water_at(ds, i, j, 4), 0) << i << "," << j;
    }
  }
}

// Scales set directly on one layer of 4 x 1 points: a scale that is not a
// number counts as no value, like the marker itself; a value next to the
// marker (99.99899) is a scale. Water: points 3 and 4.
TEST(WaterPoints, NotANumberCountsAsTheMarker) {
  textio::Console console;
  kelvo::legacy::Printer out{console};
  kelvo::legacy::RunState s(kelvo::legacy::BaseDirs{});
  s.grid.nlon = 4;
  s.grid.nlat = 1;
  s.grid.nz = 1;
  s.grid.levnum = {1};
  kelvo::build_axes(s.grid);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // The x, y and t planes of layer 1.
  s.scales = {1, 1, 4, {nan, 1.0f, 1.0f, 99.99899f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, kelvo::no_value, 1.0f, 1.0f},
              {kelvo::Exponents{1.0f, 1.0f, 1.0f}}};
  kelvo::legacy::count_water_points(out, s);
  EXPECT_EQ(console.out, water_line(1, 2));
  EXPECT_EQ(s.domain.nwater(1), 2);
  const int want[4] = {0, 0, 1, 1};
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(water_at(s.domain, i, 1, 1), want[i - 1]) << i;
}

}  // namespace
