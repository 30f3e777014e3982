// kelvo plan: the observations whose loss would cost the most coverage, and
// the greedy placement of new platforms, written as a list kelvo_brino reads
// and a NetCDF map.
#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "core/assess.hpp"
#include "core/plan.hpp"
#include "io/metadata_list.hpp"
#include "io/plan_file.hpp"
#include "io/sites.hpp"
#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "kelvo/dates.hpp"
#include "textio/fields.hpp"

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
  if (p.add < 1) fail("--add " + std::to_string(p.add) + ": must be 1 or more");
  if (p.kind < io::min_kind || p.kind > io::max_kind) {
    fail("--kind " + std::to_string(p.kind) + ": must be a kind code from 1 to 7");
  }
  if (p.kind == 2 && p.run.level_start > 1) {
    fail("--kind 2: surface platforms count for layer 1 only, and level_start is " + std::to_string(p.run.level_start));
  }
  if (p.top < 0) fail("--top " + std::to_string(p.top) + ": may not be negative");
  if (!p.region.empty() && (!(p.region[0] <= p.region[1]) || !(p.region[2] <= p.region[3]))) {
    fail("--region: WEST must not exceed EAST nor SOUTH exceed NORTH");
  }
}

bool inside(const std::vector<float>& region, const Site& s) {
  return region.empty() || (s.lon >= region[0] && s.lon <= region[1] && s.lat >= region[2] && s.lat <= region[3]);
}

// The candidate sites: the sites file, or the water points of level_start
// from south to north and west to east; inside the region when given.
std::vector<Site> candidate_sites(const PlanArgs& p, const std::vector<Site>& from_file, const Domain& domain) {
  const std::vector<float>& r = p.region;
  const std::vector<float>& lon = domain.grid().lon;
  const std::vector<float>& lat = domain.grid().lat;
  if (!r.empty() && (r[1] < std::min(lon.front(), lon.back()) || r[0] > std::max(lon.front(), lon.back()) ||
                     r[3] < std::min(lat.front(), lat.back()) || r[2] > std::max(lat.front(), lat.back()))) {
    fail("--region: misses the grid of " + p.run.domain);
  }
  const std::vector<Site> all = p.sites.empty() ? water_sites(domain, p.run.level_start) : from_file;
  std::vector<Site> sites;
  std::copy_if(all.begin(), all.end(), std::back_inserter(sites), [&](const Site& s) { return inside(r, s); });
  if (sites.empty()) fail(p.region.empty() ? "no candidate site" : "--region: holds no candidate site");
  if (static_cast<std::size_t>(p.add) > sites.size()) {
    fail("--add " + std::to_string(p.add) + ": more than the " + std::to_string(sites.size()) + " candidate sites");
  }
  return sites;
}

std::string fixed(float v, int w, int d) {
  std::string t;
  textio::put_fixed(t, v, w, d);
  return t;
}

std::string report(const PlanArgs& p, const Inputs& in, const PlanResult& r,
                   const std::vector<io::PlannedRecord>& picked) {
  const std::vector<ObservationRecord>& obs = in.observations.records;
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  std::vector<std::size_t> order(obs.size());
  std::vector<std::int64_t> sum(obs.size(), 0);
  for (std::size_t n = 0; n < order.size(); ++n) {
    order[n] = n;
    for (std::size_t l = 0; l < layers; ++l) sum[n] += r.unique[n * layers + l];
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return sum[a] > sum[b]; });
  std::string t = "Critical observations of " + p.run.domain + " " + p.run.param + " (points covered by no other, of " +
                  std::to_string(obs.size()) + " kept)\n rank   line  latitude longitude kind    unique  per layer " +
                  std::to_string(r.k_first) + "-" + std::to_string(r.k_first + r.layers - 1) + "\n";
  for (std::size_t k = 0; k < std::min(order.size(), static_cast<std::size_t>(p.top)); ++k) {
    const std::size_t n = order[k];
    textio::put_int(t, static_cast<std::int64_t>(k + 1), 5);
    textio::put_int(t, obs[n].line, 7);
    t += fixed(obs[n].lat, 10, 4) + fixed(obs[n].lon, 10, 4);
    textio::put_int(t, obs[n].kind, 5);
    textio::put_int(t, sum[n], 10);
    t += " ";
    for (std::size_t l = 0; l < layers; ++l) textio::put_int(t, r.unique[n * layers + l], 7);
    t += "\n";
  }
  t += "Planned platforms of kind " + std::to_string(p.kind) + " (new points per layer, in all; coverage % after)\n";
  std::vector<std::int32_t> covered = r.covered_before;
  for (std::size_t s = 0; s < picked.size(); ++s) {
    textio::put_int(t, static_cast<std::int64_t>(s + 1), 5);
    t += fixed(picked[s].record.lat, 10, 4) + fixed(picked[s].record.lon, 10, 4) + "  new";
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
      const std::int32_t nwater = in.domain.nwater(r.k_first + static_cast<std::int32_t>(l));
      t += ' ';
      t += percent_text(nwater == 0 ? NAN : static_cast<float>(covered[l]) / static_cast<float>(nwater));
    }
    t += "\n";
  }
  return t;
}

std::vector<Site> sites_of(const PlanArgs& p) {
  if (p.sites.empty()) return {};
  try {
    return io::read_sites(p.sites);
  } catch (Error& e) {
    e.message = "--sites " + e.message;
    throw;
  }
}

void run_plan(const PlanArgs& p, Context& context) {
  check_request(p);
  const OptionDate date = parse_option_date("--day", p.day);
  const CalendarDay day = calendar_day(date);
  const std::vector<Site> from_file = sites_of(p);
  const Inputs in = read_inputs(p.run, context);
  if (in.list.lines + std::int64_t{p.add} > io::max_list_lines) {
    fail("--add " + std::to_string(p.add) + ": the list has " + std::to_string(in.list.lines) +
         " lines, and with the new records it must stay below " + std::to_string(io::max_list_lines + 1));
  }
  const float slot = assessment_slot(day);
  const Assessment a = assess(in.domain, in.observations, day_request(p.run, slot, false, context));
  PlanRequest request;
  request.add = p.add;
  request.threads = context.threads;
  std::vector<io::PlannedRecord> records;
  for (const Site& s : candidate_sites(p, from_file, in.domain)) {
    records.push_back(io::planned_record(s.lat, s.lon, day, p.kind));
    request.candidates.push_back(kelvo::placed(records.back().record, slot));
  }
  const PlanResult r = plan_network(in.domain, a, request);
  std::vector<io::PlannedRecord> picked;
  io::PlanFileContents c;
  std::string list = io::list_head(p.run.metadata_file, in.list.lines);
  for (std::size_t pick : r.picks) {
    picked.push_back(records[pick]);
    list += records[pick].line + "\n";
    c.pick_lat.push_back(records[pick].record.lat);
    c.pick_lon.push_back(records[pick].record.lon);
  }
  const std::string list_path = result_path(p.run, "plan", ".lst"), nc_path = result_path(p.run, "plan", ".nc");
  io::ListWriter writer;
  writer.create(list_path);
  writer.add_text(list);
  c.attributes = io::file_attributes(p.run.domain, p.run.param, p.run.level_start, p.run.level_end,
                                     iso_day(day, date.has_time), scale_dir_of(p.run), p.run.metadata_file,
                                     context.command_line, std::time(nullptr));
  c.domain = &in.domain;
  c.observations = in.observations.records;
  c.plan = &r;
  c.add_kind = p.kind;
  io::write_plan_file(nc_path, c);
  try {
    writer.commit();
  } catch (...) {
    std::filesystem::remove(nc_path);
    throw;
  }
  const std::string files = "List written to " + list_path + "\nMap written to " + nc_path + "\n";
  context.console.write(p.run.quiet ? list_path + "\n" + nc_path + "\n" : report(p, in, r, picked) + files);
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
