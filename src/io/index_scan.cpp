#include "io/index_scan.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <unordered_map>

#include "core/error.hpp"
#include "core/observations.hpp"
#include "io/index_lines.hpp"

namespace kelvo::io {

namespace {

std::string column_list(const IndexLayout& layout) {
  std::string names;
  for (std::string_view n : layout.required) names.append(names.empty() ? "" : ",").append(n);
  return names;
}

}  // namespace

[[noreturn]] void no_header(const IndexLayout& layout, const IndexReader& reader, std::string_view where) {
  Error e(ErrorCode::bad_request, "read_index",
          std::string(layout.description) + " " + reader.path() + ": no header line naming the columns " +
              column_list(layout) + " " + std::string(where));
  e.file = reader.path();
  throw e;
}

// A line before the header: true when it is the header (its columns are
// then in `columns`), false for a comment. A line that is neither, or a
// header without a column the format needs, is a failure.
bool read_header(const IndexLayout& layout, const IndexReader& reader, std::string_view line, Columns& columns) {
  const bool comment = is_comment_line(line);
  if (comment && !layout.header_may_be_comment) return false;
  if (comment) line.remove_prefix(std::min(line.find_first_not_of("# \t"), line.size()));
  std::vector<std::string_view> fields;
  split_fields(line, fields);
  std::string_view missing;
  if (!find_columns(layout, fields, columns, missing)) {
    if (comment) return false;
    no_header(layout, reader,
              "(line " + std::to_string(reader.line_number()) + ", the first that is not a comment, names none of them)");
  }
  if (!missing.empty()) {
    Error e(ErrorCode::bad_request, "read_index",
            std::string(layout.description) + " " + reader.path() + " line " + std::to_string(reader.line_number()) +
                ": the header line has no column " + std::string(missing));
    e.file = reader.path();
    e.line = static_cast<std::int64_t>(reader.line_number());
    throw e;
  }
  return true;
}

namespace {

struct FileScan {
  IndexFormat format;
  std::uint32_t file;
  const Selection& selection;
  ImportResult& result;
  std::unordered_map<std::string, std::uint32_t>& platform_index;
  IndexReader reader;
  Columns columns;
  bool have_header = false;
  std::vector<std::string_view> fields;

  void count(LineFate fate) { ++result.tally.by_fate[static_cast<std::size_t>(fate)]; }

  void note_unreadable(std::string problem) {
    count(LineFate::unreadable);
    if (result.notes.size() < max_notes) result.notes.push_back({reader.path(), reader.line_number(), std::move(problem)});
  }

  void data_line(std::string_view line) {
    if (is_comment_line(line)) return count(LineFate::comment);
    split_fields(line, fields);
    const ParsedLine parsed = parse_index_line(format, fields, columns);
    if (parsed.fate == LineFate::unreadable) return note_unreadable(parsed.problem);
    if (parsed.fate != LineFate::record) return count(parsed.fate);
    ListRecord record;
    const LineFate fate = select_record(selection, parsed.obs, record);
    count(fate);
    if (fate != LineFate::record) return;
    ++result.tally.by_kind[static_cast<std::size_t>(record.kind)];
    ImportedRecord& r = result.records.emplace_back();
    r.list = record;
    r.start_minute = parsed.obs.start.seconds / 60;
    r.end_minute = parsed.obs.end.seconds / 60;
    r.ends = parsed.obs.fixed;
    r.file = file;
    if (!parsed.obs.platform_id.empty()) r.platform = platform_of(parsed.obs.platform_id);
  }

  std::uint32_t platform_of(std::string_view id) {
    const auto [it, added] =
        platform_index.try_emplace(std::string(id), static_cast<std::uint32_t>(result.platforms.size()));
    if (added) result.platforms.emplace_back(id);
    return it->second;
  }

  void line(std::string_view text) {
    ++result.tally.lines_read;
    if (have_header) return data_line(text);
    have_header = read_header(layout_of(format), reader, text, columns);
    if (have_header) ++result.tally.header_lines;
    else count(LineFate::comment);
  }

  void run() {
    std::string_view text;
    while (reader.next(text)) line(text);
    if (!have_header) no_header(layout_of(format), reader, "(the file holds no such line)");
  }
};

}  // namespace

namespace {

std::int64_t ten_thousandths(float degrees) { return std::llround(static_cast<double>(degrees) * 1e4); }

void remove_import_twins(ImportResult& result) {
  std::vector<ImportedRecord>& records = result.records;
  const auto key = [&](std::size_t n) {
    const ImportedRecord& r = records[n];
    return std::tuple(r.platform, r.start_minute, r.end_minute, ten_thousandths(r.list.lat), ten_thousandths(r.list.lon));
  };
  const std::vector<bool> twin = later_twins(
      records.size(), [&](std::size_t n) { return records[n].platform != 0; }, key,
      [&](std::size_t n) { return records[n].file; },
      [&](std::size_t first, std::size_t n) {
        records[first].list.temp = records[first].list.temp || records[n].list.temp;
        records[first].list.salt = records[first].list.salt || records[n].list.salt;
      });
  std::size_t out = 0;
  for (std::size_t n = 0; n < records.size(); ++n) {
    if (twin[n]) {
      --result.tally.by_kind[static_cast<std::size_t>(records[n].list.kind)];
      ++result.twins;
    } else {
      records[out++] = records[n];
    }
  }
  records.resize(out);
}

}  // namespace

ImportResult import_indexes(std::span<const IndexFile> files, const Selection& selection) {
  ImportResult result;
  std::unordered_map<std::string, std::uint32_t> platform_index;
  for (std::size_t f = 0; f < files.size(); ++f) {
    FileScan scan{files[f].format, static_cast<std::uint32_t>(f), selection, result, platform_index,
                  IndexReader(files[f].path), {}, false, {}};
    scan.run();
  }
  if (files.size() > 1) remove_import_twins(result);
  return result;
}

}  // namespace kelvo::io
