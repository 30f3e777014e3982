#include "kelvo_map/map_name.hpp"

#include "kelvo_brino/summary.hpp"
#include "textio/fields.hpp"

namespace kelvo {

std::optional<std::string> map_file_name(const DomainState& ds) {
  constexpr std::string_view summary_piece = "_cover_summary_";
  constexpr std::string_view summary_end = ".asc";
  std::string name(textio::trim_right(summary_file_name(ds)));
  const std::string_view tag = textio::trim_right(ds.run_tag);
  // The fixed piece stands just before the tag and the ending.
  const std::size_t tail = summary_piece.size() + tag.size() + summary_end.size();
  if (name.size() < tail || !name.ends_with(std::string(tag) + std::string(summary_end)) ||
      name.compare(name.size() - tail, summary_piece.size(), summary_piece) != 0) {
    return std::nullopt;
  }
  name.replace(name.size() - tail, tail, "_cover_map_" + std::string(tag) + ".nc");
  return name;
}

}  // namespace kelvo
