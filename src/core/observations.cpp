#include "core/observations.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace kelvo {

Parameters parameter_named(std::string_view name) {
  if (name == "temp") return temperature;
  if (name == "salt") return salinity;
  return 0;
}

std::int32_t minute_of(std::int64_t seconds) {
  const std::int64_t minutes = seconds >= 0 ? seconds / 60 : -((-seconds + 59) / 60);
  const bool fits = minutes > std::numeric_limits<std::int32_t>::min() && minutes <= std::numeric_limits<std::int32_t>::max();
  return fits ? static_cast<std::int32_t>(minutes) : ObservationRecord::no_minute;
}

float time_at_slot(const TimeSpan& span, float slot) {
  const float nearest = std::clamp(slot, span.start, span.end);
  return std::fabs(nearest - slot) >= 1.0f ? absent_time : slot;
}

Observation placed(const ObservationRecord& r, float slot) {
  return Observation{r.lat, r.lon, time_at_slot(r.time, slot), r.layer, r.kind};
}

std::vector<Observation> place_at(std::span<const ObservationRecord> records, float slot) {
  std::vector<Observation> obs;
  obs.reserve(records.size());
  for (const ObservationRecord& r : records) obs.push_back(placed(r, slot));
  return obs;
}

}  // namespace kelvo

namespace kelvo {

namespace {

std::int64_t ten_thousandths(float degrees) { return std::llround(static_cast<double>(degrees) * 1e4); }

}  // namespace

std::int64_t remove_twins(ObservationSet& set) {
  std::vector<ObservationRecord>& records = set.records;
  const std::vector<bool> twin = later_twins(
      records.size(), [&](std::size_t n) { return records[n].platform != 0; },
      [&](std::size_t n) {
        const ObservationRecord& r = records[n];
        return std::tuple(r.platform, r.start_minute, r.time.start, r.time.end, ten_thousandths(r.lat),
                          ten_thousandths(r.lon));
      },
      [&](std::size_t n) { return records[n].source; },
      [&](std::size_t first, std::size_t n) { records[first].parameters |= records[n].parameters; });
  std::size_t out = 0;
  for (std::size_t n = 0; n < records.size(); ++n) {
    if (!twin[n]) records[out++] = records[n];
  }
  const auto removed = static_cast<std::int64_t>(records.size() - out);
  records.resize(out);
  return removed;
}

}  // namespace kelvo
