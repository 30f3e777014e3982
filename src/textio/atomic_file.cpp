#include "textio/atomic_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>

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

// Removes the named temporary files "<base>.tmp<pid>_<n>" of `path` whose
// process no longer runs: a run killed while a library wrote the file by its
// name. (A library opens and closes the file itself, so no lock can mark a
// live writer; the process number in the name does.)
void remove_dead_named_files(const std::string& path) {
  constexpr std::string_view infix = ".tmp";
  DIR* dir = ::opendir(directory_of(path).c_str());
  if (dir == nullptr) return;
  const std::string_view base = base_of(path);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!is_commit_link(name, base, infix)) continue;
    const std::string_view number = name.substr(base.size() + infix.size());
    long pid = 0;
    std::from_chars(number.data(), number.data() + number.find('_'), pid);
    if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

}  // namespace

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
  remove_dead_named_files(path_);
  for (int attempt = 0; attempt < max_attempts; ++attempt) {
    temp_path_ = numbered_name(path_, ".tmp", attempt);
    fd_ = ::open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    if (errno != EEXIST) break;
  }
  reason = std::strerror(errno);
  temp_path_.clear();
  return false;
}

bool AtomicFile::write(std::string_view text, std::string& reason) {
  announce(Step::write);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return fail(reason, "write");
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
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
}

}  // namespace textio
