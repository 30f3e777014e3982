// kelvo plan: the observations whose loss would cost the most coverage, and
// the greedy placement of new platforms, written as a list kelvo_brino reads
// and a NetCDF map.
#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "kelvo/plan.hpp"
#include "kelvo/plan_sites.hpp"
#include "kelvo/plan_writer.hpp"
#include "kelvo/series.hpp"
#include "kelvo_mod/parallel.hpp"
#include "kelvo_brino/metadata.hpp"
#include "kelvo_map/map_assembly.hpp"
#include "textio/atomic_file.hpp"
#include "textio/fields.hpp"
#include "textio/lines.hpp"

namespace kelvo::cli {

namespace {

struct PlanArgs {
  AssessmentArgs run;
  std::int32_t add = 0;
  std::int32_t kind = 0;
  std::string day = "2004-01-01";
  std::vector<float> region;  // west east south north
  std::string sites;
  std::int32_t top = 10;
};

void check_request(const PlanArgs& p) {
  if (p.add < 1) throw Failure{"--add " + std::to_string(p.add) + ": must be 1 or more"};
  if (p.kind < 1 || p.kind > 7) throw Failure{"--kind " + std::to_string(p.kind) + ": must be a kind code from 1 to 7"};
  if (p.kind == 2 && p.run.level_start > 1) {
    throw Failure{"--kind 2: surface platforms count for layer 1 only, and level_start is " +
                  std::to_string(p.run.level_start)};
  }
  if (p.top < 0) throw Failure{"--top " + std::to_string(p.top) + ": may not be negative"};
  if (!p.region.empty() && (!(p.region[0] <= p.region[1]) || !(p.region[2] <= p.region[3]))) {
    throw Failure{"--region: WEST must not exceed EAST nor SOUTH exceed NORTH"};
  }
}

bool inside(const std::vector<float>& region, const Site& s) {
  return region.empty() || (s.lon >= region[0] && s.lon <= region[1] && s.lat >= region[2] && s.lat <= region[3]);
}

// The candidate sites: the sites file, or the water points of level_start
// from south to north and west to east; inside the region when given.
std::vector<Site> candidate_sites(const PlanArgs& p, const std::vector<Site>& from_file, const DomainState& ds) {
  const std::vector<float>& r = p.region;
  if (!r.empty() && (r[1] < std::min(ds.lon.data.front(), ds.lon.data.back()) ||
                     r[0] > std::max(ds.lon.data.front(), ds.lon.data.back()) ||
                     r[3] < std::min(ds.lat.data.front(), ds.lat.data.back()) ||
                     r[2] > std::max(ds.lat.data.front(), ds.lat.data.back()))) {
    throw Failure{"--region: misses the grid of " + p.run.domain};
  }
  std::vector<Site> sites;
  if (!p.sites.empty()) {
    std::copy_if(from_file.begin(), from_file.end(), std::back_inserter(sites), [&](const Site& s) { return inside(r, s); });
  } else {
    std::vector<std::int32_t> rows(static_cast<std::size_t>(ds.nlat));
    for (std::int32_t j = 0; j < ds.nlat; ++j) rows[static_cast<std::size_t>(j)] = j + 1;
    std::stable_sort(rows.begin(), rows.end(), [&](std::int32_t a, std::int32_t b) { return ds.lat(a) < ds.lat(b); });
    const std::int32_t* water = ds.water_mask.plane(ds.level_start, 1);
    for (std::int32_t j : rows) {
      std::vector<std::int32_t> cols(static_cast<std::size_t>(ds.nlon));
      for (std::int32_t i = 0; i < ds.nlon; ++i) cols[static_cast<std::size_t>(i)] = i + 1;
      std::stable_sort(cols.begin(), cols.end(), [&](std::int32_t a, std::int32_t b) { return ds.lon(a) < ds.lon(b); });
      for (std::int32_t i : cols) {
        const Site s{ds.lat(j), ds.lon(i)};
        if (water[(i - 1) + std::int64_t{ds.nlon} * (j - 1)] == 1 && inside(r, s)) sites.push_back(s);
      }
    }
  }
  if (sites.empty()) throw Failure{p.region.empty() ? "no candidate site" : "--region: holds no candidate site"};
  if (static_cast<std::size_t>(p.add) > sites.size()) {
    throw Failure{"--add " + std::to_string(p.add) + ": more than the " + std::to_string(sites.size()) +
                  " candidate sites"};
  }
  return sites;
}

// hhddmmyyyy of the assessment day.
std::string date_text(const CalendarDay& d) {
  std::string t;
  textio::put_int(t, d.hour, 2, 2);
  textio::put_int(t, d.day, 2, 2);
  textio::put_int(t, d.month, 2, 2);
  textio::put_int(t, d.year, 4, 4);
  return t;
}

// The lines of the list that the tool read, unchanged, each with its end.
std::string list_head(const std::string& file, std::int32_t records) {
  std::string text, reason;
  if (!textio::read_whole_file(file, text, reason)) throw Failure{file + ": " + reason};
  std::size_t end = 0;
  for (std::int32_t n = 0; n < records && end < text.size(); ++n) {
    const std::size_t nl = text.find('\n', end);
    end = nl == std::string::npos ? text.size() : nl + 1;
  }
  std::string head = text.substr(0, end);
  if (!head.empty() && head.back() != '\n') head += '\n';
  return head;
}

std::string fixed(float v, int w, int d) {
  std::string t;
  textio::put_fixed(t, v, w, d);
  return t;
}

std::string report(const PlanArgs& p, const DomainState& ds, const PlanResult& r,
                   const std::vector<PlannedRecord>& picked) {
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  std::vector<std::size_t> order(ds.obs.size());
  std::vector<std::int64_t> sum(ds.obs.size(), 0);
  for (std::size_t n = 0; n < order.size(); ++n) {
    order[n] = n;
    for (std::size_t l = 0; l < layers; ++l) sum[n] += r.unique[n * layers + l];
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return sum[a] > sum[b]; });
  std::string t = "Critical observations of " + p.run.domain + " " + p.run.param + " (points covered by no other, of " +
                  std::to_string(ds.obs.size()) + " kept)\n rank   line  latitude longitude kind    unique  per layer " +
                  std::to_string(r.k_first) + "-" + std::to_string(r.k_first + r.layers - 1) + "\n";
  for (std::size_t k = 0; k < std::min(order.size(), static_cast<std::size_t>(p.top)); ++k) {
    const std::size_t n = order[k];
    textio::put_int(t, static_cast<std::int64_t>(k + 1), 5);
    textio::put_int(t, ds.obs_lines[n], 7);
    t += fixed(ds.obs[n].lat, 10, 4) + fixed(ds.obs[n].lon, 10, 4);
    textio::put_int(t, ds.obs[n].kind, 5);
    textio::put_int(t, sum[n], 10);
    t += " ";
    for (std::size_t l = 0; l < layers; ++l) textio::put_int(t, r.unique[n * layers + l], 7);
    t += "\n";
  }
  t += "Planned platforms of kind " + std::to_string(p.kind) + " (new points per layer, in all; coverage % after)\n";
  std::vector<std::int32_t> covered = r.covered_before;
  for (std::size_t s = 0; s < picked.size(); ++s) {
    textio::put_int(t, static_cast<std::int64_t>(s + 1), 5);
    t += fixed(picked[s].obs.lat, 10, 4) + fixed(picked[s].obs.lon, 10, 4) + "  new";
    std::int64_t all = 0;
    for (std::size_t l = 0; l < layers; ++l) {
      const std::int32_t n = r.pick_new[s * layers + l];
      textio::put_int(t, n, 7);
      all += n;
      covered[l] += n;
    }
    textio::put_int(t, all, 9);
    t += "  %";
    for (std::size_t l = 0; l < layers; ++l) {
      const std::int32_t nwater = ds.Nwater(r.k_first + static_cast<std::int32_t>(l));
      t += " " + percent_text(nwater == 0 ? NAN : static_cast<float>(covered[l]) / static_cast<float>(nwater));
    }
    t += "\n";
  }
  return t;
}

void run_plan(const PlanArgs& p, Context& context) {
  check_request(p);
  const OptionDate date = parse_option_date("--day", p.day);
  const CalendarDay day = calendar_day(date);
  const std::vector<Site> from_file = p.sites.empty() ? std::vector<Site>{} : read_sites(p.sites);
  CoverageMaps maps;
  run_assessment_of(p.run, day, &maps, context, [&](Reporter&, DomainState& ds) {
    if (ds.list_records + std::int64_t{p.add} >= maxnf) {
      throw Failure{"--add " + std::to_string(p.add) + ": the list has " + std::to_string(ds.list_records) +
                    " lines, and with the new records it must stay below " + std::to_string(maxnf)};
    }
    const float slot = ds.jdayaxis(1);
    PlanRequest request;
    request.add = p.add;
    request.threads = thread_count_from_environment();
    std::vector<PlannedRecord> records;
    for (const Site& s : candidate_sites(p, from_file, ds)) {
      records.push_back(planned_record(s.lat, s.lon, date_text(day), p.kind, slot));
      request.candidates.push_back(records.back().obs);
    }
    const PlanResult r = plan_network(ds, maps, request);
    std::vector<PlannedRecord> picked;
    PlanFileContents c;
    std::string list = list_head(std::string(textio::trim_right(ds.metadata_file)), ds.list_records);
    for (std::size_t pick : r.picks) {
      picked.push_back(records[pick]);
      list += records[pick].line + "\n";
      c.pick_lat.push_back(records[pick].obs.lat);
      c.pick_lon.push_back(records[pick].obs.lon);
    }
    const std::string list_path = result_path(p.run, "plan", ".lst"), nc_path = result_path(p.run, "plan", ".nc");
    std::string reason;
    textio::AtomicFile file;
    if (!file.create(list_path, reason) || !file.write(list, reason)) {
      throw Failure{"list not written (" + reason + "): " + list_path};
    }
    c.attributes = map_attributes(ds, context.command_line, std::time(nullptr), iso_day(day, date.has_time));
    c.ds = &ds;
    c.plan = &r;
    c.add_kind = p.kind;
    if (!write_plan_file(nc_path, c, reason)) throw Failure{"map not written (" + reason + "): " + nc_path};
    if (!file.commit(reason)) {
      std::filesystem::remove(nc_path);
      throw Failure{"list not written (" + reason + "): " + list_path};
    }
    const std::string files = "List written to " + list_path + "\nMap written to " + nc_path + "\n";
    context.console.write(p.run.quiet ? list_path + "\n" + nc_path + "\n" : report(p, ds, r, picked) + files);
  });
}

}  // namespace

void add_plan_command(CLI::App& app, Context& context) {
  auto p = std::make_shared<PlanArgs>();
  CLI::App* cmd = app.add_subcommand("plan", "rank the observations that matter and place new platforms");
  add_assessment_arguments(*cmd, p->run, context);
  cmd->add_option("--add", p->add, "number of new platforms K")->required();
  cmd->add_option("--kind", p->kind, "platform kind code C of the new platforms (1-7)")->required();
  cmd->add_option("--day", p->day, "assessment day, YYYY-MM-DD or YYYY-MM-DDTHH:MM")->capture_default_str();
  cmd->add_option("--region", p->region, "candidate sites only inside WEST EAST SOUTH NORTH (degrees)")
      ->expected(4);
  cmd->add_option("--sites", p->sites, "candidate sites: a file in the list's columns (latitude and longitude)");
  cmd->add_option("--top", p->top, "number of critical observations reported")->capture_default_str();
  cmd->callback([p, &context] { run_plan(*p, context); });
}

}  // namespace kelvo::cli
