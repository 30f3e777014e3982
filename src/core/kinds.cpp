#include "core/kinds.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace kelvo {

namespace {

struct KindNames {
  std::string_view name;
  std::string_view flag_meaning;
  std::array<std::string_view, 4> short_names;  // the first is the one help texts show first
};

constexpr std::array<KindNames, 7> kinds{{
    {"CTD or bottle", "ctd_or_bottle", {"ctd", "bottle"}},
    {"surface-only (ferrybox, thermosalinograph, drifter)", "surface_only",
     {"surface", "ferrybox", "thermosalinograph", "drifter"}},
    {"mooring", "mooring", {"mooring"}},
    {"profiling float", "profiling_float", {"float", "argo"}},
    {"tide gauge", "tide_gauge", {"tide-gauge", "tidegauge"}},
    {"glider", "glider", {"glider"}},
    {"XBT or sea mammal", "xbt_or_sea_mammal", {"xbt", "sea-mammal"}},
}};

bool known(std::int32_t kind) { return kind >= first_kind && kind <= last_kind; }

const KindNames& names_of(std::int32_t kind) { return kinds[static_cast<std::size_t>(kind - first_kind)]; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string_view kind_name(std::int32_t kind) { return known(kind) ? names_of(kind).name : "unknown kind"; }

std::string_view kind_flag_meaning(std::int32_t kind) { return known(kind) ? names_of(kind).flag_meaning : "unknown"; }

std::string kind_flag_meanings() {
  std::string text;
  for (std::int32_t k = first_kind; k <= last_kind; ++k) {
    if (!text.empty()) text += ' ';
    text += kind_flag_meaning(k);
  }
  return text;
}

std::optional<std::int32_t> kind_from_text(std::string_view text) {
  std::int32_t code = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
  if (ec == std::errc() && end == text.data() + text.size()) return known(code) ? std::optional(code) : std::nullopt;
  for (std::int32_t k = first_kind; k <= last_kind; ++k) {
    for (std::string_view s : names_of(k).short_names) {
      if (!s.empty() && same_ignoring_case(s, text)) return k;
    }
  }
  return std::nullopt;
}

std::string kind_choices() {
  std::string text;
  for (std::int32_t k = first_kind; k <= last_kind; ++k) {
    if (!text.empty()) text += ", ";
    text += std::to_string(k) + " ";
    bool first = true;
    for (std::string_view s : names_of(k).short_names) {
      if (s.empty()) continue;
      if (!first) text += '|';
      text += s;
      first = false;
    }
  }
  return text;
}

}  // namespace kelvo
