// kelvo plan: the observations and platforms whose loss would cost the most
// coverage, and the greedy placement of new platforms on a day or of fixed
// platforms over a period, written as a list kelvo_brino reads and a NetCDF
// map.
#include <algorithm>
#include <cmath>
#include <optional>

#include "core/assess.hpp"
#include "core/kinds.hpp"
#include "core/plan.hpp"
#include "io/metadata_list.hpp"
#include "io/index_observations.hpp"
#include "io/plan_file.hpp"
#include "io/sites.hpp"
#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "kelvo/dates.hpp"
#include "kelvo/plan_command.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

// One day (--day) or one period (--from and --to), never both.
void check_when(const PlanArgs& p) {
  const bool period = !p.from.empty() || !p.to.empty();
  if (!p.day.empty() && period) usage_error("--day: give either --day DATE or --from DATE --to DATE, not both");
  if (p.day.empty() && !period) usage_error("--day DATE, or --from DATE --to DATE, is required: the day or period planned");
  if (period && p.from.empty()) usage_error("--to: a period needs --from DATE too");
  if (period && p.to.empty()) usage_error("--from: a period needs --to DATE too");
  if (period) series_days(p.from, p.to, 1);  // a bad date or a reversed period
}

}  // namespace

void check_request(PlanArgs& p) {
  check_assessment_options(p.run);
  check_when(p);
  if (p.add_option != nullptr && p.add_option->count() == 0) {
    usage_error("--add is required: the number of new platforms");
  }
  if (p.add < 1) usage_error("--add " + std::to_string(p.add) + ": must be 1 or more");
  if (p.add > io::max_list_lines) {
    usage_error("--add " + std::to_string(p.add) + ": at most " + std::to_string(io::max_list_lines) + " new platforms");
  }
  require("--kind", p.kind_text);
  const std::optional<std::int32_t> kind = kind_from_text(p.kind_text);
  if (!kind) usage_error("--kind \"" + p.kind_text + "\": not a platform kind; the kinds are " + kind_choices());
  p.kind = *kind;
  const LayerRange layers = parse_layers(p.run.layers);
  if (p.kind == 2 && layers.first > 1) {
    usage_error("--kind " + p.kind_text + ": surface-only platforms count for layer 1 only; give --layers 1 or 1-B");
  }
  if (p.top < 0) usage_error("--top " + std::to_string(p.top) + ": may not be negative");
  if (p.site_step < 1) usage_error("--site-step " + std::to_string(p.site_step) + ": a whole number from 1");
  if (p.site_step > 1 && !p.sites.empty()) usage_error("--site-step: thins the grid's water points, not --sites");
  if (!p.region.empty() && (!(p.region[0] <= p.region[1]) || !(p.region[2] <= p.region[3]))) {
    usage_error("--region: WEST must not exceed EAST nor SOUTH exceed NORTH");
  }
}

namespace {

bool inside(const std::vector<float>& region, const Site& s) {
  return region.empty() || (s.lon >= region[0] && s.lon <= region[1] && s.lat >= region[2] && s.lat <= region[3]);
}

// The sites of the file that lie on the grid (a warning counts the others;
// an error when none does).
std::vector<Site> sites_on_grid(const PlanArgs& p, const std::vector<Site>& from_file, const Domain& domain,
                                Context& context) {
  const std::vector<float>& lon = domain.grid().lon;
  const std::vector<float>& lat = domain.grid().lat;
  const std::vector<float> box{std::min(lon.front(), lon.back()), std::max(lon.front(), lon.back()),
                               std::min(lat.front(), lat.back()), std::max(lat.front(), lat.back())};
  std::vector<Site> on;
  std::copy_if(from_file.begin(), from_file.end(), std::back_inserter(on), [&](const Site& s) { return inside(box, s); });
  const std::size_t off = from_file.size() - on.size();
  if (on.empty()) fail("--sites " + p.sites + ": none of its " + std::to_string(off) + " sites lies on the grid of " + domain.name());
  if (off > 0) {
    warn(context, p.run.command,
         "--sites " + p.sites + ": " + std::to_string(off) + " of " + std::to_string(from_file.size()) +
             " sites lie off the grid of " + domain.name() + " and are left out");
  }
  return on;
}

// The candidate sites: the sites file's on the grid, or the water points of
// the first layer from south to north and west to east; inside the region
// when given.
std::vector<Site> candidate_sites(const PlanArgs& p, const std::vector<Site>& from_file, const Domain& domain,
                                  Context& context) {
  const std::vector<float>& r = p.region;
  const std::vector<float>& lon = domain.grid().lon;
  const std::vector<float>& lat = domain.grid().lat;
  if (!r.empty() && (r[1] < std::min(lon.front(), lon.back()) || r[0] > std::max(lon.front(), lon.back()) ||
                     r[3] < std::min(lat.front(), lat.back()) || r[2] > std::max(lat.front(), lat.back()))) {
    fail("--region: misses the grid of " + domain.name());
  }
  const std::vector<Site> all =
      p.sites.empty() ? water_sites(domain, domain.first_layer(), p.site_step) : sites_on_grid(p, from_file, domain, context);
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

// Where a kept observation came from: its line, and the list's number
// (in the order of --obs) when there are several.
std::string line_of(const Inputs& in, const ObservationRecord& r) {
  const std::string line = std::to_string(r.line);
  return in.obs.size() > 1 ? std::to_string(r.source + 1) + ":" + line : line;
}

// The `count` entries of per-layer counts (entry x layer), the largest sum
// over the layers first (in `sum`), ties in their order.
std::vector<std::size_t> ranked(std::span<const std::int32_t> counts, std::size_t count, std::size_t layers,
                                std::vector<std::int64_t>& sum) {
  std::vector<std::size_t> order(count);
  sum.assign(count, 0);
  for (std::size_t n = 0; n < count; ++n) {
    order[n] = n;
    for (std::size_t l = 0; l < layers; ++l) sum[n] += counts[n * layers + l];
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return sum[a] > sum[b]; });
  return order;
}

std::string critical_observations(const PlanArgs& p, const Inputs& in, const PlanResult& r) {
  const std::vector<ObservationRecord>& obs = in.observations.records;
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  std::vector<std::int64_t> sum;
  const std::vector<std::size_t> order = ranked(r.unique, obs.size(), layers, sum);
  std::string t = "Critical observations of " + in.domain.name() + " " + p.run.param + " (points covered by no other, of " +
                  std::to_string(obs.size()) + " kept)\n rank     line  latitude longitude    unique  per layer " +
                  std::to_string(r.k_first) + "-" + std::to_string(r.k_first + r.layers - 1) + "  kind\n";
  for (std::size_t k = 0; k < std::min(order.size(), static_cast<std::size_t>(p.top)); ++k) {
    const std::size_t n = order[k];
    textio::put_int(t, static_cast<std::int64_t>(k + 1), 5);
    textio::put_text(t, line_of(in, obs[n]), 9);
    t += fixed(obs[n].lat, 10, 4) + fixed(obs[n].lon, 10, 4);
    textio::put_int(t, sum[n], 10);
    t += " ";
    for (std::size_t l = 0; l < layers; ++l) textio::put_int(t, r.unique[n * layers + l], 7);
    t += "  " + std::string(kind_name(obs[n].kind)) + "\n";
  }
  return t;
}

// The platform of a group: its id, or the line of a record without one.
std::string platform_name(const Inputs& in, const ObservationRecord& r) {
  const std::vector<std::string>& ids = in.observations.platforms;
  return r.platform != 0 && r.platform < ids.size() ? ids[r.platform] : "line " + line_of(in, r);
}

std::string critical_platforms(const PlanArgs& p, const Inputs& in, const PlanResult& r, const PlatformGroups& g) {
  const std::vector<ObservationRecord>& obs = in.observations.records;
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  std::vector<std::int64_t> sum;
  const std::vector<std::size_t> order = ranked(r.group_unique, g.size(), layers, sum);
  std::string t = "Critical platforms (points covered by no other platform's records, of " + std::to_string(g.size()) +
                  " platforms)\n rank  platform              records    unique  per layer " +
                  std::to_string(r.k_first) + "-" + std::to_string(r.k_first + r.layers - 1) + "  kind\n";
  for (std::size_t k = 0; k < std::min(order.size(), static_cast<std::size_t>(p.top)); ++k) {
    const std::size_t n = order[k];
    const ObservationRecord& first = obs[g.first[n]];
    textio::put_int(t, static_cast<std::int64_t>(k + 1), 5);
    t += "  ";
    std::string name = platform_name(in, first);
    if (name.size() < 20) name.resize(20, ' ');
    t += name;
    textio::put_int(t, g.records[n], 9);
    textio::put_int(t, sum[n], 10);
    t += " ";
    for (std::size_t l = 0; l < layers; ++l) textio::put_int(t, r.group_unique[n * layers + l], 7);
    t += "  " + std::string(kind_name(first.kind)) + "\n";
  }
  return t;
}

std::string planned_platforms(const PlanArgs& p, const Inputs& in, const PlanResult& r,
                              const std::vector<io::PlannedRecord>& picked) {
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  std::string t = "Planned platforms: " + std::string(kind_name(p.kind)) + " (kind " + std::to_string(p.kind) +
                  "); new points per layer, in all; coverage % after\n";
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

// The covered point-days of a period's plan per layer, before and after,
// and each pick's new point-days; coverage as the mean over the days.
std::string planned_period(const PlanArgs& p, const Inputs& in, const PlanResult& r,
                           const std::vector<io::PlannedRecord>& picked, const std::string& period) {
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  const auto mean_percent = [&](std::size_t l, std::int64_t point_days) {
    const std::int64_t all = std::int64_t{in.domain.nwater(r.k_first + static_cast<std::int32_t>(l))} * r.days;
    return percent_text(all == 0 ? NAN : static_cast<float>(static_cast<double>(point_days) / static_cast<double>(all)));
  };
  std::string t = "Covered point-days of " + in.domain.name() + " " + p.run.param + ", " + std::to_string(r.days) +
                  " days from " + period + "\n layer     before      after  mean % before  after\n";
  for (std::size_t l = 0; l < layers; ++l) {
    textio::put_int(t, r.k_first + static_cast<std::int32_t>(l), 6);
    textio::put_int(t, r.point_days_before[l], 11);
    textio::put_int(t, r.point_days_after[l], 11);
    textio::put_text(t, mean_percent(l, r.point_days_before[l]), 15);
    textio::put_text(t, mean_percent(l, r.point_days_after[l]), 7);
    t += "\n";
  }
  t += "Planned fixed platforms: " + std::string(kind_name(p.kind)) + " (kind " + std::to_string(p.kind) +
       "), present every day; new point-days per layer, in all\n";
  for (std::size_t s = 0; s < picked.size(); ++s) {
    textio::put_int(t, static_cast<std::int64_t>(s + 1), 5);
    t += fixed(picked[s].record.lat, 10, 4) + fixed(picked[s].record.lon, 10, 4) + "  new";
    std::int64_t all = 0;
    for (std::size_t l = 0; l < layers; ++l) {
      textio::put_int(t, r.pick_gain[s * layers + l], 9);
      all += r.pick_gain[s * layers + l];
    }
    textio::put_int(t, all, 11);
    t += "\n";
  }
  t += "The list's new records repeat (365 a year): they stand beyond the period too.\n";
  return t;
}

// -o PREFIX (a .nc or .lst ending dropped), else the default name.
std::string output_prefix(const PlanArgs& p, const std::string& stamp) {
  std::string prefix = output_path(p.run, "plan", stamp, "");
  for (const char* ending : {".nc", ".lst"}) {
    if (prefix.ends_with(ending) && prefix.size() > std::string_view(ending).size()) {
      prefix.resize(prefix.size() - std::string_view(ending).size());
    }
  }
  return prefix;
}

// The lines of every list that kelvo_brino reads, unchanged, in order.
std::string input_lines(const Inputs& in) {
  std::string text;
  for (std::size_t n = 0; n < in.obs.size(); ++n) text += io::list_head(in.obs[n], in.lists[n].lines);
  return text;
}

// The plan's list: the kept lists' lines, then the picks' records.
std::string plan_list(const Inputs& in, const PlanMade& made) {
  std::string list = input_lines(in);
  for (const io::PlannedRecord& r : made.picked) list += r.line + "\n";
  return list;
}

void run_plan(const CLI::App& command, PlanArgs& p, Context& context) {
  refuse_positional_form(command, p.run, context, "plan", "", true, false);
  check_request(p);
  const When when = when_of(p);
  const std::string prefix = output_prefix(p, when.stamp);
  const std::string list_path = prefix + ".lst", nc_path = prefix + ".nc";
  check_output("-o", list_path, false);
  check_output("-o", nc_path, false);
  for (const std::string& o : p.run.obs) {
    if (const io::ObservationFormat f = io::observation_format_of(o); f != io::ObservationFormat::list) {
      fail("--obs " + o + ": a plan writes its observations as a 52-column list, which the records of " +
           std::string(io::format_name(f)) + " cannot all be; give the network as a list (kelvo import -o FILE.lst)");
    }
  }
  const std::vector<Site> from_file = sites_of(p);
  const Inputs in = read_inputs(p.run, context);
  // kelvo reads a list of any length; kelvo_brino reads the first 99,999
  // lines of one, which a plan of a whole ocean's network passes.
  if (in.list_lines() + std::int64_t{p.add} > io::max_list_lines) {
    warn(context, p.run.command,
         "the plan's list will hold " + std::to_string(in.list_lines() + p.add) + " lines: kelvo reads it whole, "
         "kelvo_brino only its first " + std::to_string(io::max_list_lines));
  }
  const std::string told = when.period ? "any day from " + iso_day(when.days.front(), when.with_time) + " to " +
                                             iso_day(when.days.back(), when.with_time)
                                       : when.iso;
  warn_about_time_slots(p.run, in, when.slots, told, context);
  PlanMade made;
  make_plan(p, when, in.domain, in.observations, in.first, in.last, from_file, context, made);
  const PlanResult& r = made.result;
  const std::vector<io::PlannedRecord>& picked = made.picked;
  io::PlanFileContents& c = made.contents;
  const std::string list = plan_list(in, made);
  io::ListWriter writer;
  writer.create(list_path);
  writer.add_text(list);
  c.attributes = attributes_of(p.run, in, when.iso, context);
  // The list is put in place first, the NetCDF file last: a new plan file
  // never stands beside an older list, and a failure removes no older file.
  io::write_plan_file(nc_path, c, [&] { writer.commit(); });
  const std::string files = "List written to " + list_path + "\nMap written to " + nc_path + "\n";
  const std::string text =
      when.period ? planned_period(p, in, r, picked, c.period_first + " to " + c.period_last)
                  : critical_observations(p, in, r) + critical_platforms(p, in, r, made.groups) +
                        planned_platforms(p, in, r, picked);
  context.console.write(p.run.quiet ? list_path + "\n" + nc_path + "\n" : text + files);
}

}  // namespace

std::vector<Site> sites_of(const PlanArgs& p) {
  if (p.sites.empty()) return {};
  try {
    return io::read_sites(p.sites);
  } catch (Error& e) {
    e.message = "--sites " + e.message;
    throw;
  }
}

When when_of(const PlanArgs& p) {
  When w;
  w.period = p.day.empty();
  if (w.period) {
    w.days = series_days(p.from, p.to, 1);
    w.with_time = parse_option_date("--from", p.from).has_time;
    w.stamp = compact_day(w.days.front(), w.with_time) + "_" + compact_day(w.days.back(), w.with_time);
    w.iso = iso_day(w.days.front(), w.with_time) + "/" + iso_day(w.days.back(), w.with_time);
  } else {
    const OptionDate date = parse_assessment_date("--day", p.day);
    w.days = {calendar_day(date)};
    w.with_time = date.has_time;
    w.stamp = compact_day(w.days.front(), w.with_time);
    w.iso = iso_day(w.days.front(), w.with_time);
  }
  for (const CalendarDay& d : w.days) w.slots.push_back(assessment_slot(d));
  return w;
}

void make_plan(const PlanArgs& p, const When& when, const Domain& domain, const ObservationSet& observations,
               std::int32_t first, std::int32_t last, const std::vector<Site>& from_file, Context& context,
               PlanMade& made) {
  const float slot = when.slots.front();
  PlanRequest request;
  request.add = p.add;
  request.threads = context.threads;
  // One id in both files: the list's new records and the NetCDF file's
  // attributes name the run that wrote them.
  const std::string run_id = io::new_run_id();
  // A period's platforms repeat every day (365 a year); a day's once a year,
  // as the list has always had them: both are in every slot.
  const int frequency = when.period ? 365 : 1;
  std::vector<io::PlannedRecord>& records = made.records;
  for (const Site& s : candidate_sites(p, from_file, domain, context)) {
    records.push_back(io::planned_record(s.lat, s.lon, when.days.front(), p.kind, run_id, frequency));
    request.candidates.push_back(kelvo::placed(records.back().record, slot));
  }
  made.groups = platform_groups(observations.records);
  PlanResult& r = made.result;
  if (when.period) {
    r = plan_period(domain, observations.records, when.slots, first, last, request);
  } else {
    request.groups = made.groups.of;
    request.ngroups = made.groups.size();
    AssessRequest day;
    day.first_layer = first;
    day.last_layer = last;
    day.slot = slot;
    day.keep_decisions = true;
    day.threads = context.threads;
    r = plan_network(domain, assess(domain, observations, day), request);
  }
  io::PlanFileContents& c = made.contents;
  for (std::size_t pick : r.picks) {
    made.picked.push_back(records[pick]);
    c.pick_lat.push_back(records[pick].record.lat);
    c.pick_lon.push_back(records[pick].record.lon);
  }
  c.domain = &domain;
  c.observations = observations.records;
  c.platforms = observations.platforms;
  c.plan = &r;
  c.add_kind = p.kind;
  c.slot = slot;
  c.run_id = run_id;
  c.platforms_of = &made.groups;
  if (when.period) {
    c.period_first = iso_day(when.days.front(), when.with_time);
    c.period_last = iso_day(when.days.back(), when.with_time);
  }
}

void add_plan_command(CLI::App& app, Context& context) {
  auto p = std::make_shared<PlanArgs>();
  CLI::App* cmd = app.add_subcommand("plan", "rank the observations that matter and place new platforms where they "
                                             "cover the most");
  add_assessment_options(*cmd, p->run, context,
                         "PREFIX of the two files written, PREFIX.nc and PREFIX.lst (default: "
                         "<domain>_<param>_plan_<YYYYMMDD> here)");
  p->add_option = cmd->add_option("--add", p->add, "number of new platforms K; required")->type_name("K");
  cmd->add_option("--kind", p->kind_text, "kind of the new platforms, a code or a name: " + kind_choices() + "; required")
      ->type_name("KIND");
  cmd->add_option("--day", p->day, "assessment day, YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC); or give a period")
      ->type_name("DATE");
  cmd->add_option("--from", p->from, "first day of a period to plan fixed platforms over (instead of --day)")
      ->type_name("DATE");
  cmd->add_option("--to", p->to, "last day of the period (included)")->type_name("DATE");
  cmd->add_option("--region", p->region, "candidate sites only inside this box (degrees)")
      ->type_size(4)->expected(1)
      ->type_name("W E S N");
  cmd->add_option("--sites", p->sites, "candidate sites: a file in the list's columns (latitude and longitude)")
      ->type_name("FILE");
  cmd->add_option("--site-step", p->site_step,
                  "candidate sites on every N-th row and column of the grid's water points only (a whole ocean "
                  "has a million; N = 8 at 1/4 degree gives one each 2 degrees)")
      ->capture_default_str()
      ->type_name("N");
  cmd->add_option("--top", p->top, "number of critical observations and platforms reported")->capture_default_str()->type_name("N");
  set_help_footer(*cmd,
                  "  PREFIX.lst: the lines of the --obs lists that kelvo_brino reads, unchanged, then the K new\n"
                  "  records (kelvo_brino on it gives the planned coverage); PREFIX.nc (CF-1.8 NetCDF): covered\n"
                  "  points before and after per layer, each observation's unique coverage, the picks and what\n"
                  "  each newly covers, coverage(layer, lat, lon) 0 land, 1 water not covered, 2 water covered,\n"
                  "  3 water covered by the plan; each platform's unique coverage (platform_unique_points).\n"
                  "  With --from/--to the K picks are fixed platforms present every day, chosen for the covered\n"
                  "  point-days (water points x days) of the period: PREFIX.nc holds covered_point_days_before\n"
                  "  and _after per layer and each pick's new point-days; the list's new records repeat (365 a\n"
                  "  year), so they stand beyond the period too. PREFIX is -o, else\n"
                  "  <domain>_<param>_plan_<YYYYMMDD> (<FROM>_<TO> for a period). Both are written whole under\n"
                  "  temporary names, then renamed.",
                  "  kelvo plan --domain NsBs --scale-dir sample/BRINO_S --param salt --layers 1-5 \\\n"
                  "      --obs sample/metadata/NsBs_network_2004.lst --day 2004-01-01 --add 5 --kind float\n"
                  "  kelvo plan --domain NsBs --param temp --layers 1 --obs network.lst --day 2004-06-01 \\\n"
                  "      --add 3 --kind ferrybox --region -5 10 50 58 -o ferry_plan\n"
                  "  kelvo plan --domain NsBs --param salt --layers 1-2 --obs network.lst \\\n"
                  "      --from 2004-01-01 --to 2004-03-31 --add 3 --kind mooring\n"
                  "  kelvo plan --domain Globe025.nc --param temp --layers 1-10 --obs network_2025.csv \\\n"
                  "      --day 2025-06-15 --add 20 --kind mooring --site-step 8");
  cmd->callback([p, cmd, &context] { run_plan(*cmd, *p, context); });
}

}  // namespace kelvo::cli
