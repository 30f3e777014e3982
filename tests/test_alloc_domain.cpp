// alloc_domain: the allocation line, and a grid whose arrays are too large
// for memory ending the run cleanly before it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "legacy/driver.hpp"
#include "support/hand_lines.hpp"
#include "support/run_support.hpp"

namespace {

bool has_digit(const std::string& s) { return !hand::digit_runs(s).empty(); }

struct Grid {
  textio::Console console;
  kelvo::legacy::Printer out{console};
  kelvo::legacy::RunState s{kelvo::legacy::BaseDirs{"/nonexistent/BRINO_S/", "/nonexistent/BRINO_results/"}};
  Grid(std::int32_t nlon, std::int32_t nlat, std::int32_t nz, std::int32_t first, std::int32_t last) {
    s.grid.nlon = nlon;
    s.grid.nlat = nlat;
    s.grid.nz = nz;
    s.settings.level_start = first;
    s.settings.level_end = last;
  }
};

TEST(AllocDomain, AllocationLine) {
  Grid g(120, 90, 40, 3, 5);
  kelvo::legacy::alloc_domain(g.out, g.s);
  // Free format: a leading blank, the text (which ends in a blank), then
  // each integer after one separating blank, right-aligned in 12 columns:
  // 11 blanks between ":" and 120, 11 before 90 and 11 before 40.
  const std::string expected = " allocating with nlon,nlat,nz: " + std::string(1 + 9, ' ') + "120" +
                               std::string(1 + 10, ' ') + "90" + std::string(1 + 10, ' ') + "40\n";
  EXPECT_EQ(g.console.out, expected);
}

TEST(AllocDomain, GridTooLargeForMemoryStopsBeforeTheAllocationLine) {
  // 3 x 9999^3 single-precision scales, about 12 terabytes.
  Grid g(9999, 9999, 9999, 1, 9999);
  int status = -1;
  try {
    kelvo::legacy::alloc_domain(g.out, g.s);
  } catch (const kelvo::Error& e) {
    g.out.failure(e, g.s);
    status = kelvo::exit_status_of(e);
  }
  EXPECT_EQ(status, 2);
  EXPECT_EQ(g.console.out.rfind(" STOP (alloc_domain)", 0), 0u) << g.console.out;
  EXPECT_EQ(hand::count_of(g.console.out, "STOP ("), 1u) << g.console.out;
  EXPECT_EQ(g.console.out.find("allocating with"), std::string::npos) << g.console.out;
  // The message gives the size requested.
  EXPECT_TRUE(has_digit(g.console.out)) << g.console.out;
}

TEST(AllocDomain, RunOnAHugeGridEndsWithStatusTwoAfterItsStopLine) {
  kelvo_test::TempDir root;
  const std::string scale_dir = (root.path / "BRINO_S").string() + "/";
  // 9999 x 9999 x 9999, an empty line 2 (every level number 0), unit edges
  // and steps; layers 1 to 99 (the bounds hold two characters).
  std::string text = "nlon,nlat,nz     9999 9999 9999\n";
  text += "levels\n";
  text += "w,e,s,n           0.00000  1.00000  0.00000  1.00000\n";
  text += "dlon,dlat         1.00000  1.00000\n";
  kelvo_test::write_file(root.path / "BRINO_S" / "Big_ASC" / "Big_grid_cfg", text);

  const kelvo_test::RunResult r =
      kelvo_test::run_tool({"Big", "salt", "1", "99"}, {scale_dir, (root.path / "BRINO_results").string() + "/"});
  EXPECT_EQ(r.status, 2);
  const std::string head = "Big  salt\n"
                           "Program Running on selected leves from  1 to 99\n"
                           "  0.00000  1.00000  0.00000  1.00000  1.00000  1.00000\n"
                           "    1096.000        2191.000        1095.000    \n";
  ASSERT_EQ(r.out.rfind(head, 0), 0u) << r.out;
  const std::string rest = r.out.substr(head.size());
  EXPECT_EQ(rest.rfind(" STOP (alloc_domain)", 0), 0u) << rest;
  // Nothing after the stop message: no allocation line, no later stage.
  EXPECT_EQ(hand::count_of(rest, "STOP ("), 1u) << rest;
  EXPECT_EQ(rest.find("allocating with"), std::string::npos) << rest;
}

}  // namespace
