#include "core/observations.hpp"

#include <algorithm>
#include <cmath>

namespace kelvo {

Parameters parameter_named(std::string_view name) {
  if (name == "temp") return temperature;
  if (name == "salt") return salinity;
  return 0;
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

struct TwinKey {
  std::uint32_t platform;
  float start, end;
  std::int64_t lat, lon;
  auto operator<=>(const TwinKey&) const = default;
};

TwinKey twin_key(const ObservationRecord& r) {
  return {r.platform, r.time.start, r.time.end, ten_thousandths(r.lat), ten_thousandths(r.lon)};
}

}  // namespace

std::int64_t remove_twins(ObservationSet& set) {
  std::vector<std::uint32_t> order;
  for (std::size_t n = 0; n < set.records.size(); ++n) {
    if (set.records[n].platform != 0) order.push_back(static_cast<std::uint32_t>(n));
  }
  // Equal keys end up side by side, the first read first.
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const TwinKey ka = twin_key(set.records[a]), kb = twin_key(set.records[b]);
    return ka != kb ? ka < kb : a < b;
  });
  std::vector<bool> twin(set.records.size(), false);
  std::int64_t removed = 0;
  for (std::size_t k = 1, kept = 0; k < order.size(); ++k) {
    ObservationRecord& first = set.records[order[kept]];
    const ObservationRecord& r = set.records[order[k]];
    if (twin_key(first) == twin_key(r)) {
      first.parameters |= r.parameters;
      twin[order[k]] = true;
      ++removed;
    } else {
      kept = k;
    }
  }
  if (removed == 0) return 0;
  std::size_t out = 0;
  for (std::size_t n = 0; n < set.records.size(); ++n) {
    if (!twin[n]) set.records[out++] = set.records[n];
  }
  set.records.resize(out);
  return removed;
}

}  // namespace kelvo
