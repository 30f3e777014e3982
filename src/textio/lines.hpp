// Whole files held in memory and split into lines. The tool's own readers
// use LineReader (line_reader.hpp) instead, which never holds a whole file;
// these serve the benchmarks and tests.
#pragma once

#include <string>
#include <string_view>

namespace textio {

// Read the whole file at `path` into `content`. On failure returns false and
// sets `reason` (for example "No such file or directory", "Is a directory").
bool read_whole_file(const std::string& path, std::string& content, std::string& reason);

// Splits text into lines. A line ends at '\n'; a '\r' just before it is part
// of a CR-LF line end and is dropped; a last line without a final '\n' is
// still a line.
struct LineSplitter {
  std::string_view data;
  std::size_t pos = 0;
  std::size_t line_number = 0;  // number of the line last returned (1-based)

  // The next line into `line`; false at the end of the text.
  bool next(std::string_view& line);
};

}  // namespace textio
