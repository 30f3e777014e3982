// Reading index files into records: each line is read once, in order, and
// ends up as a record or counted under the reason it was left out.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "io/index_files.hpp"
#include "io/metadata_list.hpp"

namespace kelvo::io {

struct ImportTally {
  std::int64_t lines_read = 0;
  std::int64_t header_lines = 0;
  // Lines per fate; by_fate[record] counts every record matched.
  std::array<std::int64_t, line_fate_count> by_fate{};
  std::array<std::int64_t, max_kind + 1> by_kind{};
  std::int64_t matched() const { return by_fate[static_cast<std::size_t>(LineFate::record)]; }
};

// Where an unreadable line is and what could not be read in it.
struct UnreadableNote {
  std::string file;
  std::size_t line = 0;
  std::string problem;
};
// Unreadable lines noted one by one; the others are only counted.
inline constexpr std::size_t max_notes = 10;

// A record as import keeps it: the list's fields (dated by its first time),
// its platform id and its times to the minute.
struct ImportedRecord {
  ListRecord list;
  std::uint32_t platform = 0;   // index in ImportResult::platforms (0: none)
  std::int64_t start_minute = 0;  // minutes from 1970-01-01 00:00 UTC
  std::int64_t end_minute = 0;    // the last time of a time series; start_minute for the others
  bool ends = false;              // a time series: a span from start to end
  std::uint32_t file = 0;         // index of its index file
};

struct ImportResult {
  ImportTally tally;
  std::vector<ImportedRecord> records;  // every record matched, in the order read
  std::vector<std::string> platforms{""};
  std::vector<UnreadableNote> notes;
  std::int64_t twins = 0;               // records left out as the same observation as one of another file
};

// An index file and its format.
struct IndexFile {
  IndexFormat format;
  std::string path;
};

class IndexReader;

// A line of an index before its header: true when it is the header (its
// columns are then in `columns`), false for a comment. A line that is
// neither, or a header without a column the format needs, is an Error
// (bad_request) naming the file and line.
bool read_header(const IndexLayout& layout, const IndexReader& reader, std::string_view line, Columns& columns);
// The Error of a file without a header line; `where` says where it was looked for.
[[noreturn]] void no_header(const IndexLayout& layout, const IndexReader& reader, std::string_view where);

// Reads every file in turn. An Error naming the file when one cannot be
// opened or read (cannot_open), has no header line or lacks a column the
// format needs (bad_request, operation "read_index").
// Records of different files that are the same observation (the same
// platform id, times to the minute and position to 1e-4 degree) are kept
// once: the first read, with the parameters of both.
ImportResult import_indexes(std::span<const IndexFile> files, const Selection& selection);

}  // namespace kelvo::io
