// Fuzz target: an index file read in blocks (as kelvo map, series and plan
// read --obs) against the same file read line by line (as kelvo import
// reads it).
//
// Input: two control bytes, then the index file's bytes.
//   byte 0  bit 0 the format (0 Argo profile index, 1 in-situ index),
//           bit 1 the format's header line put first, bit 2 two threads;
//   byte 1  the block size, 1 + byte bytes (blocks end at line ends past it).
//
// Checked: reading fails in blocks exactly when it fails line by line;
// otherwise the two give the same records in the same order (position, start
// minute, platform id), the first unreadable line is the same, and as many
// lines after the header are left out (comments aside).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/error.hpp"
#include "fuzz_check.hpp"
#include "io/index_observations.hpp"
#include "io/index_scan.hpp"

namespace {

namespace fs = std::filesystem;
namespace io = kelvo::io;

const char* const argo_header = "file,date,latitude,longitude,ocean,profiler_type,institution,parameters,date_update\n";
const char* const insitu_header =
    "# catalog_id,file_name,geospatial_lat_min,geospatial_lat_max,geospatial_lon_min,geospatial_lon_max,"
    "time_coverage_start,time_coverage_end,provider,date_update,data_mode,parameters\n";

fs::path input_file() {
  static const fs::path path = [] {
    std::string pattern = (fs::is_directory("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
                          "/kelvo_fuzz_blocks_XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, "harness cannot create a temporary directory");
    return fs::path(pattern) / "index.txt";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool insitu = (data[0] & 1) != 0;
  std::string text = (data[0] & 2) != 0 ? (insitu ? insitu_header : argo_header) : "";
  text.append(reinterpret_cast<const char*>(data) + 2, size - 2);
  const fs::path path = input_file();
  std::ofstream(path, std::ios::binary) << text;
  const io::IndexFormat format = insitu ? io::IndexFormat::insitu : io::IndexFormat::argo;

  bool lines_failed = false, blocks_failed = false;
  io::ImportResult lines;
  kelvo::ObservationSet blocks;
  io::ListReport report;
  try {
    const io::IndexFile file{format, path.string()};
    lines = io::import_indexes(std::span(&file, 1), io::Selection{io::Window{}, false, {}, io::standard_kinds()});
  } catch (const kelvo::Error&) {
    lines_failed = true;
  }
  try {
    blocks = io::read_index_observations(format, path.string(), kelvo::every_parameter, &report,
                                         (data[0] & 4) != 0 ? 2 : 1, std::size_t{1} + data[1]);
  } catch (const kelvo::Error&) {
    blocks_failed = true;
  }
  FUZZ_CHECK(lines_failed == blocks_failed, std::string("only one read failed: ") + (lines_failed ? "lines" : "blocks"));
  if (lines_failed) return 0;
  FUZZ_CHECK(blocks.size() == lines.records.size(),
             "records " + std::to_string(blocks.size()) + " in blocks, " + std::to_string(lines.records.size()) + " in lines");
  for (std::size_t n = 0; n < blocks.size(); ++n) {
    const kelvo::ObservationRecord& b = blocks.records[n];
    const io::ImportedRecord& l = lines.records[n];
    FUZZ_CHECK(b.lat == l.list.lat && b.lon == l.list.lon, "position of record " + std::to_string(n));
    FUZZ_CHECK(b.start_minute == kelvo::minute_of(l.start_minute * 60), "minute of record " + std::to_string(n));
    FUZZ_CHECK(blocks.platforms[b.platform] == lines.platforms[l.platform], "platform of record " + std::to_string(n));
  }
  const std::int64_t first_unreadable = lines.notes.empty() ? 0 : static_cast<std::int64_t>(lines.notes.front().line);
  FUZZ_CHECK(report.unreadable_line == first_unreadable,
             "first unreadable line " + std::to_string(report.unreadable_line) + ", not " + std::to_string(first_unreadable));
  // Comments are left out of the count: import counts those before the header too.
  const std::size_t comment = static_cast<std::size_t>(io::LineFate::comment);
  const std::size_t record = static_cast<std::size_t>(io::LineFate::record);
  std::int64_t skipped_lines = 0, skipped_blocks = 0;
  for (std::size_t f = 0; f < io::line_fate_count; ++f) {
    if (f != comment && f != record) skipped_lines += lines.tally.by_fate[f];
  }
  for (const io::ListReport::Skipped& s : report.skipped) skipped_blocks += s.reason == "comment" ? 0 : s.count;
  FUZZ_CHECK(skipped_blocks == skipped_lines, "lines left out: " + std::to_string(skipped_blocks) + " in blocks, " +
                                                  std::to_string(skipped_lines) + " in lines");
  return 0;
}
