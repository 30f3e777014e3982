// Lines of an index file, plain text or gzip-compressed (told apart by the
// file's first bytes, through zlib), read in blocks: a file of any size is
// never held in memory, only its current line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::io {

class IndexReader {
 public:
  // Opens `path`; an Error (cannot_open, operation "read_index") naming the
  // file and the reason when it is missing, a directory or cannot be read.
  explicit IndexReader(const std::string& path);
  ~IndexReader();
  IndexReader(const IndexReader&) = delete;
  IndexReader& operator=(const IndexReader&) = delete;

  // The next line without its LF or CR-LF end, valid until the next call;
  // false at the end of the file. An Error (cannot_open) when the data cannot
  // be read (a damaged or truncated compressed file), and (not_a_number) at
  // a line longer than textio::max_line_length: a file without line ends
  // (a device such as /dev/zero) ends the read there instead of never.
  bool next(std::string_view& line);

  // Whole lines, each ending in LF (a last line without one is given one),
  // into `out` (replacing its text) until it holds at least `size` bytes or
  // the file ends; false when the file has no more lines. The file's data
  // is read straight into the block. Once called, next() is not called
  // again, and line_number() stays that of the last line next() gave (the
  // caller counts the lines of the blocks).
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::size_t capacity = 0;
    std::string_view text() const { return {data.get(), size}; }
  };
  bool next_lines(Block& out, std::size_t size);

  // Whether the file is gzip-compressed.
  bool compressed() const;

  std::size_t line_number() const { return line_number_; }
  const std::string& path() const { return path_; }

 private:
  bool fill();
  // Up to `want` bytes of the data at `to`; 0 at its end (at_end_ set).
  std::size_t read_into(char* to, std::size_t want);
  [[noreturn]] void read_failure();
  [[noreturn]] void too_long();
  [[noreturn]] void too_long_at(std::uint64_t offset);

  std::string path_;
  void* file_ = nullptr;  // gzFile
  std::vector<char> block_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
  std::string line_;
  std::string carry_;  // the start of a line cut by next_lines
  std::uint64_t bytes_given_ = 0;  // by next_lines
  std::size_t line_number_ = 0;
};

}  // namespace kelvo::io
