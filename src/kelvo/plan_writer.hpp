// The NetCDF file of kelvo plan (CF-1.8): per layer the counts before and
// after the plan, each kept observation's unique coverage, the picks, and
// the map of the four coverage classes.
#pragma once

#include <string>

#include "kelvo/plan.hpp"
#include "kelvo_map/map_contents.hpp"

namespace kelvo::cli {

struct PlanFileContents {
  MapAttributes attributes;
  const DomainState* ds = nullptr;
  const PlanResult* plan = nullptr;
  std::vector<float> pick_lat, pick_lon;  // as read back from the written records
  std::int32_t add_kind = 0;
};

// False, with the reason, when the file could not be written (nothing is
// then left at `path`).
bool write_plan_file(const std::string& path, const PlanFileContents& c, std::string& reason);

}  // namespace kelvo::cli
