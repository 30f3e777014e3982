// The sample domain shipped in sample/: its console output and summaries are
// recorded under tests/data/sample_NsBs/, so that any change of what the tool
// prints for a realistic domain shows up here. The recorded files were made
// by the tool itself; the hand-derived expectations are the golden cases of
// test_end_to_end.cpp. The exhaustive evaluation must give the same bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;

std::string with_scale_dir(std::string text, const std::string& dir) {
  const std::string mark = "@SCALE_DIR@";
  for (std::size_t p = text.find(mark); p != std::string::npos; p = text.find(mark, p + dir.size())) {
    text.replace(p, mark.size(), dir);
  }
  return text;
}

TEST(SampleDomain, RecordedOutputOfBothParameters) {
  const fs::path source(KELVO_SOURCE_DIR);
  const fs::path recorded = fs::path(KELVO_TEST_DATA_DIR) / "sample_NsBs";
  kelvo_test::TempDir tmp;
  // A short copy of the list, so its path stays within the 100 characters of the setting.
  fs::copy_file(source / "sample/metadata/NsBs_network_2004.lst", tmp.path / "net.lst");
  fs::create_directory(tmp.path / "results");
  const std::string scale_dir = (source / "sample/BRINO_S").string() + "/";
  const kelvo::legacy::BaseDirs dirs{scale_dir, (tmp.path / "results").string() + "/"};

  struct Case {
    const char* param;
    kelvo::Evaluation how;
  };
  for (const Case& c : {Case{"salt", kelvo::Evaluation::fast}, Case{"salt", kelvo::Evaluation::exhaustive},
                        Case{"temp", kelvo::Evaluation::fast}}) {
    SCOPED_TRACE(std::string(c.param) + (c.how == kelvo::Evaluation::fast ? " fast" : " exhaustive"));
    const kelvo_test::RunResult r =
        kelvo_test::run_tool({"NsBs", c.param, "1", "5", (tmp.path / "net.lst").string(), "rec"}, dirs, c.how);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string p = c.param;
    EXPECT_EQ(r.out, with_scale_dir(kelvo_test::read_file(recorded / ("expected_stdout_" + p + ".txt")), scale_dir));
    EXPECT_EQ(kelvo_test::read_file(tmp.path / "results" / ("NsBs_" + p + "_cover_summary_rec.asc")),
              kelvo_test::read_file(recorded / ("expected_summary_" + p + ".asc")));
  }
}

}  // namespace
