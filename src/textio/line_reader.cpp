// Lines read through a fixed buffer with POSIX calls.

#include "textio/line_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace textio {

void LineReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

LineCount count_line_ends(const std::string& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return {};
  struct stat info {};
  LineCount c;
  c.line_ends = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? 0 : -1;
  std::vector<char> block(std::size_t{1} << 20);
  while (c.line_ends >= 0) {
    const ssize_t n = ::read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) c.line_ends = -1;
      break;
    }
    c.line_ends += std::count(block.data(), block.data() + n, '\n');
    c.bytes += n;
  }
  ::close(fd);
  return c;
}

bool LineReader::open(const std::string& path, std::string& reason) {
  close();
  begin_ = end_ = 0;
  line_number_ = 0;
  stopped_ = LineStatus::line;
  do {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  int error = fd_ < 0 ? errno : 0;
  struct stat info {};
  if (error == 0 && ::fstat(fd_, &info) != 0) error = errno;
  // A directory opens for reading on Linux but is not a file we can read.
  if (error == 0 && S_ISDIR(info.st_mode)) error = EISDIR;
  if (error == 0) return true;
  close();
  reason = std::strerror(error);
  return false;
}

// The next block of the file into the buffer; false at the end of the file
// or on a read error (then stopped_ says so).
bool LineReader::fill() {
  begin_ = end_ = 0;
  if (fd_ < 0) return false;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
    if (got > 0) {
      end_ = static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) return false;
    if (errno == EINTR) continue;
    reason_ = std::strerror(errno);
    stopped_ = LineStatus::read_error;
    return false;
  }
}

LineStatus LineReader::finish_line(bool ended_by_line_feed, std::string_view& line) {
  ++line_number_;
  std::size_t length = length_;
  if (ended_by_line_feed && length > 0 && last_ == '\r') {
    --length;
    // The CR was kept only when the whole line was.
    if (kept_.size() > length) kept_.pop_back();
  }
  if (length > max_line_length) return stopped_ = LineStatus::too_long;
  line = kept_;
  return LineStatus::line;
}

LineStatus LineReader::next(std::size_t keep, std::string_view& line) {
  if (stopped_ != LineStatus::line) return stopped_;
  kept_.clear();
  length_ = 0;
  keep_ = std::min(keep, max_line_length);
  for (;;) {
    if (begin_ == end_ && !fill()) {
      if (stopped_ != LineStatus::line) return stopped_;
      if (length_ == 0) return LineStatus::end;
      return finish_line(false, line);
    }
    const char* start = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const char* line_feed = static_cast<const char*>(std::memchr(start, '\n', available));
    const std::size_t taken = line_feed != nullptr ? static_cast<std::size_t>(line_feed - start) : available;
    if (kept_.size() < keep_) kept_.append(start, std::min(taken, keep_ - kept_.size()));
    if (taken > 0) last_ = start[taken - 1];
    length_ += taken;
    begin_ += taken;
    if (line_feed != nullptr) {
      ++begin_;
      return finish_line(true, line);
    }
    // Past the longest line even if a CR of a CR-LF end comes last.
    if (length_ > max_line_length + 1) {
      ++line_number_;
      return stopped_ = LineStatus::too_long;
    }
  }
}

}  // namespace textio
