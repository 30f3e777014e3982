// kelvo plan without its files: the request, the day or period planned and
// the plan itself, which run_plan writes (a list and a NetCDF file) and the
// Python module returns (kelvo.plan).
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "core/domain.hpp"
#include "core/observations.hpp"
#include "core/plan.hpp"
#include "io/metadata_list.hpp"
#include "io/plan_file.hpp"
#include "kelvo/assessment.hpp"
#include "kelvo/cli.hpp"

namespace kelvo::cli {

struct PlanArgs {
  AssessmentArgs run;
  std::int32_t add = 0;
  const CLI::Option* add_option = nullptr;  // --add, whose absence is an error; nullptr: `add` is given
  std::string kind_text;
  std::int32_t kind = 0;
  std::string day;
  std::string from, to;  // a period instead of a day
  std::vector<float> region;  // west east south north
  std::string sites;
  std::int32_t site_step = 1;  // candidates on every site_step-th row and column of the grid
  std::int32_t top = 10;
};

// The request's values, judged without reading a file; sets p.kind.
void check_request(PlanArgs& p);

// What a day's plan and a period's plan share: the day or period, the
// candidates' records and the written files.
struct When {
  bool period = false;
  std::vector<CalendarDay> days;  // one for a day's plan
  bool with_time = false;
  std::string stamp;       // in the default file name
  std::string iso;         // the day, or "FIRST/LAST" of a period
  std::vector<float> slots;
};
When when_of(const PlanArgs& p);

// The candidate sites of --sites (none without it); an Error naming the option.
std::vector<Site> sites_of(const PlanArgs& p);

// A plan made: the candidates' records, the picked ones, the platforms of
// the kept observations, the result and the plan file's contents but its
// attributes (which point into this and into the domain and observations
// planned, so it is filled in place and not moved).
struct PlanMade {
  std::vector<io::PlannedRecord> records;
  std::vector<io::PlannedRecord> picked;
  PlatformGroups groups;
  PlanResult result;
  io::PlanFileContents contents;
};

// The plan of `observations` (kept for the parameter) on layers first..last
// of `domain` for `when`: the candidate sites (from_file, else the water
// points of the first layer, inside --region), then the greedy picks.
void make_plan(const PlanArgs& p, const When& when, const Domain& domain, const ObservationSet& observations,
               std::int32_t first, std::int32_t last, const std::vector<Site>& from_file, Context& context,
               PlanMade& made);

}  // namespace kelvo::cli
