// A file replaced atomically. The new contents go to an anonymous file
// (O_TMPFILE) in the final name's directory, which has no name until it is
// complete and flushed to disk, so a run that fails, throws or is killed
// (SIGKILL, an out-of-memory kill, a power cut) leaves nothing of it behind.
// Complete, it is linked under the final name; when that name exists it is
// linked under a name of its own beside it ("<final name>.new<pid>_<n>") and
// renamed over the final name. That second name lives for two system calls;
// one left by a run killed between them is removed by the next commit of the
// same final name. Until the commit the final name is untouched.
//
// Where the file system has no anonymous files (or /proc is not mounted),
// and for a writer that opens the file by its name (a library), the contents
// go to a file inside a private directory made for this write beside the
// final name: ".kelvo.<host>.<boot>.<pid namespace>.<pid>.<random>", mode
// 0700, created exclusively, so that no other user can plant a link where
// the file will be written and no name is guessed. It is removed on every way
// out but a kill, SIGINT, SIGTERM and SIGHUP included. A directory left by a
// killed run is removed by a later write in the same directory once its run
// is certainly dead: a run of this host and boot whose process is gone, a
// run of an earlier boot of this host, or a run elsewhere (another host, or
// another process namespace) whose directory has not changed for
// stale_age_seconds (a write takes seconds to minutes, never days).
//
// A final name that exists and is not a regular file (a device, a FIFO, a
// socket, a dangling link, or a link to one of them) is refused when the
// file is created; a directory fails at the rename and is never replaced.
#pragma once

#include <string>
#include <string_view>

namespace textio {

// False, with the reason, when `path` exists and is not a regular file (or
// a link to one): a device, a FIFO, a socket, a directory, a dangling link.
bool replaceable(const std::string& path, std::string& reason);

// Writes all of `text` to `fd` (retrying short writes and interruptions).
// False, with "write: <reason>", on failure.
bool write_all(int fd, std::string_view text, std::string& reason);

class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile() { abandon(); }

  // The steps of a write, each announced to step_hook (when set) just before
  // it is taken: tests stop a process at each of them.
  enum class Step { create, write, sync, link, rename };
  using StepHook = void (*)(Step);
  static inline StepHook step_hook = nullptr;
  // False makes create() take the named temporary file, as on a file system
  // without anonymous files (for tests).
  static inline bool anonymous_files = true;

  enum class Naming { anonymous_where_possible, named };

  // Creates the file that will take the place of `path`. False, with the
  // system's reason, when it cannot be created.
  bool create(const std::string& path, std::string& reason,
              Naming naming = Naming::anonymous_where_possible);

  // Appends `text`. False, with "write: <reason>", on failure (the file is
  // then given up).
  bool write(std::string_view text, std::string& reason);

  // Closes the descriptor of a named file for a writer that opens it by its
  // name (temp_path()); commit() then flushes it through a descriptor of its
  // own. An anonymous file keeps its descriptor, which is all it has.
  void close_descriptor();

  // Flushes the contents to disk and puts the file in place under the final
  // name. False, with the failing step and its reason, on failure: the file
  // is given up and the final name is left as it was.
  bool commit(std::string& reason);

  // Gives up a file that will not be committed.
  void abandon();

  // The temporary name that exists now, if any: the named temporary file,
  // or the link of a commit; empty for an anonymous file.
  const std::string& temp_path() const { return temp_path_; }
  // The private directory of a named temporary file; empty otherwise.
  const std::string& temp_dir() const { return temp_dir_; }

  // How long the private directory of a run elsewhere stays untouched
  // before a later write takes it for a dead run's: seven days.
  static constexpr long stale_age_seconds = 7L * 24 * 3600;
  // The prefix of the private directories.
  static constexpr std::string_view temp_dir_prefix = ".kelvo.";
  const std::string& path() const { return path_; }
  bool anonymous() const { return anonymous_; }

 private:
  bool create_named(std::string& reason);
  bool place_anonymous(std::string& reason);
  bool fail(std::string& reason, std::string_view step);
  void close_fd();

  void remove_temp_dir();

  std::string path_;
  std::string temp_path_;
  std::string temp_dir_;
  int cleanup_slot_ = -1;  // the entry removed by a signal handler
  int fd_ = -1;
  bool anonymous_ = false;
};

}  // namespace textio
