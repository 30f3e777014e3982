// Planning an observing network: which kept observations matter (the points
// each one alone covers), and a greedy placement of new platforms. Every
// decision is the engine's; every count is exact.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/assess.hpp"
#include "core/coverage_engine.hpp"
#include "core/domain.hpp"

namespace kelvo {

struct PlanRequest {
  std::int32_t add = 1;                  // platforms to place (candidates placed at the assessment's slot)
  std::vector<Observation> candidates;   // in tie order
  int threads = 1;
};

struct PlanResult {
  std::int32_t k_first = 1;
  std::int32_t layers = 0;
  std::vector<std::int32_t> covered_before;  // per layer
  std::vector<std::int32_t> covered_after;   // per layer
  std::vector<std::int32_t> unique;          // kept observation x layer
  std::vector<std::size_t> picks;            // candidate indices, in the order picked
  std::vector<std::int32_t> pick_new;        // pick x layer
  std::vector<std::int8_t> classes;          // layer x plane: 0 land, 1 open water, 2 network, 3 plan
};

// The critical observations of an assessment that kept its decisions, and
// the greedy placement of request.add candidates over its layers.
PlanResult plan_network(const Domain& domain, const Assessment& assessment, const PlanRequest& request);

// The water points of `layer` as sites (latitude, longitude), from south to
// north and west to east: the candidates of a plan without a sites file.
struct Site {
  float lat = 0.0f, lon = 0.0f;
};
std::vector<Site> water_sites(const Domain& domain, std::int32_t layer);

// The unique coverage of every observation of `obs` in one layer: the
// examined points (`among`, when given) covered by it and by no other.
std::vector<std::int32_t> unique_coverage(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                                          std::span<const Observation> obs, float slot,
                                          std::span<const std::uint8_t> among = {});

}  // namespace kelvo
