// Runs of the sample domain in child processes: killed with SIGKILL at each
// step of writing the summary, and many at once in one results directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include "support/run_support.hpp"
#include "textio/atomic_file.hpp"

namespace {

using Listing = std::map<std::string, std::string>;
const std::string kSample = std::string(KELVO_SOURCE_DIR) + "/sample/";
std::string name(const std::string& tag) { return "NsBs_salt_cover_summary_" + tag + ".asc"; }

struct Results : kelvo_test::TempDir {
  Listing listing() const {
    Listing l;
    for (const auto& e : std::filesystem::directory_iterator(path)) l[e.path().filename().string()] = kelvo_test::read_file(e.path());
    return l;
  }
  int run(const std::string& tag) const {
    return kelvo_test::run_tool({"NsBs", "salt", "1", "2", kSample + "metadata/NsBs_network_2004.lst", tag},
                                {kSample + "BRINO_S/", str() + "/"}).status;
  }
};
std::string complete_summary() {
  Results r;
  return r.run("c") == 0 ? r.listing()[name("c")] : "";
}

// body(i) in n child processes started together: exit statuses, or -signal.
std::vector<int> in_children(std::size_t n, const std::function<int(std::size_t)>& body) {
  int start[2];
  EXPECT_EQ(::pipe(start), 0);
  std::vector<pid_t> pids;
  for (std::size_t i = 0; i < n; ++i) {
    char go;
    if (pids.emplace_back(::fork()) == 0) ::_exit(::close(start[1]) == 0 && ::read(start[0], &go, 1) == 0 ? body(i) : 99);
  }
  ::close(start[0]);
  ::close(start[1]);  // the start
  std::vector<int> statuses;
  for (int status = 0; pid_t pid : pids) {
    ::waitpid(pid, &status, 0);
    statuses.push_back(WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status));
  }
  return statuses;
}
int steps_to_kill = 0;

// Killed at each step of writing, a run leaves the old summary or the complete
// new one, and beside it at most the complete file under its link's name
// (killed at the rename over an older summary), which the next run removes.
TEST(KilledRuns, LeaveTheOldSummaryOrTheCompleteNewOne) {
  const std::string complete = complete_summary(), old = "an older summary\n";
  for (bool older : {false, true}) {
    int kills = 0;
    for (int status = -SIGKILL; status == -SIGKILL; ++kills) {
      SCOPED_TRACE(::testing::Message() << "older " << older << " step " << kills + 1);
      Results results;
      if (older) kelvo_test::write_file(results.path / name("k"), old);
      status = in_children(1, [&](std::size_t) {
                 steps_to_kill = kills + 1;
                 textio::AtomicFile::step_hook = [](textio::AtomicFile::Step) { --steps_to_kill == 0 && ::raise(SIGKILL); };
                 return results.run("k");
               }).at(0);
      Listing after = results.listing();
      EXPECT_TRUE(after[name("k")] == complete || after[name("k")] == (older ? old : "")) << after[name("k")];
      for (const auto& [left, text] : after)
        EXPECT_TRUE(left == name("k") || (left.find(".asc.new") != std::string::npos && text == complete)) << left;
      ASSERT_EQ(results.run("k"), 0);
      EXPECT_EQ(results.listing(), (Listing{{name("k"), complete}}));
    }
    EXPECT_EQ(kills, older ? 6 : 5);  // each step, then a complete run
  }
}

// 16 runs of one summary name and 8 of names of their own, started at once in
// one results directory, all end with status 0 and leave one complete summary each.
TEST(RunsSideBySide, SameAndDifferentNamesInOneResultsDirectory) {
  const std::string complete = complete_summary();
  Results results;
  std::vector<std::string> tags(16, "same");
  for (char c = 'a'; c < 'i'; ++c) tags.emplace_back(1, c);
  const std::vector<int> statuses = in_children(tags.size(), [&](std::size_t i) { return results.run(tags[i]); });
  EXPECT_EQ(statuses, std::vector<int>(tags.size(), 0));
  Listing expected;
  for (const std::string& tag : tags) expected[name(tag)] = complete;
  EXPECT_EQ(results.listing(), expected);
}

}  // namespace
