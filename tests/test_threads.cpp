// Runs on 1, 2 and 3 threads give the same bytes: console, summary, and the
// first failure of the scale files; and the thread count of KELVO_THREADS.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "legacy/driver.hpp"
#include "core/parallel.hpp"
#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;

struct RunBytes {
  int status = -1;
  std::string out, err, summary;
};

RunBytes run_with(const std::vector<std::string>& args, const kelvo::legacy::BaseDirs& dirs, const fs::path& summary,
             int threads) {
  textio::Console console;
  RunBytes r;
  r.status = kelvo::legacy::run_kelvo_brino(args, dirs, console, kelvo::Evaluation::fast, threads);
  r.out = console.out;
  r.err = console.err;
  r.summary = kelvo_test::read_file(summary);
  fs::remove(summary);
  return r;
}

void expect_same(const RunBytes& a, const RunBytes& b) {
  EXPECT_EQ(a.status, b.status);
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(a.err, b.err);
  EXPECT_EQ(a.summary, b.summary);
}

TEST(Threads, SampleDomainGivesTheSameBytesOnOneTwoAndThreeThreads) {
  const fs::path source(KELVO_SOURCE_DIR);
  kelvo_test::TempDir tmp;
  fs::copy_file(source / "sample/metadata/NsBs_network_2004.lst", tmp.path / "net.lst");
  fs::create_directory(tmp.path / "results");
  const kelvo::legacy::BaseDirs dirs{(source / "sample/BRINO_S").string() + "/", (tmp.path / "results").string() + "/"};
  const fs::path summary = tmp.path / "results" / "NsBs_salt_cover_summary_thr.asc";
  const std::vector<std::string> args{"kelvo_brino", "NsBs", "salt", "1", "5", (tmp.path / "net.lst").string(), "thr"};
  const RunBytes one = run_with(args, dirs, summary, 1);
  ASSERT_EQ(one.status, 0) << one.out;
  ASSERT_FALSE(one.summary.empty());
  for (int threads : {2, 3}) {
    SCOPED_TRACE(threads);
    expect_same(one, run_with(args, dirs, summary, threads));
  }
  // The same through the setting, read when the run starts.
  ASSERT_EQ(setenv("KELVO_THREADS", "3", 1), 0);
  textio::Console console;
  EXPECT_EQ(kelvo::legacy::run_kelvo_brino(args, dirs, console), 0);
  unsetenv("KELVO_THREADS");
  EXPECT_EQ(console.out, one.out);
}

// A bad field in a scale file of layer 2 and a missing one of layer 3: the
// lines before and the message are those of the first failing file; a
// missing list fails after the scale files, as on one thread.
TEST(Threads, FirstFailingScaleFileStopsTheRunAsOnOneThread) {
  kelvo_test::TestDomain d;
  d.grid_cfg(4, 3, 3, {1, 2, 3}, 0.0f, 3.0f, 50.0f, 52.0f, 1.0f, 1.0f);
  for (int level = 1; level <= 3; ++level) {
    for (char comp : {'x', 'y', 't'}) d.uniform_scale("salt", level, comp, 4, 3, 0.01f);
  }
  for (char comp : {'x', 'y', 't'}) d.power_file("salt", comp, {1.0f, 1.0f, 1.0f});
  kelvo_test::write_file(d.asc_dir() / "Tst_salt_scale_lev02_y.dat", " 0.01000 0.01000 0.01000 0.01000\n"
                                                                     " 0.01000 0.0x000 0.01000 0.01000\n"
                                                                     " 0.01000 0.01000 0.01000 0.01000\n");
  fs::remove(d.asc_dir() / "Tst_salt_scale_lev03_t.dat");
  const fs::path list = d.metadata({kelvo_test::metadata_line({51.0f, 1.0f})});
  const fs::path summary = d.results_dir() / "Tst_salt_cover_summary_f.asc";
  // The list, read meanwhile, fails too in the second case; alone in the third
  // (layer 1 only), after the lines of the scale files.
  struct Case {
    std::string last_layer, list, message;
  };
  for (const Case& c : {Case{"3", list.string(), "STOP (get_grid) Error when reading file"},
                        Case{"3", "missing.lst", "STOP (get_grid) Error when reading file"},
                        Case{"1", "missing.lst", "STOP (read_metadata) Error in opening file"}}) {
    SCOPED_TRACE(c.list + " " + c.last_layer);
    const std::vector<std::string> args{"kelvo_brino", "Tst", "salt", "1", c.last_layer, c.list, "f"};
    const RunBytes one = run_with(args, d.dirs(), summary, 1);
    EXPECT_EQ(one.status, kelvo::exit_failure);
    EXPECT_NE(one.out.find(c.message), std::string::npos) << one.out;
    for (int threads : {2, 3}) {
      SCOPED_TRACE(threads);
      expect_same(one, run_with(args, d.dirs(), summary, threads));
    }
  }
}

TEST(Threads, CountFromTheSettingOrTheCores) {
  EXPECT_EQ(kelvo::thread_count_from("1"), 1);
  EXPECT_EQ(kelvo::thread_count_from(" 3 "), 3);
  EXPECT_EQ(kelvo::thread_count_from("1024"), 1024);
  for (const char* bad : {"", "0", "-2", "two", "2x", "1025", "99999", "1.5"}) {
    EXPECT_EQ(kelvo::thread_count_from(bad), kelvo::machine_cores()) << bad;
  }
  EXPECT_EQ(kelvo::thread_count_from(nullptr), kelvo::machine_cores());
}

// A loop whose iteration 5 fails: the earlier ones all ran, none after the
// failure was started once it was known, and the failure comes back.
TEST(Threads, ParallelLoopRethrowsTheFirstFailure) {
  for (int threads : {1, 2, 3}) {
    std::vector<int> ran(40, 0);
    EXPECT_THROW(kelvo::parallel_for(40, threads,
                                     [&](std::int64_t i) {
                                       ran[static_cast<std::size_t>(i)] = 1;
                                       if (i == 5 || i == 7) throw static_cast<int>(i);
                                     }),
                 int);
    for (int i = 0; i <= 5; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], 1) << threads << " " << i;
    try {
      kelvo::parallel_for(40, threads, [&](std::int64_t i) {
        if (i == 5 || i == 7) throw static_cast<int>(i);
      });
    } catch (int i) {
      EXPECT_EQ(i, 5);
    }
  }
}

}  // namespace
