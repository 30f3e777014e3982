// Planning an observing network: which kept observations matter (the points
// each one alone covers), and a greedy placement of new platforms. Every
// decision is the engine's; every count is exact.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "kelvo_brino/coverage.hpp"
#include "kelvo_mod/coverage_engine.hpp"
#include "kelvo_mod/domain_state.hpp"

namespace kelvo::cli {

// A new platform as the list holds it.
struct PlannedRecord {
  std::string line;      // the 52 columns of its list line (no line end)
  Observation obs;       // as the list reader reads the line
};

// The record of a platform of `kind` at (lat, lon), present on the day of
// `date_text` (hhddmmyyyy) with repeat frequency 1 and both parameter flags:
// the position written with 4 decimals and read back from the written text.
PlannedRecord planned_record(float lat, float lon, std::string_view date_text, std::int32_t kind, float slot);

struct PlanRequest {
  std::int32_t add = 1;                  // platforms to place
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

// The critical observations of the assessment `ds` (whose decisions are
// `maps`) and the greedy placement of request.add candidates.
PlanResult plan_network(const DomainState& ds, const CoverageMaps& maps, const PlanRequest& request);

// The unique coverage of every observation of `obs` in one layer: the
// examined points (`among`, when given) covered by it and by no other.
std::vector<std::int32_t> unique_coverage(const GridAxes& grid, const LayerFields& layer, const LayerReach& reach,
                                          std::span<const Observation> obs, float slot,
                                          std::span<const std::uint8_t> among = {});

}  // namespace kelvo::cli
