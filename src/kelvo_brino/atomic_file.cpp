#include "kelvo_brino/atomic_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kelvo {

namespace {

bool fail(AtomicFile& file, std::string& reason, std::string_view what) {
  reason = std::string(what) + ": " + std::strerror(errno);
  atomic_file_abandon(file);
  return false;
}

}  // namespace

bool atomic_file_create(AtomicFile& file, const std::string& path, std::string& reason) {
  file.path = path;
  // O_EXCL with a name of our own: never follows or reuses somebody else's file.
  for (int attempt = 0; attempt < 100; ++attempt) {
    file.temp_path = path + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(attempt);
    file.fd = ::open(file.temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.fd >= 0) return true;
    if (errno != EEXIST) break;
  }
  reason = std::strerror(errno);
  file.temp_path.clear();
  return false;
}

bool atomic_file_commit(AtomicFile& file, std::string_view text, std::string& reason) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(file.fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return fail(file, reason, "write");
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(file.fd) != 0 && errno != EINVAL && errno != EROFS) return fail(file, reason, "fsync");
  const int fd = file.fd;
  file.fd = -1;
  if (::close(fd) != 0) return fail(file, reason, "close");
  if (std::rename(file.temp_path.c_str(), file.path.c_str()) != 0) return fail(file, reason, "rename");
  file.temp_path.clear();
  return true;
}

void atomic_file_abandon(AtomicFile& file) {
  if (file.fd >= 0) {
    ::close(file.fd);
    file.fd = -1;
  }
  if (!file.temp_path.empty()) {
    ::unlink(file.temp_path.c_str());
    file.temp_path.clear();
  }
}

}  // namespace kelvo
