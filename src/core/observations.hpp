// The observations of a network as records, whatever file they came from:
// one record per observation with its platform, kind, position, time span,
// the parameters it measures, the layers it counts for and where it came
// from (file and line). Placing the records on an assessment day gives the
// engine's observations.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/coverage_engine.hpp"

namespace kelvo {

// The parameters a record measures, as a set of bits.
using Parameters = std::uint8_t;
inline constexpr Parameters temperature = 1;
inline constexpr Parameters salinity = 2;
inline constexpr Parameters every_parameter = temperature | salinity;

// The parameter of a name as the tools take it ("temp", "salt"); no bit for
// any other name (its observations are those of no record).
Parameters parameter_named(std::string_view name);

// A time span in day numbers (day 1.0 is 2001-01-01 00:00). A one-time
// observation has start == end; a record present at every time (a station
// repeating for ever) spans the whole line.
struct TimeSpan {
  float start = 0.0f;
  float end = 0.0f;
  static TimeSpan at(float day) { return {day, day}; }
  static TimeSpan always() { return {-std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity()}; }
  bool is_always() const {
    return start == -std::numeric_limits<float>::infinity() && end == std::numeric_limits<float>::infinity();
  }
};

// One observation, in 48 bytes: texts (its platform id, its file) are
// indices into the tables of its set.
struct ObservationRecord {
  std::int64_t line = 0;              // its line in its file (from 1)
  std::uint32_t platform = 0;         // index in ObservationSet::platforms; 0: the source names none
  std::uint32_t source = 0;           // index of its file in ObservationSet::sources
  std::int32_t kind = 0;              // platform kind code
  std::int32_t layer = no_layer;      // every_layer, no_layer, or the one layer it counts for
  float lat = 0.0f;                   // degrees north
  float lon = 0.0f;                   // degrees east
  TimeSpan time;
  // The start to the minute (from 1970-01-01 00:00 UTC), which the day
  // numbers of the span hold only to a fraction of a day; no_minute for a
  // record present at every time or one whose reader gives none.
  std::int32_t start_minute = no_minute;
  Parameters parameters = 0;
  static constexpr std::int32_t no_minute = std::numeric_limits<std::int32_t>::min();
};
static_assert(sizeof(ObservationRecord) <= 48, "a record stays within 48 bytes");

// The start_minute of a time `seconds` from 1970 (no_minute beyond the
// years a 32-bit minute count reaches, about 1970 +- 4000).
std::int32_t minute_of(std::int64_t seconds);

struct ObservationSet {
  std::vector<std::string> sources;             // the files the records came from
  std::vector<std::string> platforms{""};       // platform ids; the first stands for none
  std::vector<ObservationRecord> records;
  std::size_t size() const { return records.size(); }
};

// The time of a record at the assessment slot `slot`: the slot itself when
// the record is in the slot (the point of its span nearest the slot is less
// than a day from it), absent_time otherwise.
float time_at_slot(const TimeSpan& span, float slot);

// The engine's observations of `records`, in order, placed at `slot`.
std::vector<Observation> place_at(std::span<const ObservationRecord> records, float slot);
Observation placed(const ObservationRecord& r, float slot);

}  // namespace kelvo

namespace kelvo {

// Keeps once the records of `set` that are the same observation as one of
// another file: the same platform id (records without one are never
// twins), the same start to the minute, the same span and the same
// position to 1e-4 degree (each
// rounded to the nearest multiple). The first read stays, measuring the
// parameters of all its twins; the order of the others is kept. Returns the
// number of records removed.
std::int64_t remove_twins(ObservationSet& set);

// Which of `count` items are later twins: items (among those `considered`)
// with the key (`key_of`) of an earlier item, the first of that key, whose
// group (`group_of`, its file) is another. `merge(first, twin)` is called
// for each twin found.
template <typename Considered, typename KeyOf, typename GroupOf, typename Merge>
std::vector<bool> later_twins(std::size_t count, Considered considered, KeyOf key_of, GroupOf group_of, Merge merge) {
  std::vector<std::uint32_t> order;
  for (std::size_t n = 0; n < count; ++n) {
    if (considered(n)) order.push_back(static_cast<std::uint32_t>(n));
  }
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const auto ka = key_of(a), kb = key_of(b);
    return ka != kb ? ka < kb : a < b;
  });
  std::vector<bool> twin(count, false);
  for (std::size_t k = 0; k < order.size();) {
    const std::uint32_t first = order[k];
    std::size_t end = k + 1;
    for (; end < order.size() && key_of(order[end]) == key_of(first); ++end) {
      if (group_of(order[end]) == group_of(first)) continue;
      twin[order[end]] = true;
      merge(first, order[end]);
    }
    k = end;
  }
  return twin;
}

}  // namespace kelvo
