#include "io/index_observations.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <unordered_map>

#include "core/calendar.hpp"
#include "core/error.hpp"
#include "io/index_lines.hpp"
#include "io/index_scan.hpp"
#include "io/platform_kinds.hpp"
#include "textio/line_reader.hpp"

namespace kelvo::io {

namespace {

// The shortest line of an index that can hold a record: the records of a
// file are at most its bytes over this.
constexpr std::size_t shortest_record_line = 40;
// Lines looked at to tell a file's format.
constexpr int lines_to_tell = 64;

bool names(std::span<const std::string_view> fields, std::string_view name) {
  return std::find(fields.begin(), fields.end(), name) != fields.end();
}

bool names_latitude_and_longitude(std::span<const std::string_view> fields) {
  const auto named = [&](std::string_view n) {
    return std::any_of(fields.begin(), fields.end(), [&](std::string_view f) {
      return f.size() == n.size() && std::equal(f.begin(), f.end(), n.begin(), [](char a, char b) {
               return (a | 0x20) == b;
             });
    });
  };
  return fields.size() > 1 && named("latitude") && named("longitude");
}

// The records of one block of lines; platforms index `ids`, views of the
// block's text (0: none).
struct BlockRecords {
  std::vector<ObservationRecord> records;
  std::vector<std::string_view> ids{std::string_view{}};
  std::array<std::int64_t, line_fate_count> by_fate{};
  std::int64_t lines = 0;       // of the block
  std::int64_t data_lines = 0;
  std::int64_t first_unreadable = 0;  // counted from the block's first line (1), 0: none
  std::string problem;
  std::int64_t too_long_line = 0;     // a line longer than 1 MiB, which ends the read
};

// The day number of an index time; from its second count for a date of the
// Gregorian calendar (from 15 October 1582), where the two agree.
float day_of(const IndexTime& t) {
  if (t.year < 1583) return day_number(t.month, t.day, t.year, t.hour, t.minute);
  const std::int64_t days = t.seconds >= 0 ? t.seconds / 86400 : -((-t.seconds + 86399) / 86400);
  return day_number_of_julian_day(julian_day_of_civil(days), t.hour, t.minute);
}

struct BlockParser {
  IndexFormat format;
  const Columns& columns;
  const KindTable& kinds;
  Parameters keep;

  // Where the observation of a parsed line ends up: a record, or the reason
  // it is left out.
  LineFate add(const IndexObservation& obs, std::int64_t line, BlockRecords& out) const {
    const int kind = kind_of(kinds, obs.platform);
    if (kind == 0) return LineFate::unknown_platform;
    const Parameters measured = static_cast<Parameters>((obs.temp ? temperature : 0) | (obs.salt ? salinity : 0));
    if ((measured & keep) == 0) return LineFate::no_parameter;
    ObservationRecord r;
    r.line = line;
    r.kind = kind;
    r.layer = layer_of_kind(kind);
    r.lat = static_cast<float>(obs.lat);
    r.lon = static_cast<float>(obs.lon);
    r.parameters = measured;
    const float start = day_of(obs.start);
    r.time = obs.fixed ? TimeSpan{start, day_of(obs.end)} : TimeSpan::at(start);
    r.start_minute = minute_of(obs.start.seconds);
    if (!obs.platform_id.empty()) {
      // Index lines come platform by platform: the last id is most often the one.
      if (out.ids.back() != obs.platform_id) out.ids.push_back(obs.platform_id);
      r.platform = static_cast<std::uint32_t>(out.ids.size() - 1);
    }
    out.records.push_back(r);
    return LineFate::record;
  }

  // The records of a block of whole lines, their lines counted from the
  // block's first (1).
  BlockRecords parse(std::string_view text, std::vector<ObservationRecord> room) const {
    BlockRecords out;
    out.records = std::move(room);
    out.records.clear();
    out.records.reserve(text.size() / shortest_record_line);
    std::vector<std::string_view> fields;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at);
      std::string_view line = text.substr(at, end - at);
      at = end + 1;
      const std::int64_t line_number = ++out.lines;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.size() > textio::max_line_length) {
        out.too_long_line = line_number;
        break;
      }
      if (is_comment_line(line)) {
        ++out.by_fate[static_cast<std::size_t>(LineFate::comment)];
        continue;
      }
      ++out.data_lines;
      split_fields(line, fields);
      const ParsedLine parsed = parse_index_line(format, fields, columns);
      LineFate fate = parsed.fate;
      if (fate == LineFate::unreadable && out.first_unreadable == 0) {
        out.first_unreadable = line_number;
        out.problem = parsed.problem;
      }
      if (fate == LineFate::record) fate = add(parsed.obs, line_number, out);
      ++out.by_fate[static_cast<std::size_t>(fate)];
    }
    return out;
  }
};

// The records of the blocks, in order, with one table of platform ids.
struct Gathered {
  std::string path;
  ObservationSet set;
  std::unordered_map<std::string, std::uint32_t> platform_index;
  ListReport& report;
  std::int64_t lines_before = 0;  // the lines of the file before the next block
  std::array<std::int64_t, line_fate_count> by_fate{};

  std::uint32_t platform_of(std::string_view id) {
    const auto [it, added] = platform_index.try_emplace(std::string(id), static_cast<std::uint32_t>(set.platforms.size()));
    if (added) set.platforms.emplace_back(id);
    return it->second;
  }

  // The block's records after those before, with their lines in the file
  // and their platforms in the set's table.
  // Returns the block's array, for another block.
  std::vector<ObservationRecord> add(BlockRecords block) {
    if (block.too_long_line != 0) too_long(lines_before + block.too_long_line);
    std::vector<std::uint32_t> global(block.ids.size(), 0);
    for (std::size_t p = 1; p < block.ids.size(); ++p) global[p] = platform_of(block.ids[p]);
    const std::size_t before = set.records.size();
    set.records.resize(before + block.records.size());
    ObservationRecord* out = set.records.data() + before;
    for (const ObservationRecord& r : block.records) {
      *out = r;
      out->platform = global[r.platform];
      out->line += lines_before;
      ++out;
    }
    for (std::size_t f = 0; f < line_fate_count; ++f) by_fate[f] += block.by_fate[f];
    report.lines += block.data_lines;
    if (report.unreadable_line == 0 && block.first_unreadable != 0) {
      report.unreadable_line = lines_before + block.first_unreadable;
      report.unreadable_problem = std::move(block.problem);
    }
    lines_before += block.lines;
    return std::move(block.records);
  }

  [[noreturn]] void too_long(std::int64_t line) const {
    Error e(ErrorCode::not_a_number, "read_index",
            path + " line " + std::to_string(line) + ": longer than 1 MiB (a file without line ends?); the read ends here");
    e.file = path;
    e.line = line;
    throw e;
  }

  void finish() {
    for (std::size_t f = 1; f < line_fate_count; ++f) {
      if (f == static_cast<std::size_t>(LineFate::record) || by_fate[f] == 0) continue;
      report.skipped.push_back({std::string(line_fate_names[f]), by_fate[f]});
    }
  }
};

// The bytes of the file's text: its size, or for a gzip file the size its
// trailer gives (modulo 4 GiB: at least eight times the compressed size is
// taken when the trailer's is less).
std::uint64_t text_bytes(const std::string& path, bool compressed) {
  std::error_code ec;
  const std::uint64_t size = std::filesystem::file_size(path, ec);
  if (ec) return 0;
  if (!compressed) return size;
  std::uint64_t isize = 0;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    unsigned char trailer[4] = {};
    if (std::fseek(f, -4, SEEK_END) == 0 && std::fread(trailer, 1, 4, f) == 4) {
      isize = trailer[0] | (trailer[1] << 8) | (trailer[2] << 16) | (std::uint64_t{trailer[3]} << 24);
    }
    std::fclose(f);
  }
  return std::max(isize, size * 8);
}

// Room for `most` records, which costs memory only where records are
// written: each is then copied once, from its block. The room is asked for
// in huge pages, which the records fill with far fewer page faults.
void reserve_records(std::vector<ObservationRecord>& records, std::size_t most) {
  records.reserve(most);
  constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
  const auto first = (reinterpret_cast<std::uintptr_t>(records.data()) + huge - 1) & ~(huge - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(records.data() + most)) & ~(huge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

Columns header_of(IndexFormat format, IndexReader& reader) {
  std::string_view line;
  Columns columns;
  while (reader.next(line)) {
    if (read_header(layout_of(format), reader, line, columns)) return columns;
  }
  no_header(layout_of(format), reader, "(the file holds no such line)");
}

}  // namespace

std::string_view format_name(ObservationFormat format) {
  switch (format) {
    case ObservationFormat::list: return "observation list";
    case ObservationFormat::csv_table: return "CSV table";
    case ObservationFormat::argo_index: return "Argo profile index";
    case ObservationFormat::insitu_index: return "in-situ index";
    case ObservationFormat::compressed_other: return "compressed file";
  }
  return "";
}

ObservationFormat observation_format_of(const std::string& path) {
  std::optional<IndexReader> opened;
  try {
    opened.emplace(path);
  } catch (const Error&) {
    return ObservationFormat::list;  // the list's reader says why it cannot be read
  }
  IndexReader& reader = *opened;
  std::string_view line;
  std::vector<std::string_view> fields;
  bool plain_seen = false;
  std::optional<ObservationFormat> found;
  for (int n = 0; n < lines_to_tell && !found && reader.next(line); ++n) {
    const bool comment = is_comment_line(line);
    if (comment) line.remove_prefix(std::min(line.find_first_not_of("# \t"), line.size()));
    split_fields(line, fields);
    if (names(fields, "file_name") && names(fields, "geospatial_lat_min")) {
      found = ObservationFormat::insitu_index;
    } else if (comment || plain_seen) {
      continue;
    } else if (names(fields, "file") && names(fields, "date") && names(fields, "latitude")) {
      found = ObservationFormat::argo_index;
    } else {
      plain_seen = true;
      if (names_latitude_and_longitude(fields)) found = ObservationFormat::csv_table;
    }
  }
  const ObservationFormat format = found.value_or(ObservationFormat::list);
  if (reader.compressed() && (format == ObservationFormat::list || format == ObservationFormat::csv_table)) {
    return ObservationFormat::compressed_other;
  }
  return format;
}

ObservationSet read_index_observations(IndexFormat format, const std::string& path, Parameters keep,
                                       ListReport* report, int threads, std::size_t block_bytes) {
  ListReport scratch;
  ListReport& rep = report != nullptr ? *report : scratch;
  rep.index = true;
  IndexReader reader(path);
  const Columns columns = header_of(format, reader);
  const KindTable kinds = standard_kinds();
  const BlockParser parser{format, columns, kinds, keep};
  Gathered gathered{path, {}, {}, rep, static_cast<std::int64_t>(reader.line_number()), {}};
  gathered.set.sources.push_back(path);
  reserve_records(gathered.set.records, text_bytes(path, reader.compressed()) / shortest_record_line);
  // Blocks in order; each is parsed on a thread of its own while the next
  // ones are read, and joins the records in the order of the file.
  struct Pending {
    std::shared_ptr<const IndexReader::Block> text;
    std::future<BlockRecords> records;
  };
  std::deque<Pending> pending;
  // Blocks are used again once parsed: their memory is then already mapped.
  std::vector<std::shared_ptr<IndexReader::Block>> spare;
  std::vector<std::vector<ObservationRecord>> spare_records;
  const std::size_t in_flight = static_cast<std::size_t>(std::max(1, threads));
  for (;;) {
    std::shared_ptr<IndexReader::Block> block;
    if (spare.empty()) {
      block = std::make_shared<IndexReader::Block>();
    } else {
      block = std::move(spare.back());
      spare.pop_back();
    }
    const bool more = reader.next_lines(*block, block_bytes);
    std::vector<ObservationRecord> room;
    if (!spare_records.empty()) {
      room = std::move(spare_records.back());
      spare_records.pop_back();
    }
    if (more && threads <= 1) {
      spare_records.push_back(gathered.add(parser.parse(block->text(), std::move(room))));
      spare.push_back(std::move(block));
      continue;
    }
    if (more) {
      pending.push_back({block, std::async(std::launch::async, [&parser, block, r = std::move(room)]() mutable {
                           return parser.parse(block->text(), std::move(r));
                         })});
    }
    while (!pending.empty() && (pending.size() > in_flight || !more)) {
      spare_records.push_back(gathered.add(pending.front().records.get()));
      spare.push_back(std::const_pointer_cast<IndexReader::Block>(std::move(pending.front().text)));
      pending.pop_front();
    }
    if (!more) break;
  }
  gathered.finish();
  return std::move(gathered.set);
}

}  // namespace kelvo::io
