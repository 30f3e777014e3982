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
  const std::size_t n = read_into(block_.data(), block_size);
  if (n == 0) return false;
  pos_ = 0;
  end_ = n;
  return true;
}

std::size_t IndexReader::read_into(char* to, std::size_t want) {
  const int n = gzread(gz(file_), to, static_cast<unsigned>(want));
  if (n < 0) read_failure();
  if (n == 0) {
    int code = Z_OK;
    gzerror(gz(file_), &code);
    if (code != Z_OK) read_failure();
    at_end_ = true;
  }
  return static_cast<std::size_t>(n);
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
  bytes_given_ += line_.size() + 1;
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (line_.size() > max_line_length) too_long();
  ++line_number_;
  line = line_;
  return true;
}

bool IndexReader::compressed() const { return gzdirect(gz(file_)) == 0; }

bool IndexReader::next_lines(Block& out, std::size_t size) {
  const std::size_t capacity = size + max_line_length + 2;
  if (out.capacity < capacity) {
    out.data.reset(new char[capacity + 1]);  // one more for a last line end
    out.capacity = capacity;
  }
  char* const text = out.data.get();
  const std::size_t leftover = end_ - pos_;
  std::copy(carry_.begin(), carry_.end(), text);
  std::copy(block_.data() + pos_, block_.data() + end_, text + carry_.size());
  out.size = carry_.size() + leftover;
  pos_ = end_;
  carry_.clear();
  // The end of the last whole line (0: none yet).
  const auto whole_lines = [&](std::size_t from) {
    for (std::size_t i = out.size; i > from; --i) {
      if (text[i - 1] == '\n') return i;
    }
    return std::size_t{0};
  };
  std::size_t whole = whole_lines(0);
  for (;;) {
    if (out.size - whole > max_line_length + 1) too_long_at(bytes_given_ + whole);
    if (out.size >= size && whole > 0) break;
    if (at_end_) break;
    const std::size_t want = std::min(capacity - out.size, std::max<std::size_t>(size, 4096));
    const std::size_t n = read_into(text + out.size, want);
    if (n == 0) continue;
    const std::size_t before = out.size;
    out.size += n;
    whole = std::max(whole, whole_lines(before));
  }
  if (out.size == 0) return false;
  if (at_end_) {
    if (text[out.size - 1] != '\n') text[out.size++] = '\n';
  } else {
    carry_.assign(text + whole, out.size - whole);
    out.size = whole;
  }
  bytes_given_ += out.size;
  return true;
}

void IndexReader::too_long_at(std::uint64_t offset) {
  Error e(ErrorCode::not_a_number, "read_index",
          path_ + ": the line at byte " + std::to_string(offset) +
              " is longer than 1 MiB (a file without line ends?); the read ends here");
  e.file = path_;
  throw e;
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
