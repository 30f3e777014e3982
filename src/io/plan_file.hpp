// The plan file (CF-1.8, netCDF-4): per layer the covered points before and
// after the plan, each kept observation's list and line, position, kind,
// presence in the day's slot and unique coverage, each platform's unique
// coverage, the picks with what each newly covers, and the map of the four
// coverage classes (land, water not covered, water covered by the network,
// water newly covered by the plan), on the assessment day (`time`). A
// period's plan holds the covered point-days instead of the unique
// coverage, its first day as `time` and the period as attributes.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/observations.hpp"
#include "core/plan.hpp"
#include "io/netcdf.hpp"

namespace kelvo::io {

struct PlanFileContents {
  FileAttributes attributes;
  const Domain* domain = nullptr;
  std::span<const ObservationRecord> observations;  // the kept observations, in order
  std::span<const std::string> platforms;           // their platform ids (ObservationSet::platforms)
  const PlanResult* plan = nullptr;
  std::vector<float> pick_lat, pick_lon;  // as read back from the written records
  std::int32_t add_kind = 0;
  float slot = 0.0f;  // the assessment's time slot (a day number); a period's first
  const PlatformGroups* platforms_of = nullptr;  // the kept observations by platform (a day's plan)
  std::string period_first, period_last;  // a period's first and last day (ISO), empty for a day
  std::string run_id;  // the run that wrote the plan (attribute run_id)
};

// Writes the file at `path` through a temporary file (an Error,
// cannot_write, when it could not be written; nothing is then left there).
// `before_rename` runs when the file is complete, just before it is put in
// place (the plan's list is put in place then).
void write_plan_file(const std::string& path, const PlanFileContents& c,
                     const std::function<void()>& before_rename = {});

// Defines and fills the plan's dimensions, variables and attributes in the
// open file `f` (in define mode): the body of write_plan_file, also run on a
// file in memory by the Python module.
void fill_plan_file(const NcFile& f, const PlanFileContents& c);

}  // namespace kelvo::io
