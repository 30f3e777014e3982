// Whole runs of the tool on small domains, compared byte for byte with
// expected console output and summary files worked out by hand. Each case
// lives in tests/data/golden/<case>/: the input files under input/ (the
// scale directory BRINO_S/ and the metadata list meta.lst), then
// expected_stdout.txt and expected_summary.asc. README.md in that folder
// says how every expected value was obtained.
//
// The input tree is copied to a temporary directory, which becomes the
// scale directory; "@SCALE_DIR@" in expected_stdout.txt stands for it (it
// ends in "/"). Each case is run with both evaluations of the coverage.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;

struct GoldenCase {
  const char* name;
  // Arguments after the program path; "@META@" is the metadata list.
  std::vector<std::string> args;
  const char* summary_name;
};

const std::vector<GoldenCase>& golden_cases() {
  static const std::vector<GoldenCase> cases = {
      // 5 x 4 grid, 2 layers with land, salinity: a mooring, a surface-only
      // ferrybox line, a temperature-only record, a CTD cast on the
      // assessment day and a cast a year and a half later.
      {"two_layers_salt", {"Kat", "salt", "1", "2", "@META@", "g1"}, "Kat_salt_cover_summary_g1.asc"},
      // 4 x 3 grid at 40 S next to 180 E, 3 layers, temperature, layers 2
      // and 3 (3 all land); an observation across the date line, one absent
      // from the slot with a time scale of 0, a kind with no layer.
      {"dateline_temp", {"Dln", "temp", "2", "3", "@META@", "t2"}, "Dln_temp_cover_summary_t2.asc"},
      // Layers 2 to 1, an empty metadata list, no run tag.
      {"empty_range", {"Emp", "salt", "2", "1", "@META@"}, "Emp_salt_cover_summary_.asc"},
  };
  return cases;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size())) {
    text.replace(p, from.size(), to);
  }
  return text;
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

TEST(EndToEnd, GoldenRuns) {
  const fs::path golden = fs::path(KELVO_TEST_DATA_DIR) / "golden";
  for (const GoldenCase& c : golden_cases()) {
    for (const kelvo::Evaluation how : {kelvo::Evaluation::exhaustive, kelvo::Evaluation::fast}) {
      SCOPED_TRACE(std::string(c.name) +
                   (how == kelvo::Evaluation::exhaustive ? " (every observation examined)" : " (fast)"));
      const fs::path dir = golden / c.name;
      ASSERT_TRUE(fs::is_directory(dir / "input")) << dir;

      kelvo_test::TempDir tmp;
      fs::copy(dir / "input", tmp.path, fs::copy_options::recursive);
      const fs::path results = tmp.path / "BRINO_results";
      fs::create_directory(results);
      const kelvo::legacy::BaseDirs dirs{(tmp.path / "BRINO_S").string() + "/", results.string() + "/"};

      std::vector<std::string> args = c.args;
      for (std::string& a : args) a = replace_all(a, "@META@", (tmp.path / "meta.lst").string());

      const kelvo_test::RunResult r = kelvo_test::run_tool(args, dirs, how);
      EXPECT_EQ(r.status, 0);
      const std::string expected_out =
          replace_all(kelvo_test::read_file(dir / "expected_stdout.txt"), "@SCALE_DIR@", dirs.scale_dir);
      EXPECT_EQ(r.out, expected_out);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(names_in(results), std::set<std::string>{c.summary_name});
      EXPECT_EQ(kelvo_test::read_file(results / c.summary_name),
                kelvo_test::read_file(dir / "expected_summary.asc"));
    }
  }
}

}  // namespace
