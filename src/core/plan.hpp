// Planning an observing network: which kept observations and platforms
// matter (the points each one alone covers), and a greedy placement of new
// platforms on one day or over a period. Every decision is the engine's;
// every count is exact.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/assess.hpp"
#include "core/coverage_engine.hpp"
#include "core/domain.hpp"
#include "core/observations.hpp"

namespace kelvo {

// The kept observations grouped by platform: all records of one platform
// id form one group, each record without an id (platform 0) a group of its
// own; groups are numbered in the order of their first records.
struct PlatformGroups {
  std::vector<std::uint32_t> of;      // per record, its group
  std::vector<std::size_t> first;     // per group, its first record
  std::vector<std::int32_t> records;  // per group, its number of records
  std::size_t size() const { return first.size(); }
};
PlatformGroups platform_groups(std::span<const ObservationRecord> records);

struct PlanRequest {
  std::int32_t add = 1;                  // platforms to place (candidates placed at the assessment's slot)
  std::vector<Observation> candidates;   // in tie order
  int threads = 1;
  // When non-empty, the group of each kept observation (below ngroups):
  // the critical groups are counted too.
  std::vector<std::uint32_t> groups;
  std::size_t ngroups = 0;
};

// A plan. Its placement maximises covered point-days: the (day, point)
// pairs covered, summed over the layers; a day's plan has one day. A point
// a pick newly covers is then covered on every day.
struct PlanResult {
  std::int32_t k_first = 1;
  std::int32_t layers = 0;
  std::int32_t days = 1;
  std::vector<std::int32_t> covered_before;  // per layer: points covered on every day
  std::vector<std::int32_t> covered_after;   // per layer
  std::vector<std::int64_t> point_days_before;  // per layer: covered point-days
  std::vector<std::int64_t> point_days_after;   // per layer
  std::vector<std::int32_t> unique;          // kept observation x layer (a day's plan)
  std::vector<std::int32_t> group_unique;    // group x layer (a day's plan with groups)
  std::vector<std::size_t> picks;            // candidate indices, in the order picked
  std::vector<std::int32_t> pick_new;        // pick x layer: points newly covered
  std::vector<std::int64_t> pick_gain;       // pick x layer: point-days newly covered
  std::vector<std::int8_t> classes;          // layer x plane: 0 land, 1 open water, 2 network, 3 plan
};

// The critical observations (and groups) of an assessment that kept its
// decisions, and the greedy placement of request.add candidates over its
// layers.
PlanResult plan_network(const Domain& domain, const Assessment& assessment, const PlanRequest& request);

// The greedy placement of request.add fixed platforms over the days of
// `slots` (the series of `records` on the layers first..last): each step
// takes the candidate covering the most point-days that the network and
// the earlier picks leave uncovered. A fixed platform covers the same points
// every day, so the candidates are placed at slots.front() (an Error for
// one absent from it). Critical lists are not counted.
PlanResult plan_period(const Domain& domain, std::span<const ObservationRecord> records, std::span<const float> slots,
                       std::int32_t first_layer, std::int32_t last_layer, const PlanRequest& request);

// The water points of `layer` as sites (latitude, longitude), from south to
// north and west to east: the candidates of a plan without a sites file.
struct Site {
  float lat = 0.0f, lon = 0.0f;
};
// With `step` above 1, only the points of every step-th row and column
// (from the southernmost and the westernmost).
std::vector<Site> water_sites(const Domain& domain, std::int32_t layer, std::int32_t step = 1);

// The unique coverage of every observation of `obs` in one layer: the
// examined points (`among`, when given) covered by it and by no other. With
// `groups` (one per observation, below ngroups), that of every group: the
// points its observations cover and those of no other group.
std::vector<std::int32_t> unique_coverage(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                                          std::span<const Observation> obs, float slot,
                                          std::span<const std::uint8_t> among = {},
                                          std::span<const std::uint32_t> groups = {}, std::size_t ngroups = 0);

}  // namespace kelvo
