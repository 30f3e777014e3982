#include "analyses.hpp"

#include <ctime>

#include "core/assess.hpp"
#include "core/contributions.hpp"
#include "core/error.hpp"
#include "core/plan.hpp"
#include "core/series.hpp"
#include "io/inputs.hpp"
#include "io/map_file.hpp"
#include "io/metadata_list.hpp"
#include "io/plan_file.hpp"
#include "io/result_files.hpp"
#include "io/series_file.hpp"

namespace kelvo_bench {

namespace {

using Inputs = kelvo::io::TreeInputs;

Inputs read_inputs(const AnalysisRun& run) {
  const DomainFiles& f = *run.files;
  const std::vector<std::string> lists{run.list.string()};
  return kelvo::io::read_tree_inputs(f.scale_dir().string() + "/", f.domain, f.param, 1, run.last, lists, run.threads);
}

std::string result(const AnalysisRun& run, const char* what, const char* ending) {
  const DomainFiles& f = *run.files;
  return kelvo::io::result_file_name(f.results_dir().string() + "/", f.domain, f.param, what, "b", ending);
}

kelvo::io::FileAttributes attributes(const AnalysisRun& run, const std::string& day) {
  const DomainFiles& f = *run.files;
  return kelvo::io::file_attributes(f.domain, f.param, 1, run.last, day, f.scale_dir().string() + "/",
                                    run.list.string(), {}, std::time(nullptr));
}

kelvo::Assessment assess_day(const AnalysisRun& run, const Inputs& in, float slot, bool by_kind) {
  kelvo::AssessRequest r;
  r.first_layer = 1;
  r.last_layer = run.last;
  r.slot = slot;
  r.keep_decisions = true;
  r.by_kind = by_kind;
  r.threads = run.threads;
  return kelvo::assess(in.domain, in.observations, r);
}

template <typename F>
int guarded(F&& work) {
  try {
    work();
    return 0;
  } catch (const kelvo::Error& e) {
    std::fprintf(stderr, "benchmark: %s\n", e.what());
    return 2;
  }
}

}  // namespace

int run_map(const AnalysisRun& run, const kelvo::CalendarDay& day) {
  return guarded([&] {
    const Inputs in = read_inputs(run);
    const float slot = kelvo::assessment_slot(day);
    const kelvo::Assessment a = assess_day(run, in, slot, true);
    const kelvo::KindContributions kinds = kelvo::kind_contributions(in.domain, a, run.threads);
    kelvo::io::MapContents m = kelvo::io::map_contents(in.domain, a, kelvo::coverage_classes(in.domain, a), kinds);
    m.attributes = attributes(run, "day");
    kelvo::io::write_map_file(result(run, "cover_map", ".nc"), m);
  });
}

int run_series(const AnalysisRun& run, const kelvo::CalendarDay& from, const kelvo::CalendarDay& to) {
  return guarded([&] {
    const Inputs in = read_inputs(run);
    kelvo::SeriesRequest r;
    r.first_layer = 1;
    r.last_layer = run.last;
    r.threads = run.threads;
    const std::int64_t first = kelvo::days_from_civil(from.year, from.month, from.day);
    const std::int64_t last = kelvo::days_from_civil(to.year, to.month, to.day);
    for (std::int64_t d = first; d <= last; ++d) {
      r.slots.push_back(kelvo::assessment_slot(kelvo::civil_from_days(d, 0, 0)));
    }
    const kelvo::SeriesResult s = kelvo::assess_series(in.domain, in.observations.records, r);
    kelvo::io::write_series_file(result(run, "cover_series", ".nc"),
                                 kelvo::io::series_contents(in.domain, s, r.slots, attributes(run, "period")));
  });
}

int run_plan(const AnalysisRun& run, const kelvo::CalendarDay& day, std::int32_t add, std::int32_t kind) {
  return guarded([&] {
    const Inputs in = read_inputs(run);
    const float slot = kelvo::assessment_slot(day);
    const kelvo::Assessment a = assess_day(run, in, slot, false);
    kelvo::PlanRequest r;
    r.add = add;
    r.threads = run.threads;
    std::vector<kelvo::io::PlannedRecord> records;
    for (const kelvo::Site& s : kelvo::water_sites(in.domain, 1)) {
      records.push_back(kelvo::io::planned_record(s.lat, s.lon, day, kind));
      r.candidates.push_back(kelvo::placed(records.back().record, slot));
    }
    const kelvo::PlanResult p = kelvo::plan_network(in.domain, a, r);
    kelvo::io::ListWriter list;
    list.create(result(run, "plan", ".lst"));
    list.add_text(kelvo::io::list_head(run.list.string(), in.lists.front().lines));
    kelvo::io::PlanFileContents c;
    for (std::size_t pick : p.picks) {
      list.add_text(records[pick].line + "\n");
      c.pick_lat.push_back(records[pick].record.lat);
      c.pick_lon.push_back(records[pick].record.lon);
    }
    c.attributes = attributes(run, "day");
    c.domain = &in.domain;
    c.observations = in.observations.records;
    c.plan = &p;
    c.add_kind = kind;
    kelvo::io::write_plan_file(result(run, "plan", ".nc"), c);
    list.commit();
  });
}

}  // namespace kelvo_bench
