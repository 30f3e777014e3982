// Coverage through time: one dated assessment per day of a series, each
// exactly the assessment of that day, computed from one reading of the
// inputs. What does not change from day to day is decided once: the points
// the repeating observations cover (they are in every day's slot), and the
// points where no observation absent from the slot can cover. Each day then
// adds only the one-time observations in its slot, observation by
// observation, and evaluates the absent ones only where they might cover.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/domain.hpp"
#include "core/observations.hpp"

namespace kelvo {

struct SeriesRequest {
  std::int32_t first_layer = 1;
  std::int32_t last_layer = 0;
  std::vector<float> slots;  // the day's slot of each assessment day
  bool by_kind = false;
  int threads = 1;
  // Called after each finished day with the number finished so far (from
  // one thread at a time).
  std::function<void(std::size_t)> progress;
};

struct SeriesResult {
  std::int32_t k_first = 1;
  std::int32_t layers = 0;
  std::vector<std::int32_t> kinds;             // kind codes present, ascending
  std::vector<std::int32_t> covered_points;    // days x layers
  std::vector<float> effective_coverage;       // days x layers (NaN without water)
  std::vector<std::int32_t> observations_in_slot;  // per day
  std::vector<std::int32_t> covered_days;      // layers x nlat x nlon: days each point is covered
  std::vector<float> coverage_by_kind;         // days x kinds x layers
};

// The series of the request's layers (which the domain holds) with the
// observations of `records`.
SeriesResult assess_series(const Domain& domain, std::span<const ObservationRecord> records,
                           const SeriesRequest& request);

}  // namespace kelvo
