// Whole files read into memory with POSIX calls, and split into lines.

#include "textio/lines.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace textio {

namespace {

// Closes the descriptor on every way out of read_whole_file.
struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

constexpr std::size_t kReadChunk = std::size_t{1} << 16;

bool fail(std::string& reason, int error) {
  reason = std::strerror(error);
  return false;
}

}  // namespace

bool read_whole_file(const std::string& path, std::string& content, std::string& reason) {
  content.clear();
  FileDescriptor file;
  do {
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (file.fd < 0 && errno == EINTR);
  if (file.fd < 0) return fail(reason, errno);

  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return fail(reason, errno);
  // A directory opens for reading on Linux but is not a file we can read.
  if (S_ISDIR(info.st_mode)) return fail(reason, EISDIR);

  // The size is only a hint (pipes and /proc files report 0): one byte more
  // than it lets a regular file be read to its end in one pass, and the
  // buffer grows for anything longer.
  std::size_t size = kReadChunk;
  if (S_ISREG(info.st_mode) && static_cast<std::size_t>(info.st_size) >= size)
    size = static_cast<std::size_t>(info.st_size) + 1;
  content.resize(size);
  std::size_t used = 0;
  for (;;) {
    if (used == content.size()) content.resize(content.size() * 2);
    const ssize_t got = ::read(file.fd, content.data() + used, content.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      content.clear();
      return fail(reason, error);
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  content.resize(used);
  return true;
}

bool LineSplitter::next(std::string_view& line) {
  if (pos >= data.size()) return false;
  const std::size_t end = data.find('\n', pos);
  if (end == std::string_view::npos) {
    line = data.substr(pos);
    pos = data.size();
  } else {
    line = data.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end + 1;
  }
  ++line_number;
  return true;
}

}  // namespace textio
