// A file read line by line through a fixed buffer, never whole: of each line
// only the first columns that the caller asks for are kept, so a run holds
// no more of a file than it uses, whatever the file holds (a device such as
// /dev/zero, a file without line ends, a line of gigabytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace textio {

// Longest line a reader accepts: a line that has not ended after this many
// bytes is reported as too long instead of being scanned to its end.
inline constexpr std::size_t max_line_length = std::size_t{1} << 20;

// The line ends ('\n') and bytes of the regular file `path`, to size a table
// before its lines are read; line_ends is -1 when it is not a regular file
// (a pipe, a device: read once only) or cannot be read.
struct LineCount {
  std::int64_t line_ends = -1;
  std::int64_t bytes = 0;
};
LineCount count_line_ends(const std::string& path);

enum class LineStatus {
  line,       // a line was read
  end,        // the file has no more lines
  too_long,   // the line has more than max_line_length bytes
  read_error  // the system could not read the file (reason())
};

// Line ends as LineSplitter has them: a line ends at '\n'; a '\r' just
// before it is part of a CR-LF line end and is dropped; a last line without
// a final '\n' is still a line. After a line too long or a read error the
// reader reads no further and keeps giving that status.
class LineReader {
 public:
  explicit LineReader(std::size_t buffer_size = std::size_t{1} << 16) : buffer_(buffer_size) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader() { close(); }

  // Opens `path` for reading. False, with the system's reason ("No such file
  // or directory", "Is a directory", ...), when it cannot be read.
  bool open(const std::string& path, std::string& reason);

  // The next line's first `keep` bytes (fewer when the line is shorter) into
  // `line`, valid until the next call.
  LineStatus next(std::size_t keep, std::string_view& line);

  // Number of the line last returned or found too long (1-based).
  std::size_t line_number() const { return line_number_; }
  // Why the file could not be read, after LineStatus::read_error.
  const std::string& reason() const { return reason_; }

 private:
  bool fill();
  LineStatus finish_line(bool ended_by_line_feed, std::string_view& line);
  void close();

  int fd_ = -1;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::string kept_;
  // The line being read: its length so far and its last byte.
  std::size_t length_ = 0;
  char last_ = 0;
  std::size_t keep_ = 0;
  std::size_t line_number_ = 0;
  LineStatus stopped_ = LineStatus::line;
  std::string reason_;
};

}  // namespace textio
