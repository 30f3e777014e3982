#include "io/platform_kinds.hpp"

#include <charconv>
#include <optional>

#include "core/error.hpp"
#include "io/index_files.hpp"
#include "io/index_lines.hpp"

namespace kelvo::io {

namespace {

int code_digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= '0' && c <= '9') return 26 + (c - '0');
  return -1;
}

// The table slot of a code, or nothing for a code that cannot be one.
std::optional<std::size_t> slot_of(std::string_view code) {
  if (code.size() != 2 || code_digit(code[0]) < 0 || code_digit(code[1]) < 0) return std::nullopt;
  return static_cast<std::size_t>(code_digit(code[0]) * 36 + code_digit(code[1]));
}

void set_kind(KindTable& table, std::string_view code, int kind) {
  table.kinds[*slot_of(code)] = static_cast<std::int8_t>(kind);
}

[[noreturn]] void bad_map_line(const IndexReader& reader, std::string_view why) {
  Error e(ErrorCode::bad_request, "read_kind_map",
          "kind map " + reader.path() + " line " + std::to_string(reader.line_number()) + ": " + std::string(why));
  e.file = reader.path();
  e.line = static_cast<std::int64_t>(reader.line_number());
  throw e;
}

// One line of a kind map into the table.
void read_map_line(KindTable& table, const IndexReader& reader, std::string_view line) {
  line = trim_blanks(line.substr(0, line.find('#')));
  if (line.empty()) return;
  const std::size_t gap = line.find_first_of(" \t");
  if (gap == std::string_view::npos) bad_map_line(reader, "not a line \"CODE KIND\"");
  const std::string_view code = line.substr(0, gap);
  const std::string_view kind_text = trim_blanks(line.substr(gap));
  const std::optional<std::size_t> slot = slot_of(code);
  if (!slot) bad_map_line(reader, "\"" + std::string(code) + "\" is not a two-character platform type code");
  int kind = 0;
  const auto [ptr, ec] = std::from_chars(kind_text.data(), kind_text.data() + kind_text.size(), kind);
  if (ec != std::errc() || ptr != kind_text.data() + kind_text.size() || kind < min_kind || kind > max_kind) {
    bad_map_line(reader, "the kind \"" + std::string(kind_text) + "\" is not a number from 1 to 7");
  }
  if (table.kinds[*slot] != 0) bad_map_line(reader, "the code " + std::string(code) + " is given twice");
  set_kind(table, code, kind);
}

}  // namespace

KindTable standard_kinds() {
  KindTable table;
  for (const auto& [code, kind] : {std::pair<std::string_view, int>{"CT", 1}, {"BO", 1}, {"FB", 2}, {"TS", 2},
                                   {"DB", 2}, {"SD", 2}, {"MO", 3}, {"PF", 4}, {"TG", 5}, {"ML", 5},
                                   {"GL", 6}, {"XB", 7}, {"SM", 7}}) {
    set_kind(table, code, kind);
  }
  return table;
}

KindTable read_kind_map(const std::string& path) {
  KindTable table;
  IndexReader reader(path);
  std::string_view line;
  while (reader.next(line)) read_map_line(table, reader, line);
  return table;
}

int kind_of(const KindTable& table, std::string_view code) {
  const std::optional<std::size_t> slot = slot_of(code);
  return slot ? table.kinds[*slot] : 0;
}

}  // namespace kelvo::io
