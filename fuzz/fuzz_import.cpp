// Fuzz target: kelvo import on an index file made from the fuzz input.
//
// Input: two control bytes, then the index file's bytes.
//   byte 0  bit 0 the format (0 Argo profile index, 1 in-situ index),
//           bit 1 the window --from 2003-12-01 --to 2004-01-31,
//           bit 2 the index gzip-compressed, bit 3 the index given twice;
//   byte 1  the region: 0 none, 1 -20 15 40 65, 2 170 -170 -60 60 (across
//           the date line), 3 10 10 -90 90 (rejected: W >= E).
//
// Checked for every input:
// - the whole command (kelvo::cli::run) ends with 0, 1 for the rejected
//   region, or 2 exactly when reading the indexes failed, and a failed run leaves nothing beside the
//   index (no list, no temporary file);
// - every line read is counted once: lines read = header lines + records +
//   the lines skipped for each reason; the records by kind add up to the
//   records;
// - read-back: the list holds one line per record, and each line read with
//   the field widths of kelvo_brino's metadata reader gives the record's
//   position (to the list's 4 decimals), date and hour, repeat frequency,
//   flags and kind; a position lies in the region, shifted into its range;
// - the list the command wrote is the one the records give, byte for byte.
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "io/index_scan.hpp"
#include "kelvo/cli.hpp"
#include "support/list_readback.hpp"

namespace {

namespace fs = std::filesystem;
namespace cli = kelvo::cli;
namespace io = kelvo::io;

const fs::path& base_dir() {
  static const fs::path base = [] {
    std::string pattern = (fs::is_directory("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
                          "/kelvo_fuzz_import_XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, "harness cannot create a temporary directory");
    std::atexit([] { std::error_code ec; fs::remove_all(base_dir(), ec); });
    return fs::path(pattern);
  }();
  return base;
}

void write_index(const fs::path& p, std::string_view bytes, bool gzip) {
  if (gzip) {
    gzFile gz = gzopen(p.c_str(), "wb");
    FUZZ_CHECK(gz != nullptr, "harness cannot write " + p.string());
    FUZZ_CHECK(bytes.empty() || gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size())) > 0, "gzwrite");
    FUZZ_CHECK(gzclose(gz) == Z_OK, "gzclose");
    return;
  }
  fuzz::write_file(p, bytes);
}

using fuzz::read_file;

struct Region {
  std::vector<std::string> args;
  bool valid = false;
  double w = 0, e = 0, s = 0, n = 0;
};

Region region_of(std::uint8_t choice) {
  switch (choice % 4) {
    case 1: return {{"--region", "-20", "15", "40", "65"}, true, -20, 15, 40, 65};
    case 2: return {{"--region", "170", "-170", "-60", "60"}, true, 170, 190, -60, 60};
    case 3: return {{"--region", "10", "10", "-90", "90"}, false};
    default: return {};
  }
}

// The largest distance between a float and the float of its 4-decimal text.
bool near(float read, float value) {
  const double slack = 0.5e-4 + 2.0 * (std::nextafter(std::fabs(value), 1e30f) - std::fabs(value));
  return std::fabs(static_cast<double>(read) - static_cast<double>(value)) <= slack;
}

void check_record(const std::string& line, const io::ListRecord& r, const Region& region) {
  const kelvo_test::ReadBack b = kelvo_test::read_back(line);
  FUZZ_CHECK(b.ok, "list line does not read back: " + fuzz::shown(line));
  FUZZ_CHECK(near(b.lat, r.lat) && near(b.lon, r.lon), "position " + fuzz::shown(line));
  FUZZ_CHECK(b.hour == r.hour && b.day == r.day && b.month == r.month && b.year == r.year, "date " + fuzz::shown(line));
  FUZZ_CHECK(b.frequency == static_cast<float>(r.frequency) && (r.frequency == 0 || r.frequency == 365),
             "frequency " + fuzz::shown(line));
  FUZZ_CHECK(b.temp == (r.temp ? 1.0f : 0.0f) && b.salt == (r.salt ? 1.0f : 0.0f) && (r.temp || r.salt),
             "flags " + fuzz::shown(line));
  FUZZ_CHECK(b.kind == static_cast<float>(r.kind) && r.kind >= 1 && r.kind <= 7, "kind " + fuzz::shown(line));
  FUZZ_CHECK(r.lat >= -90.0f && r.lat <= 90.0f, "latitude " + fuzz::shown(line));
  if (region.valid) {
    FUZZ_CHECK(r.lat >= region.s && r.lat <= region.n && r.lon >= static_cast<float>(region.w) &&
                   r.lon <= static_cast<float>(region.e),
               "record outside the region " + fuzz::shown(line));
  }
}

void check_tally(const io::ImportResult& result) {
  const io::ImportTally& t = result.tally;
  std::int64_t lines = t.header_lines, kinds = 0;
  for (const std::int64_t n : t.by_fate) lines += n;
  for (const std::int64_t n : t.by_kind) kinds += n;
  FUZZ_CHECK(lines == t.lines_read, "lines read " + std::to_string(t.lines_read) + ", counted " + std::to_string(lines));
  const auto kept = static_cast<std::int64_t>(result.records.size());
  FUZZ_CHECK(kinds == kept && kept + result.twins == t.matched(), "records by kind do not add up");
}

// The list the records give, through the importer's writer, read back line by line.
std::string checked_list(const io::ImportResult& result, const fs::path& path, const Region& region) {
  io::ListWriter file;
  file.create(path.string());
  for (const io::ImportedRecord& r : result.records) {
    io::ListRecord record = r.list;
    record.platform = result.platforms[r.platform];
    file.add(record);
  }
  file.commit();
  const std::string text = read_file(path);
  std::size_t n = 0, pos = 0;
  for (std::size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1, ++n) {
    FUZZ_CHECK(n < result.records.size(), "more list lines than records");
    check_record(text.substr(pos, end - pos), result.records[n].list, region);
  }
  FUZZ_CHECK(pos == text.size() && n == result.records.size(), "list lines and records differ in number");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in{data, size};
  const std::uint8_t flags = in.byte();
  const Region region = region_of(in.byte());
  const std::string_view index_bytes = in.rest();
  const bool insitu = (flags & 1) != 0;

  const fs::path root = base_dir() / "r";
  std::error_code ec;
  fs::remove_all(root, ec);
  fs::create_directories(root);
  const fs::path index = root / "index.txt";
  write_index(index, index_bytes, (flags & 4) != 0);
  std::vector<std::string> files{index.string()};
  if (flags & 8) files.push_back(index.string());

  std::vector<std::string> args{"kelvo", "import", insitu ? "insitu" : "argo"};
  args.insert(args.end(), files.begin(), files.end());
  args.insert(args.end(), {"-o", (root / "cmd.lst").string()});
  io::Selection selection;
  selection.kinds = io::standard_kinds();
  if (flags & 2) {
    args.insert(args.end(), {"--from", "2003-12-01", "--to", "2004-01-31"});
    selection.window = {kelvo::seconds_of(2003, 12, 1, 0, 0, 0), kelvo::seconds_of(2004, 2, 1, 0, 0, 0)};
  }
  args.insert(args.end(), region.args.begin(), region.args.end());
  if (region.valid) selection.region = kelvo::make_region("--region", region.w, region.e, region.s, region.n);
  selection.has_region = region.valid;

  bool read_ok = region.valid || region.args.empty();
  std::string list;
  if (read_ok) {
    try {
      std::vector<io::IndexFile> indexes;
      for (const std::string& f : files) indexes.push_back({insitu ? io::IndexFormat::insitu : io::IndexFormat::argo, f});
      const io::ImportResult result = io::import_indexes(indexes, selection);
      check_tally(result);
      list = checked_list(result, root / "direct.lst", region);
      fs::remove(root / "direct.lst");
    } catch (const kelvo::Error& f) {
      FUZZ_CHECK(!f.message.empty(), "a failure without a message");
      read_ok = false;
    }
  }

  textio::Console console;
  cli::Context context{console, "", "", {}, 1, {}};
  const int status = cli::run(args, context);
  const bool rejected_region = !region.valid && !region.args.empty();  // a command-line error
  FUZZ_CHECK(status == (read_ok ? 0 : rejected_region ? 1 : 2),
             "status " + std::to_string(status) + "; stderr:\n" + console.err);
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(root)) entries += e.path() != index;
  FUZZ_CHECK(entries == (read_ok ? 1u : 0u), "the run left " + std::to_string(entries) + " files beside the index");
  if (read_ok) FUZZ_CHECK(read_file(root / "cmd.lst") == list, "the command's list differs from the records' list");
  return 0;
}
