// Coverage through time: one dated assessment per day of a series, each
// exactly the assessment of that day, computed from one reading of the
// inputs. What does not change from day to day is decided once: the points
// the observations present on every day cover, and the points where no
// observation absent from the slot can cover. A record present on some
// days covers the same points on each of them (it is at the slot itself),
// so it is decided once for all its days.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
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
  // Called after each finished layer with the number of days of layers
  // finished so far, out of slots.size() times the layers.
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

// The series of one layer.
struct SeriesLayer {
  std::vector<std::int32_t> covered_points;  // per day
  std::vector<float> effective_coverage;     // per day (NaN without water)
  std::vector<float> coverage_by_kind;       // days x kinds
  std::vector<std::int32_t> covered_days;    // nlat x nlon: days each point is covered
};

// A series taken a layer at a time: the records sorted into what repeats and
// what is looked up by day once, then each layer decided every day from any
// domain that holds it. A run that reads, assesses and writes one layer at
// a time holds one layer of the domain and of its planes; assess_series is
// this over a domain that holds the whole range.
class SeriesAssessor {
 public:
  // The caller keeps `records` alive.
  SeriesAssessor(std::span<const ObservationRecord> records, const SeriesRequest& request);
  ~SeriesAssessor();
  SeriesAssessor(const SeriesAssessor&) = delete;
  SeriesAssessor& operator=(const SeriesAssessor&) = delete;

  const std::vector<std::int32_t>& kinds() const { return kinds_; }
  // Per day: the kept observations placed in its slot (the same in every layer).
  const std::vector<std::int32_t>& observations_in_slot() const { return in_slot_; }
  // Layer `ilayer` (in the request's range) of `domain`, which holds it.
  SeriesLayer layer(const Domain& domain, std::int32_t ilayer);

 private:
  struct Parts;
  std::span<const ObservationRecord> records_;
  SeriesRequest request_;
  std::vector<std::int32_t> kinds_;
  std::vector<std::int32_t> in_slot_;
  std::unique_ptr<Parts> parts_;
  float any_slot_ = 0.0f;
  float dt_min_ = 0.0f;
  std::size_t finished_ = 0;
};

// Copies the values by day of layer `l` (of `layers`) into arrays by day and
// layer: covered points and coverage (days x layers), each kind's coverage
// (days x kinds x layers).
void spread_layer(const SeriesLayer& one, std::size_t l, std::size_t layers, std::span<std::int32_t> covered_points,
                  std::span<float> effective_coverage, std::span<float> coverage_by_kind);

// The series of the request's layers (which the domain holds) with the
// observations of `records`.
SeriesResult assess_series(const Domain& domain, std::span<const ObservationRecord> records,
                           const SeriesRequest& request);

}  // namespace kelvo
