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
