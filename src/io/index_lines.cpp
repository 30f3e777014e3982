#include "io/index_lines.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/error.hpp"
#include "textio/line_reader.hpp"

namespace kelvo::io {

namespace {

constexpr unsigned block_size = 256 * 1024;

gzFile gz(void* file) { return static_cast<gzFile>(file); }

constexpr std::size_t max_line_length = textio::max_line_length;

[[noreturn]] void index_failure(const std::string& path, const std::string& what, const std::string& reason) {
  Error e(ErrorCode::cannot_open, "read_index", what + " " + path + ": " + reason);
  e.file = path;
  e.reason = reason;
  throw e;
}

[[noreturn]] void open_failure(const std::string& path, const char* reason) {
  index_failure(path, "cannot open", reason);
}

}  // namespace

IndexReader::IndexReader(const std::string& path) : path_(path), block_(block_size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) open_failure(path, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    open_failure(path, std::strerror(err));
  }
  // gzdopen reads a file that is not gzip data as it is.
  file_ = gzdopen(fd, "rb");
  if (file_ == nullptr) {
    ::close(fd);
    open_failure(path, "out of memory");
  }
  gzbuffer(gz(file_), block_size);
}

IndexReader::~IndexReader() {
  if (file_ != nullptr) gzclose(gz(file_));
}

void IndexReader::read_failure() {
  int code = Z_OK;
  const char* message = gzerror(gz(file_), &code);
  const std::string reason = code == Z_ERRNO ? std::strerror(errno) : message;
  index_failure(path_, "cannot read", reason);
}

// The next block into block_; false at the end of the data. A compressed
// file that ends early or is damaged is a failure, never a shorter file.
bool IndexReader::fill() {
  if (at_end_) return false;
  const int n = gzread(gz(file_), block_.data(), block_size);
  if (n < 0) read_failure();
  if (n == 0) {
    int code = Z_OK;
    gzerror(gz(file_), &code);
    if (code != Z_OK) read_failure();
    at_end_ = true;
    return false;
  }
  pos_ = 0;
  end_ = static_cast<std::size_t>(n);
  return true;
}

bool IndexReader::next(std::string_view& line) {
  line_.clear();
  bool any = false;
  for (;;) {
    if (pos_ == end_ && !fill()) break;
    any = true;
    const char* begin = block_.data() + pos_;
    const char* stop = block_.data() + end_;
    const char* newline = std::find(begin, stop, '\n');
    const std::size_t count = static_cast<std::size_t>(newline - begin);
    if (line_.size() + count > max_line_length + 1) too_long();
    line_.append(begin, count);
    pos_ += count;
    if (newline != stop) {
      ++pos_;
      break;
    }
  }
  if (!any) return false;
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (line_.size() > max_line_length) too_long();
  ++line_number_;
  line = line_;
  return true;
}

bool IndexReader::compressed() const { return gzdirect(gz(file_)) == 0; }

bool IndexReader::next_lines(std::string& out, std::size_t size) {
  out.swap(carry_);
  carry_.clear();
  out.append(block_.data() + pos_, end_ - pos_);
  pos_ = end_;
  for (;;) {
    const std::size_t last = out.rfind('\n');
    const std::size_t open = last == std::string::npos ? out.size() : out.size() - last - 1;
    if (open > max_line_length + 1) {
      line_number_ += static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
      too_long();
    }
    if (out.size() >= size && last != std::string::npos) break;
    if (!fill()) break;
    out.append(block_.data(), end_);
    pos_ = end_;
  }
  if (out.empty()) return false;
  if (at_end_) {
    if (out.back() != '\n') out.push_back('\n');
  } else {
    const std::size_t last = out.rfind('\n');
    carry_.assign(out, last + 1);
    out.resize(last + 1);
  }
  line_number_ += static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
  return true;
}

void IndexReader::too_long() {
  const std::size_t n = line_number_ + 1;
  Error e(ErrorCode::not_a_number, "read_index",
          path_ + " line " + std::to_string(n) + ": longer than 1 MiB (a file without line ends?); the read ends here");
  e.file = path_;
  e.line = static_cast<std::int64_t>(n);
  throw e;
}

}  // namespace kelvo::io
