// kelvo's outputs under attack: each row an attack on import, map, series
// or plan, run as a process, with its status and first words; after every
// row nothing but the row's outputs changed in its folder, no temporary
// remains, and device nodes are still devices. Rows that need root (devices,
// a full disk) are skipped elsewhere, with the reason.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/nc_read.hpp"
#include "support/kelvo_cli_run.hpp"
#include "support/run_support.hpp"
#include "textio/atomic_file.hpp"

namespace {

namespace fs = std::filesystem;
using kelvo_test::RunResult;

const std::string source = KELVO_SOURCE_DIR;
const std::string argo_index = source + "/tests/data/import/argo_prof_excerpt.txt";
const std::string insitu_index = source + "/tests/data/import/insitu_index_excerpt.txt";

// Runs kelvo as a process, killed after `seconds`.
RunResult run_kelvo(const std::vector<std::string>& args, const fs::path& cwd, int seconds = 60) {
  std::string line = "cd '" + cwd.string() + "' && timeout -s KILL " + std::to_string(seconds) + " '" KELVO_EXE "'";
  for (const std::string& a : args) line += " '" + a + "'";
  line += " >.out 2>.err";
  RunResult r;
  const int w = std::system(line.c_str());
  r.status = WIFEXITED(w) ? WEXITSTATUS(w) : 128 + WTERMSIG(w);
  r.out = kelvo_test::read_file(cwd / ".out");
  r.err = kelvo_test::read_file(cwd / ".err");
  fs::remove(cwd / ".out");
  fs::remove(cwd / ".err");
  return r;
}

// Every entry under `dir` with its type, size and time of change.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> s;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    // A folder's own time changes with every entry made and removed in it.
    const bool folder = S_ISDIR(st.st_mode);
    s[e.path().lexically_relative(dir).string()] = std::to_string(st.st_mode) + " " +
                                                   std::to_string(folder ? 0 : st.st_size) + " " +
                                                   std::to_string(folder ? 0 : st.st_mtim.tv_nsec);
  }
  return s;
}

std::vector<std::string> map_args(const std::string& output, const std::string& day = "2004-01-01") {
  return {"map", "--domain", "NsBs", "--scale-dir", source + "/sample/BRINO_S", "--param", "salt", "--layers", "1-2",
          "--obs", source + "/sample/metadata/NsBs_network_2004.lst", "--day", day, "-o", output};
}

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A plan of one float of the map's inputs, writing PREFIX.nc and PREFIX.lst.
std::vector<std::string> plan_args(const std::string& prefix, const std::vector<std::string>& more = {}) {
  std::vector<std::string> a = with(map_args(prefix), {"--add", "1", "--kind", "4"});
  a.front() = "plan";
  return with(a, more);
}

bool any_private_folder(const fs::path& dir) {
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string().starts_with(".kelvo.")) return true;
  }
  return false;
}

struct Row {
  const char* attack;
  bool needs_root;
  std::function<void(const fs::path&)> setup;
  std::vector<std::string> args;  // run in the row's folder
  int status;
  std::string message;                 // how standard error starts
  std::vector<std::string> outputs;    // the entries the run may change
  std::function<void(const fs::path&, const RunResult&)> check;
};

void fill_disk(const fs::path& t) {
  fs::create_directory(t / "full");
  ASSERT_EQ(::mount("tmpfs", (t / "full").c_str(), "tmpfs", 0, "size=256k"), 0);
  kelvo_test::write_file(t / "full" / "m.nc", "older");
  kelvo_test::write_file(t / "full" / "fill", std::string(232 * 1024, 'x'));
}

TEST(HostileOutputs, EveryAttackFailsCleanlyAndTouchesNothingElse) {
  const auto write = [](const char* name, std::string text) {
    return [=](const fs::path& t) { kelvo_test::write_file(t / name, text); };
  };
  const std::vector<Row> rows{
      {"1 -o a device", true, {}, {"import", "argo", argo_index, "-o", "/dev/full"}, 2,
       "kelvo import: -o /dev/full: a character device: only regular files are replaced", {},
       [](const fs::path&, const RunResult&) { EXPECT_TRUE(fs::is_character_file("/dev/full")); }},
      {"1 -o a FIFO", false, [](const fs::path& t) { ::mkfifo((t / "f").c_str(), 0644); },
       {"import", "argo", argo_index, "-o", "f"}, 2, "kelvo import: -o f: a FIFO", {},
       [](const fs::path& t, const RunResult&) { EXPECT_TRUE(fs::is_fifo(t / "f")); }},
      {"1 -o - pipes the list", false, {}, {"import", "argo", argo_index, "-o", "-", "-q"}, 0, "kelvo import: ", {},
       [](const fs::path&, const RunResult& r) { EXPECT_EQ(r.out.substr(0, 17), " 47.3120 -12.5510"); }},
      {"2 a backslash in the folder", false, [](const fs::path& t) { fs::create_directory(t / "a\\b"); },
       map_args("a\\b/m.nc"), 2, "kelvo map: cannot write a\\b/m.nc: the folder's name holds a \\", {}, {}},
      {"2, 11 a backslash in the name; the calendar", false, {}, map_args("x\\y.nc"), 0, "", {"x\\y.nc"},
       [](const fs::path& t, const RunResult&) {  // read under a plain name: the library reads "\\" as "/"
         fs::copy_file(t / "x\\y.nc", "/tmp/kelvo_backslash_copy.nc", fs::copy_options::overwrite_existing);
         EXPECT_EQ(kelvo_test::NcRead("/tmp/kelvo_backslash_copy.nc").text("time", "calendar"), "proleptic_gregorian");
         fs::remove("/tmp/kelvo_backslash_copy.nc");
       }},
      {"4 a full disk", true, fill_disk, map_args("full/m.nc"), 2, "kelvo map: cannot write full/m.nc: nc_", {},
       [](const fs::path& t, const RunResult& r) {
         EXPECT_NE(r.err.find("(No space left on device)\n"), std::string::npos) << r.err;
         EXPECT_EQ(kelvo_test::read_file(t / "full" / "m.nc"), "older");
       }},
      {"5 a day at the absent time", false, {}, map_args("m.nc", "1727-03-19"), 1,
       "kelvo map: --day \"1727-03-19\": kelvo assesses days from 1800-01-01 on", {}, {}},
      {"6 a directory in place of the plan's list", false,
       [](const fs::path& t) { fs::create_directory(t / "p.lst"); kelvo_test::write_file(t / "p.nc", "older"); },
       plan_args("p"), 2, "kelvo plan: -o p.lst: a directory", {}, {}},
      {"8 an index without line ends", false, {}, {"import", "argo", "/dev/zero", "-o", "z.lst"}, 2,
       "kelvo import: /dev/zero line 1: longer than 1 MiB", {}, {}},
      {"8 a kind map without line ends", false, {}, {"import", "insitu", insitu_index, "--kind-map", "/dev/zero", "-o", "z.lst"},
       2, "kelvo import: /dev/zero line 1: longer than 1 MiB", {}, {}},
      {"8 too many sites", false, write("s.lst", [] { std::string s; for (int n = 0; n <= 1000000; ++n) s += " 51.0000 -13.0000\n"; return s; }()),
       plan_args("p", {"--sites", "s.lst"}), 2, "kelvo plan: --sites s.lst: more than 1000000 sites", {}, {}},
      {"9 an empty output name", false, {}, map_args(""), 1, "kelvo map: -o: an empty file name", {}, {}},
      {"11 every site off the grid", false, write("off.lst", " 10.0000 100.0000\n"), plan_args("p", {"--sites", "off.lst"}),
       2, "kelvo plan: --sites off.lst: none of its 1 sites lies on the grid of NsBs", {}, {}},
      {"11 the whole globe", false, {}, {"import", "argo", argo_index, "-o", "g.lst", "--region", "-180", "180", "-90", "90", "-q"},
       0, "kelvo import: ", {"g.lst"}, {}},
      {"11 a NaN region", false, {}, {"import", "argo", argo_index, "-o", "g.lst", "--region", "nan", "1", "2", "3"}, 1,
       "kelvo import: --region", {}, {}},
      {"11 a line end in the name", false, {}, map_args("a\nb.nc"), 1, "kelvo map: -o: a file name with a control", {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.attack);
    if (row.needs_root && ::geteuid() != 0) {
      std::printf("skipped \"%s\": needs root (device nodes, mounting a full disk)\n", row.attack);
      continue;
    }
    kelvo_test::TempDir t;
    if (row.setup) row.setup(t.path);
    const auto before = snapshot(t.path);
    const RunResult r = run_kelvo(row.args, t.path);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.err.rfind(row.message, 0), 0u) << r.err;
    if (row.check) row.check(t.path, r);
    auto after = snapshot(t.path);
    for (const std::string& o : row.outputs) after.erase(o);
    EXPECT_EQ(after, before);
    EXPECT_FALSE(any_private_folder(t.path));
    ::umount((t.path / "full").c_str());  // the full disk of its row; nothing elsewhere
  }
}

// A SIGINT, SIGTERM or SIGHUP while the file is written removes what the run
// made, and the process still ends by the signal. A kill between the plan's
// two renames leaves the new list beside the older NetCDF file, never the
// reverse, and the next write there removes the killed run's private folder.
int raise_signal = 0;
int kill_at_rename = 0;
void on_step(textio::AtomicFile::Step step) {
  if (step == textio::AtomicFile::Step::sync && raise_signal != 0) ::raise(raise_signal);
  if (step == textio::AtomicFile::Step::rename && kill_at_rename != 0 && --kill_at_rename == 0) ::raise(SIGKILL);
}

int run_in_child(const std::vector<std::string>& args, const fs::path& cwd, int signal, int renames) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("KELVO_THREADS", "1", 1);
    fs::current_path(cwd);
    raise_signal = signal;
    kill_at_rename = renames;
    textio::AtomicFile::step_hook = on_step;
    ::_exit(kelvo_test::kelvo_cli(args).status);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(HostileOutputs, SignalsLeaveNoTemporaryAndAKilledPlanNoNewFileBesideAnOldList) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    kelvo_test::TempDir t;
    kelvo_test::write_file(t.path / "m.nc", "older");
    EXPECT_EQ(run_in_child(map_args("m.nc"), t.path, sig, 0), -sig);
    EXPECT_EQ(kelvo_test::read_file(t.path / "m.nc"), "older");
    EXPECT_FALSE(any_private_folder(t.path)) << sig;
  }
  kelvo_test::TempDir t;
  ASSERT_EQ(run_in_child(plan_args("p"), t.path, 0, 0), 0);
  const std::string old_nc = kelvo_test::read_file(t.path / "p.nc"), old_list = kelvo_test::read_file(t.path / "p.lst");
  const std::string old_id = kelvo_test::NcRead(t.path / "p.nc").text("", "run_id");
  EXPECT_NE(old_list.find(old_id), std::string::npos);  // the list's new record carries the run id
  EXPECT_EQ(run_in_child(plan_args("p"), t.path, 0, 2), -SIGKILL);  // killed at the NetCDF file's rename
  EXPECT_EQ(kelvo_test::read_file(t.path / "p.nc"), old_nc);
  EXPECT_NE(kelvo_test::read_file(t.path / "p.lst"), old_list);
  EXPECT_TRUE(any_private_folder(t.path));
  EXPECT_EQ(run_in_child(map_args("m.nc"), t.path, 0, 0), 0);
  EXPECT_FALSE(any_private_folder(t.path));
}

// Another user planting links beside 50 writes of a shared folder (sticky,
// world-writable) changes no file of the writer's.
TEST(HostileOutputs, LinksPlantedByAnotherUserReachNoFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root: the attacker runs as the user nobody";
  kelvo_test::TempDir t;
  fs::permissions(t.path, fs::perms::all | fs::perms::sticky_bit);
  kelvo_test::write_file(t.path / "victim", "victim");
  const pid_t attacker = ::fork();
  if (attacker == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
    for (;;) {  // a link at every name it can see or guess, into every folder it can enter
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(t.path, ec)) {
        fs::create_symlink(t.path / "victim", e.path() / "part", ec);
      }
      for (int n = 0; n < 4; ++n) fs::create_symlink(t.path / "victim", t.path / ("m.nc.tmp" + std::to_string(n)), ec);
    }
  }
  for (int run = 0; run < 50; ++run) {
    ASSERT_EQ(run_kelvo(map_args("m.nc"), t.path).status, 0) << run;
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(t.path / "m.nc"))) << run;
  }
  ::kill(attacker, SIGKILL);
  ::waitpid(attacker, nullptr, 0);
  EXPECT_EQ(kelvo_test::read_file(t.path / "victim"), "victim");
}

}  // namespace
