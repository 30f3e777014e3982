#include "io/index_observations.hpp"

#include <algorithm>
#include <deque>
#include <future>
#include <memory>
#include <optional>
#include <unordered_map>

#include "core/calendar.hpp"
#include "core/error.hpp"
#include "io/index_lines.hpp"
#include "io/index_scan.hpp"
#include "io/platform_kinds.hpp"

namespace kelvo::io {

namespace {

// Lines are parsed in blocks of this many bytes.
constexpr std::size_t block_bytes = std::size_t{4} << 20;
// Records are gathered in chunks of this many, each its own allocation, so
// that the last copy into one array frees them one by one.
constexpr std::size_t chunk_records = std::size_t{1} << 20;
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
  std::int64_t data_lines = 0;
  std::int64_t first_unreadable = 0;
  std::string problem;
};

float day_of(const IndexTime& t) { return day_number(t.month, t.day, t.year, t.hour, t.minute); }

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
    if (!obs.platform_id.empty()) {
      // Index lines come platform by platform: the last id is most often the one.
      if (out.ids.back() != obs.platform_id) out.ids.push_back(obs.platform_id);
      r.platform = static_cast<std::uint32_t>(out.ids.size() - 1);
    }
    out.records.push_back(r);
    return LineFate::record;
  }

  BlockRecords parse(std::string_view text, std::int64_t first_line) const {
    BlockRecords out;
    std::vector<std::string_view> fields;
    std::int64_t line_number = first_line;
    for (std::size_t at = 0; at < text.size(); ++line_number) {
      const std::size_t end = text.find('\n', at);
      std::string_view line = text.substr(at, end - at);
      at = end + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
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
  ObservationSet set;
  std::deque<std::vector<ObservationRecord>> chunks;
  std::unordered_map<std::string, std::uint32_t> platform_index;
  ListReport& report;
  std::array<std::int64_t, line_fate_count> by_fate{};

  std::uint32_t platform_of(std::string_view id) {
    const auto [it, added] = platform_index.try_emplace(std::string(id), static_cast<std::uint32_t>(set.platforms.size()));
    if (added) set.platforms.emplace_back(id);
    return it->second;
  }

  void add(BlockRecords block) {
    std::vector<std::uint32_t> global(block.ids.size(), 0);
    for (std::size_t p = 1; p < block.ids.size(); ++p) global[p] = platform_of(block.ids[p]);
    for (ObservationRecord& r : block.records) {
      r.platform = global[r.platform];
      if (chunks.empty() || chunks.back().size() == chunk_records) {
        chunks.emplace_back();
        chunks.back().reserve(chunk_records);
      }
      chunks.back().push_back(r);
    }
    for (std::size_t f = 0; f < line_fate_count; ++f) by_fate[f] += block.by_fate[f];
    report.lines += block.data_lines;
    if (report.unreadable_line == 0 && block.first_unreadable != 0) {
      report.unreadable_line = block.first_unreadable;
      report.unreadable_problem = std::move(block.problem);
    }
  }

  // Every chunk into the set's one array, each freed once copied.
  void finish() {
    std::size_t total = 0;
    for (const auto& c : chunks) total += c.size();
    set.records.reserve(total);
    while (!chunks.empty()) {
      set.records.insert(set.records.end(), chunks.front().begin(), chunks.front().end());
      chunks.pop_front();
    }
    for (std::size_t f = 1; f < line_fate_count; ++f) {
      if (f == static_cast<std::size_t>(LineFate::record) || by_fate[f] == 0) continue;
      report.skipped.push_back({std::string(line_fate_names[f]), by_fate[f]});
    }
  }
};

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
    Error e(ErrorCode::bad_request, "read_observations",
            path + ": a compressed file that is neither an Argo nor an in-situ index; lists and tables are read "
                   "uncompressed");
    e.file = path;
    throw e;
  }
  return format;
}

ObservationSet read_index_observations(IndexFormat format, const std::string& path, Parameters keep,
                                       ListReport* report, int threads) {
  ListReport scratch;
  ListReport& rep = report != nullptr ? *report : scratch;
  rep.index = true;
  IndexReader reader(path);
  const Columns columns = header_of(format, reader);
  const KindTable kinds = standard_kinds();
  const BlockParser parser{format, columns, kinds, keep};
  Gathered gathered{{}, {}, {}, rep, {}};
  gathered.set.sources.push_back(path);
  // Blocks in order; each is parsed on a thread of its own while the next
  // ones are read, and joins the records in the order of the file.
  struct Pending {
    std::shared_ptr<const std::string> text;
    std::future<BlockRecords> records;
  };
  std::deque<Pending> pending;
  const std::size_t in_flight = static_cast<std::size_t>(std::max(1, threads));
  for (;;) {
    auto text = std::make_shared<std::string>();
    const std::int64_t first_line = static_cast<std::int64_t>(reader.line_number()) + 1;
    const bool more = reader.next_lines(*text, block_bytes);
    if (more && threads <= 1) {
      gathered.add(parser.parse(*text, first_line));
      continue;
    }
    if (more) {
      pending.push_back({text, std::async(std::launch::async, [&parser, text, first_line] {
                           return parser.parse(*text, first_line);
                         })});
    }
    while (!pending.empty() && (pending.size() > in_flight || !more)) {
      gathered.add(pending.front().records.get());
      pending.pop_front();
    }
    if (!more) break;
  }
  gathered.finish();
  return std::move(gathered.set);
}

}  // namespace kelvo::io
