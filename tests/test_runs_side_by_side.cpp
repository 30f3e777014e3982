// Runs of the sample domain in child processes: killed with SIGKILL at every
// step of writing the summary, and many at once in one results directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/run_support.hpp"
#include "textio/atomic_file.hpp"

namespace {

namespace fs = std::filesystem;
using Listing = std::map<std::string, std::string>;
using Step = textio::AtomicFile::Step;

Listing listing(const fs::path& dir) {
  Listing l;
  for (const auto& e : fs::directory_iterator(dir)) l[e.path().filename().string()] = kelvo_test::read_file(e.path());
  return l;
}

struct Sample {
  kelvo_test::TempDir results;
  kelvo::BaseDirs dirs{std::string(KELVO_SOURCE_DIR) + "/sample/BRINO_S/", results.str() + "/"};
  int run(const std::string& tag) const {
    return kelvo_test::run_tool({"NsBs", "salt", "1", "2", std::string(KELVO_SOURCE_DIR) + "/sample/metadata/NsBs_network_2004.lst", tag}, dirs).status;
  }
  std::string name(const std::string& tag) const { return "NsBs_salt_cover_summary_" + tag + ".asc"; }
};

// The exit status of `body` run in a child process, or -signal.
int in_child(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

int steps_to_kill = 0;
void kill_at_step(Step) {
  if (--steps_to_kill == 0) ::raise(SIGKILL);
}

// Killed at its n-th step of writing, a run leaves the results directory as
// it was, or with the complete new summary; at the rename of a summary that
// replaces another, also with the complete new file under the name of its
// link, which the next run of that name removes. The named temporary file
// of file systems without anonymous files stays, but the final name is
// never partial.
TEST(KilledRuns, LeaveTheOldSummaryOrTheCompleteNewOne) {
  Sample reference;
  ASSERT_EQ(reference.run("k"), 0);
  const std::string complete = listing(reference.results.path).at(reference.name("k"));
  const std::string old = "an older summary\n";
  for (bool anonymous : {true, false})
    for (bool older : {false, true}) {
      int kills = 0;
      for (int status = -SIGKILL; status == -SIGKILL; ++kills) {
        SCOPED_TRACE(::testing::Message() << "anonymous " << anonymous << " older " << older << " step " << kills + 1);
        Sample s;
        const std::string name = s.name("k");
        if (older) kelvo_test::write_file(s.results.path / name, old);
        status = in_child([&] {
          steps_to_kill = kills + 1;
          textio::AtomicFile::anonymous_files = anonymous;
          textio::AtomicFile::step_hook = kill_at_step;
          return s.run("k");
        });
        const Listing after = listing(s.results.path);
        const std::string now = after.count(name) != 0 ? after.at(name) : "";
        EXPECT_TRUE(now == complete || now == (older ? old : "")) << now;
        for (const auto& [left, text] : after) {
          const bool link_of_the_commit = left.find(".asc.new") != std::string::npos && text == complete;
          EXPECT_TRUE(left == name || link_of_the_commit || !anonymous) << left;
        }
        if (!anonymous) continue;
        ASSERT_EQ(s.run("k"), 0);
        EXPECT_EQ(listing(s.results.path), (Listing{{name, complete}}));
      }
      EXPECT_GE(kills, 5);  // create, write, sync, link [, rename], then a complete run
    }
}

// 16 runs of one summary name and 8 of names of their own, started together
// in one results directory: every run ends with status 0 and each name holds
// one complete summary, with nothing else beside them.
TEST(RunsSideBySide, SameAndDifferentNamesInOneResultsDirectory) {
  Sample reference;
  ASSERT_EQ(reference.run("r"), 0);
  const std::string complete = listing(reference.results.path).at(reference.name("r"));
  for (bool anonymous : {true, false}) {
    textio::AtomicFile::anonymous_files = anonymous;
    Sample s;
    std::vector<std::string> tags(16, "same");
    for (int i = 0; i < 8; ++i) tags.push_back(std::to_string(i) + "d");
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (const std::string& tag : tags) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(start[1]);
        char go;
        ::_exit(::read(start[0], &go, 1) == 0 ? s.run(tag) : 99);
      }
      children.push_back(pid);
    }
    ::close(start[0]);
    ::close(start[1]);  // all start now
    for (pid_t pid : children) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    Listing expected;
    for (const std::string& tag : tags) expected[s.name(tag)] = complete;
    EXPECT_EQ(listing(s.results.path), expected) << "anonymous " << anonymous;
  }
  textio::AtomicFile::anonymous_files = true;
}

}  // namespace
