// Observation files by their content, whatever their names: a 52-column
// list, a CSV table, the Argo profile index or an in-situ index (plain or
// gzip-compressed). The two index formats are read here straight into
// records: every profile a one-time record of its float, every time series
// of a fixed platform a record spanning its first to its last time, each
// with its platform's id.
#pragma once

#include <string>
#include <string_view>

#include "core/observations.hpp"
#include "io/index_files.hpp"
#include "io/metadata_list.hpp"

namespace kelvo::io {

// compressed_other: a gzip file that is neither index (lists and tables are
// read uncompressed).
enum class ObservationFormat { list, csv_table, argo_index, insitu_index, compressed_other };

// The format of the file at `path`, told from its first lines: an index
// by the header line naming its columns (after '#' comments; the in-situ
// header may itself be one), a table by a first line naming latitude and
// longitude, a list otherwise (also when it cannot be opened: the list's
// reader then says why). An Error (cannot_open) when its data cannot be
// read.
ObservationFormat observation_format_of(const std::string& path);

std::string_view format_name(ObservationFormat format);

// The records of the index at `path` that measure one of `keep`, in the
// order read; the lines are parsed in blocks on up to `threads` threads and
// the records are the same for any number. `report` gets the data lines
// read (lines), the lines left out by reason (skipped), and the first line
// that could not be read (unreadable_line, unreadable_problem): unlike a
// list, the index is read on past it. Errors as import_indexes.
// `block_bytes` is the size from which a block ends at the next line end.
// A line longer than 1 MiB ends the read (an Error, not_a_number, naming it).
inline constexpr std::size_t index_block_bytes = std::size_t{4} << 20;
ObservationSet read_index_observations(IndexFormat format, const std::string& path, Parameters keep,
                                       ListReport* report = nullptr, int threads = 1,
                                       std::size_t block_bytes = index_block_bytes);

}  // namespace kelvo::io
