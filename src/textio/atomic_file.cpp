#include "textio/atomic_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace textio {

namespace {

// fsync on a file system that cannot sync (a pipe, a read-only mount) is no
// failure of ours.
bool sync_descriptor(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS; }

}  // namespace

bool AtomicFile::fail(std::string& reason, std::string_view step) {
  reason = std::string(step) + ": " + std::strerror(errno);
  abandon();
  return false;
}

bool AtomicFile::create(const std::string& path, std::string& reason) {
  abandon();
  path_ = path;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_path_ = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
    fd_ = ::open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    if (errno != EEXIST) break;
  }
  reason = std::strerror(errno);
  temp_path_.clear();
  return false;
}

bool AtomicFile::write(std::string_view text, std::string& reason) {
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

void AtomicFile::close_descriptor() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool AtomicFile::commit(std::string& reason) {
  if (fd_ < 0) {
    fd_ = ::open(temp_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return fail(reason, "open for fsync");
  }
  if (!sync_descriptor(fd_)) return fail(reason, "fsync");
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return fail(reason, "close");
  if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) return fail(reason, "rename");
  temp_path_.clear();
  return true;
}

void AtomicFile::abandon() {
  close_descriptor();
  if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
}

}  // namespace textio
