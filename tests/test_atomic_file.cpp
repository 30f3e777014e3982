// The temporary file of an atomic replacement never outlives a write that
// did not complete, whichever way the write ends.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ctime>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "textio/atomic_file.hpp"

namespace fs = std::filesystem;

namespace {

struct AtomicFileTest : ::testing::Test {
  fs::path dir = fs::temp_directory_path() / ("kelvo_atomic_" + std::to_string(::getpid()));
  fs::path target = dir / "out.txt";
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(target) << "old";
  }
  void TearDown() override { fs::remove_all(dir); }
  std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {})); }
  std::string contents() const {
    std::ifstream in(target);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(AtomicFileTest, UncommittedWritesLeaveOnlyTheOldFile) {
  std::string reason;
  {  // dropped without a commit
    textio::AtomicFile f;
    ASSERT_TRUE(f.create(target.string(), reason));
    ASSERT_TRUE(f.write("new", reason));
  }
  EXPECT_THROW(
      {  // an exception between create and commit
        textio::AtomicFile f;
        ASSERT_TRUE(f.create(target.string(), reason));
        throw std::runtime_error("interrupted");
      },
      std::runtime_error);
  {  // a rename that fails: a non-empty directory holds the final name
    const fs::path blocked = dir / "blocked";
    fs::create_directories(blocked / "inside");
    textio::AtomicFile f;
    ASSERT_TRUE(f.create(blocked.string(), reason));
    ASSERT_TRUE(f.write("new", reason));
    EXPECT_FALSE(f.commit(reason));
    EXPECT_EQ(reason.rfind("rename: ", 0), 0u) << reason;
    EXPECT_TRUE(f.temp_path().empty());
    fs::remove_all(blocked);
  }
  EXPECT_EQ(entries(), 1u);
  EXPECT_EQ(contents(), "old");

  textio::AtomicFile missing;
  EXPECT_FALSE(missing.create((dir / "no_such_dir" / "x").string(), reason));
  EXPECT_EQ(reason, "No such file or directory");
}

TEST_F(AtomicFileTest, CommitReplacesTheFileWhole) {
  std::string reason;
  textio::AtomicFile f;
  ASSERT_TRUE(f.create(target.string(), reason));
  ASSERT_TRUE(f.write("new contents", reason));
  ASSERT_TRUE(f.commit(reason)) << reason;
  EXPECT_EQ(contents(), "new contents");
  EXPECT_EQ(entries(), 1u);
}

// A commit removes the links of its final name left by killed commits, not
// one a live commit holds locked, nor other names.
TEST_F(AtomicFileTest, CommitRemovesOnlyLinksLeftByKilledCommits) {
  for (const char* n : {"out.txt.new7_0", "out.txt.new8_0", "out.txt.new7_", "out.txt.newer", "x.txt.new7_0"}) std::ofstream(dir / n) << "x";
  struct flock lock {};
  lock.l_type = F_WRLCK;
  const int live = ::open((dir / "out.txt.new8_0").c_str(), O_WRONLY);
  ASSERT_EQ(::fcntl(live, F_OFD_SETLK, &lock), 0);
  std::string reason;
  textio::AtomicFile f;
  EXPECT_TRUE(f.create(target.string(), reason) && f.write("new", reason) && f.commit(reason)) << reason;
  EXPECT_EQ(entries(), 5u);
  EXPECT_FALSE(fs::exists(dir / "out.txt.new7_0"));
  ::close(live);
}

}  // namespace

namespace {

// The private folder of a named write is removed by a later write only when
// its run is certainly dead: gone on this host and boot, of an earlier boot,
// or elsewhere and untouched for seven days; a live run's stays.
TEST_F(AtomicFileTest, PrivateFoldersOfDeadRunsAreRemovedAndLiveOnesKept) {
  std::string reason;
  textio::AtomicFile probe;
  ASSERT_TRUE(probe.create(target.string(), reason, textio::AtomicFile::Naming::named)) << reason;
  // ".kelvo.<host>.<boot>.<ns>.<pid>.<random>" of this run.
  const std::string mine = fs::path(probe.temp_dir()).filename().string();
  probe.abandon();
  std::vector<std::string> part;  // "", "kelvo", host, boot, ns, pid, random
  std::stringstream words(mine);
  for (std::string w; std::getline(words, w, '.');) part.push_back(w);
  ASSERT_EQ(part.size(), 7u) << mine;
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const auto folder = [&](const std::string& host, const std::string& boot, long pid, const char* tag) {
    const fs::path p = dir / (".kelvo." + host + "." + boot + "." + part[4] + "." + std::to_string(pid) + "." + tag);
    fs::create_directory(p);
    std::ofstream(p / "part") << "being written";
    return p;
  };
  const fs::path dead = folder(part[2], part[3], child, "aaaaaa");
  const fs::path live = folder(part[2], part[3], ::getppid(), "bbbbbb");
  const fs::path earlier_boot = folder(part[2], "0000boot", 12345, "cccccc");
  const fs::path elsewhere_now = folder("otherhost", part[3], 12345, "dddddd");
  const fs::path elsewhere_old = folder("otherhost", part[3], 12346, "eeeeee");
  const struct timespec old[2] = {{std::time(nullptr) - 8 * 24 * 3600, 0}, {std::time(nullptr) - 8 * 24 * 3600, 0}};
  ::utimensat(AT_FDCWD, (elsewhere_old / "part").c_str(), old, 0);
  ::utimensat(AT_FDCWD, elsewhere_old.c_str(), old, 0);
  textio::AtomicFile f;
  ASSERT_TRUE(f.create(target.string(), reason, textio::AtomicFile::Naming::named)) << reason;
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_FALSE(fs::exists(earlier_boot));
  EXPECT_FALSE(fs::exists(elsewhere_old));
  EXPECT_TRUE(fs::exists(live / "part"));
  EXPECT_TRUE(fs::exists(elsewhere_now / "part"));
  EXPECT_EQ(fs::status(f.temp_dir()).permissions() & fs::perms::all, fs::perms::owner_all);
}

}  // namespace
