#include "textio/atomic_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace textio {

namespace {

constexpr int max_attempts = 100;
constexpr std::string_view link_infix = ".new";

void announce(AtomicFile::Step step) {
  if (AtomicFile::step_hook != nullptr) AtomicFile::step_hook(step);
}

// fsync on a file system that cannot sync (a pipe, a read-only mount) is no
// failure of ours.
bool sync_descriptor(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS; }

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string_view base_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// How the descriptor of an anonymous file is reached by name.
std::string descriptor_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The errors of open(O_TMPFILE) on a kernel or file system without
// anonymous files.
bool no_anonymous_files(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

std::string numbered_name(const std::string& path, std::string_view infix, int attempt) {
  return path + std::string(infix) + std::to_string(::getpid()) + "_" + std::to_string(attempt);
}

// A lock of the whole file held by this open file (not by the process),
// released by the kernel when the file is closed, the process killed
// included. False when it is held elsewhere or cannot be taken.
bool lock_whole_file(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// "<base>.new<digits>_<digits>": a link of a commit of the final name <base>.
bool is_commit_link(std::string_view name, std::string_view base, std::string_view infix = link_infix) {
  if (name.size() <= base.size() + infix.size() || name.substr(0, base.size()) != base ||
      name.substr(base.size(), infix.size()) != infix) {
    return false;
  }
  const std::string_view number = name.substr(base.size() + infix.size());
  const std::size_t underscore = number.find('_');
  if (underscore == 0 || underscore == std::string_view::npos || underscore + 1 == number.size()) return false;
  for (std::size_t i = 0; i < number.size(); ++i) {
    if (i != underscore && (number[i] < '0' || number[i] > '9')) return false;
  }
  return true;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Removes the link `name` in `dir` when no commit holds its lock: the
// process that made it was killed before renaming it.
void remove_if_left_over(int dir, const char* name) {
  const int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return;
  struct stat opened {}, named {};
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && lock_whole_file(fd, F_RDLCK) &&
      ::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(opened, named)) {
    ::unlinkat(dir, name, 0);
  }
  ::close(fd);
}

// Removes the links of commits of `path` that were killed between linking
// and renaming. A live commit holds the lock of its link, so it is left be.
void remove_left_over_links(const std::string& path) {
  DIR* dir = ::opendir(directory_of(path).c_str());
  if (dir == nullptr) return;
  const std::string_view base = base_of(path);
  while (const dirent* entry = ::readdir(dir)) {
    if (is_commit_link(entry->d_name, base)) remove_if_left_over(::dirfd(dir), entry->d_name);
  }
  ::closedir(dir);
}

// ------------------------------------------------------------ private directories

// A text that can stand between dots in a file name: letters, digits, '-' and '_'.
std::string name_part(std::string_view text, std::size_t longest) {
  std::string part;
  for (const char c : text) {
    if (part.size() == longest) break;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    part += plain ? c : '-';
  }
  return part.empty() ? "unknown" : part;
}

std::string first_line_of(const char* path) {
  char buf[256] = {};
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  std::string text(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
  return text.substr(0, text.find('\n'));
}

// Who writes: this host, this boot of it and this process namespace, as
// three name parts (the process id follows them in a directory's name).
struct Writer {
  std::string host, boot, pid_namespace;
  bool operator==(const Writer&) const = default;
};

const Writer& this_writer() {
  static const Writer w = [] {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string boot = first_line_of("/proc/sys/kernel/random/boot_id");
    std::erase(boot, '-');
    char ns[64] = {};
    const ssize_t n = ::readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
    std::string pid_ns(ns, n > 0 ? static_cast<std::size_t>(n) : 0);  // "pid:[4026531836]"
    std::erase_if(pid_ns, [](char c) { return c < '0' || c > '9'; });
    return Writer{name_part(host, 40), name_part(boot, 32), name_part(pid_ns, 20)};
  }();
  return w;
}

// The writer and process of a private directory's name
// ".kelvo.<host>.<boot>.<ns>.<pid>.<random>"; false for any other name.
bool parse_temp_dir(std::string_view name, Writer& w, long& pid) {
  if (!name.starts_with(AtomicFile::temp_dir_prefix)) return false;
  name.remove_prefix(AtomicFile::temp_dir_prefix.size());
  std::string_view parts[5];  // host, boot, namespace, pid, random
  std::size_t count = 0;
  for (;;) {
    const std::size_t dot = name.find('.');
    if (count == 5) return false;
    parts[count++] = name.substr(0, dot);
    if (dot == std::string_view::npos) break;
    name.remove_prefix(dot + 1);
  }
  if (count != 5) return false;
  w = Writer{std::string(parts[0]), std::string(parts[1]), std::string(parts[2])};
  const auto [end, ec] = std::from_chars(parts[3].data(), parts[3].data() + parts[3].size(), pid);
  return ec == std::errc() && end == parts[3].data() + parts[3].size() && pid > 0;
}

// The latest change of a directory and of the entries in it.
long latest_change(int dir) {
  struct stat st {};
  long latest = ::fstat(dir, &st) == 0 ? static_cast<long>(st.st_mtime) : 0;
  const int copy = ::dup(dir);
  DIR* d = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (d == nullptr) {
    if (copy >= 0) ::close(copy);
    return latest;
  }
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, "..") == 0) continue;
    if (::fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      latest = std::max(latest, static_cast<long>(st.st_mtime));
    }
  }
  ::closedir(d);
  return latest;
}

// Whether the run that made a private directory is certainly gone.
bool certainly_dead(const Writer& w, long pid, int dir) {
  const Writer& me = this_writer();
  if (w == me) return pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
  if (w.host == me.host && w.boot != me.boot) return true;  // an earlier boot of this host
  return std::time(nullptr) - latest_change(dir) > AtomicFile::stale_age_seconds;
}

// Removes the entries of a private directory (files only: it holds no
// other) and the directory.
void remove_temp_dir_at(int parent, const char* name) {
  const int dir = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return;
  if (DIR* d = ::fdopendir(::dup(dir))) {
    while (const dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ::unlinkat(dir, e->d_name, 0);
    }
    ::closedir(d);
  }
  ::close(dir);
  ::unlinkat(parent, name, AT_REMOVEDIR);
}

// Removes the private directories in `path`'s directory whose runs are
// certainly dead.
void remove_dead_temp_dirs(const std::string& path) {
  DIR* dir = ::opendir(directory_of(path).c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    Writer w;
    long pid = 0;
    if (!parse_temp_dir(entry->d_name, w, pid)) continue;
    const int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    const bool dead = certainly_dead(w, pid, fd);
    ::close(fd);
    if (dead) remove_temp_dir_at(::dirfd(dir), entry->d_name);
  }
  ::closedir(dir);
}

// ------------------------------------------------------------ signals

// The named temporary files and their directories that a SIGINT, SIGTERM or
// SIGHUP removes before the process ends as the signal would end it.
struct CleanupSlot {
  std::atomic<int> used{0};
  char file[4096];
  char dir[4096];
};
constexpr int cleanup_slots = 16;
CleanupSlot cleanup[cleanup_slots];
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_on_signal(int sig) {
  for (CleanupSlot& slot : cleanup) {
    if (slot.used.load() != 1) continue;
    ::unlink(slot.file);
    ::rmdir(slot.dir);
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// Handlers for the signals whose action is still the default one (a
// program's own handler, or an ignored signal, is left as it is).
void install_handlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int sig : cleanup_signals) {
      struct sigaction old {};
      if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
      struct sigaction act {};
      act.sa_handler = remove_on_signal;
      ::sigemptyset(&act.sa_mask);
      ::sigaction(sig, &act, nullptr);
    }
  });
}

int register_cleanup(const std::string& file, const std::string& dir) {
  if (file.size() >= sizeof(CleanupSlot::file) || dir.size() >= sizeof(CleanupSlot::dir)) return -1;
  install_handlers();
  for (int n = 0; n < cleanup_slots; ++n) {
    int expected = 0;
    if (!cleanup[n].used.compare_exchange_strong(expected, 2)) continue;  // 2: being filled
    std::memcpy(cleanup[n].file, file.c_str(), file.size() + 1);
    std::memcpy(cleanup[n].dir, dir.c_str(), dir.size() + 1);
    cleanup[n].used.store(1);
    return n;
  }
  return -1;
}

void unregister_cleanup(int slot) {
  if (slot >= 0) cleanup[slot].used.store(0);
}

}  // namespace

bool replaceable(const std::string& path, std::string& reason) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return true;  // a new name
  const bool link = S_ISLNK(st.st_mode);
  if (link && ::stat(path.c_str(), &st) != 0) {
    reason = "a link to nothing: only regular files are replaced";
    return false;
  }
  if (S_ISREG(st.st_mode)) return true;
  const char* what = S_ISDIR(st.st_mode)    ? "a directory"
                     : S_ISCHR(st.st_mode)  ? "a character device"
                     : S_ISBLK(st.st_mode)  ? "a block device"
                     : S_ISFIFO(st.st_mode) ? "a FIFO"
                     : S_ISSOCK(st.st_mode) ? "a socket"
                                            : "not a regular file";
  reason = std::string(link ? "a link to " : "") + what + ": only regular files are replaced";
  return false;
}

bool AtomicFile::fail(std::string& reason, std::string_view step) {
  reason = std::string(step) + ": " + std::strerror(errno);
  abandon();
  return false;
}

void AtomicFile::close_fd() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void AtomicFile::close_descriptor() {
  if (!anonymous_) close_fd();
}

bool AtomicFile::create(const std::string& path, std::string& reason, Naming naming) {
  abandon();
  path_ = path;
  announce(Step::create);
  // A directory of the name fails at the rename, as it always did.
  struct stat st {};
  if (!replaceable(path, reason) && !(::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return false;
  if (anonymous_files && naming == Naming::anonymous_where_possible) {
    fd_ = ::open(directory_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0 && !no_anonymous_files(errno)) {
      reason = std::strerror(errno);
      return false;
    }
    // Without /proc the file could not be linked into place.
    if (fd_ >= 0 && ::access(descriptor_path(fd_).c_str(), F_OK) == 0) {
      anonymous_ = true;
      return true;
    }
    close_fd();
  }
  return create_named(reason);
}

bool AtomicFile::create_named(std::string& reason) {
  remove_dead_temp_dirs(path_);
  const Writer& w = this_writer();
  std::string dir = directory_of(path_) + "/" + std::string(temp_dir_prefix) + w.host + "." + w.boot + "." +
                    w.pid_namespace + "." + std::to_string(::getpid()) + ".XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  temp_dir_ = dir;
  temp_path_ = dir + "/part";
  cleanup_slot_ = register_cleanup(temp_path_, temp_dir_);
  fd_ = ::open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd_ >= 0) return true;
  reason = std::strerror(errno);
  temp_path_.clear();
  remove_temp_dir();
  return false;
}

void AtomicFile::remove_temp_dir() {
  if (!temp_dir_.empty()) ::rmdir(temp_dir_.c_str());
  temp_dir_.clear();
  unregister_cleanup(cleanup_slot_);
  cleanup_slot_ = -1;
}

bool write_all(int fd, std::string_view text, std::string& reason) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      reason = std::string("write: ") + std::strerror(errno);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool AtomicFile::write(std::string_view text, std::string& reason) {
  announce(Step::write);
  if (write_all(fd_, text, reason)) return true;
  abandon();
  return false;
}

bool AtomicFile::commit(std::string& reason) {
  if (fd_ < 0) {
    fd_ = ::open(temp_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return fail(reason, "open for fsync");
  }
  announce(Step::sync);
  if (!sync_descriptor(fd_)) return fail(reason, "fsync");
  if (anonymous_) {
    if (!place_anonymous(reason)) return false;
  } else {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fail(reason, "close");
    announce(Step::rename);
    if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) return fail(reason, "rename");
    temp_path_.clear();
    remove_temp_dir();
  }
  remove_left_over_links(path_);
  return true;
}

// Links the complete anonymous file under the final name; when that name
// exists, under a link of its own, locked while it exists, renamed over it.
bool AtomicFile::place_anonymous(std::string& reason) {
  const std::string self = descriptor_path(fd_);
  announce(Step::link);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    if (errno != EEXIST) return fail(reason, "link");
    lock_whole_file(fd_, F_WRLCK);
    for (int attempt = 0;; ++attempt) {
      if (attempt == max_attempts) return fail(reason, "link");
      temp_path_ = numbered_name(path_, link_infix, attempt);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp_path_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        if (errno == EEXIST) continue;
        temp_path_.clear();
        return fail(reason, "link");
      }
      announce(Step::rename);
      if (std::rename(temp_path_.c_str(), path_.c_str()) == 0) break;
      // ENOENT: the link was taken for a left-over one; link again.
      if (errno != ENOENT) return fail(reason, "rename");
    }
    temp_path_.clear();
  }
  // The contents are on disk and in place: closing cannot lose them.
  close_fd();
  anonymous_ = false;
  return true;
}

void AtomicFile::abandon() {
  close_fd();
  anonymous_ = false;
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
  remove_temp_dir();
}

}  // namespace textio
