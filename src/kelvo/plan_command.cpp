// kelvo plan: the observations whose loss would cost the most coverage, and
// the greedy placement of new platforms, written as a list kelvo_brino reads
// and a NetCDF map.
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
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

struct PlanArgs {
  AssessmentArgs run;
  std::int32_t add = 0;
  const CLI::Option* add_option = nullptr;
  std::string kind_text;
  std::int32_t kind = 0;
  std::string day;
  std::vector<float> region;  // west east south north
  std::string sites;
  std::int32_t top = 10;
};

// The request's values, judged without reading a file; sets p.kind.
void check_request(PlanArgs& p) {
  check_assessment_options(p.run);
  require("--day", p.day);
  if (p.add_option->count() == 0) usage_error("--add is required: the number of new platforms");
  if (p.add < 1) usage_error("--add " + std::to_string(p.add) + ": must be 1 or more");
  require("--kind", p.kind_text);
  const std::optional<std::int32_t> kind = kind_from_text(p.kind_text);
  if (!kind) usage_error("--kind \"" + p.kind_text + "\": not a platform kind; the kinds are " + kind_choices());
  p.kind = *kind;
  const LayerRange layers = parse_layers(p.run.layers);
  if (p.kind == 2 && layers.first > 1) {
    usage_error("--kind " + p.kind_text + ": surface-only platforms count for layer 1 only; give --layers 1 or 1-B");
  }
  if (p.top < 0) usage_error("--top " + std::to_string(p.top) + ": may not be negative");
  if (!p.region.empty() && (!(p.region[0] <= p.region[1]) || !(p.region[2] <= p.region[3]))) {
    usage_error("--region: WEST must not exceed EAST nor SOUTH exceed NORTH");
  }
}

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
  if (on.empty()) fail("--sites " + p.sites + ": none of its " + std::to_string(off) + " sites lies on the grid of " + p.run.domain);
  if (off > 0) {
    warn(context, p.run.command,
         "--sites " + p.sites + ": " + std::to_string(off) + " of " + std::to_string(from_file.size()) +
             " sites lie off the grid of " + p.run.domain + " and are left out");
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
    fail("--region: misses the grid of " + p.run.domain);
  }
  const std::vector<Site> all =
      p.sites.empty() ? water_sites(domain, domain.first_layer()) : sites_on_grid(p, from_file, domain, context);
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
  t += "Planned platforms: " + std::string(kind_name(p.kind)) + " (kind " + std::to_string(p.kind) +
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

// -o PREFIX (a .nc or .lst ending dropped), else the default name.
std::string output_prefix(const PlanArgs& p, const CalendarDay& day, bool with_time) {
  std::string prefix = output_path(p.run, "plan", compact_day(day, with_time), "");
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

std::vector<Site> sites_of(const PlanArgs& p) {
  if (p.sites.empty()) return {};
  try {
    return io::read_sites(p.sites);
  } catch (Error& e) {
    e.message = "--sites " + e.message;
    throw;
  }
}

void run_plan(const CLI::App& command, PlanArgs& p, Context& context) {
  refuse_positional_form(command, p.run, context, "plan", "", true, false);
  check_request(p);
  const OptionDate date = parse_assessment_date("--day", p.day);
  const CalendarDay day = calendar_day(date);
  const std::string prefix = output_prefix(p, day, date.has_time);
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
  if (in.list_lines() + std::int64_t{p.add} > io::max_list_lines) {
    fail("--add " + std::to_string(p.add) + ": the lists have " + std::to_string(in.list_lines()) +
         " lines, and with the new records the plan's list must stay below " + std::to_string(io::max_list_lines + 1));
  }
  const float slot = assessment_slot(day);
  const std::string iso = iso_day(day, date.has_time);
  warn_about_time_slots(p.run, in, std::span<const float>(&slot, 1), iso, context);
  const Assessment a = assess(in.domain, in.observations, day_request(in, slot, false, context));
  PlanRequest request;
  request.add = p.add;
  request.threads = context.threads;
  // One id in both files: the list's new records and the NetCDF file's
  // attributes name the run that wrote them.
  const std::string run_id = io::new_run_id();
  std::vector<io::PlannedRecord> records;
  for (const Site& s : candidate_sites(p, from_file, in.domain, context)) {
    records.push_back(io::planned_record(s.lat, s.lon, day, p.kind, run_id));
    request.candidates.push_back(kelvo::placed(records.back().record, slot));
  }
  const PlanResult r = plan_network(in.domain, a, request);
  std::vector<io::PlannedRecord> picked;
  io::PlanFileContents c;
  std::string list = input_lines(in);
  for (std::size_t pick : r.picks) {
    picked.push_back(records[pick]);
    list += records[pick].line + "\n";
    c.pick_lat.push_back(records[pick].record.lat);
    c.pick_lon.push_back(records[pick].record.lon);
  }
  io::ListWriter writer;
  writer.create(list_path);
  writer.add_text(list);
  c.attributes = attributes_of(p.run, in, iso, context);
  c.domain = &in.domain;
  c.observations = in.observations.records;
  c.platforms = in.observations.platforms;
  c.plan = &r;
  c.add_kind = p.kind;
  c.slot = slot;
  c.run_id = run_id;
  // The list is put in place first, the NetCDF file last: a new plan file
  // never stands beside an older list, and a failure removes no older file.
  io::write_plan_file(nc_path, c, [&] { writer.commit(); });
  const std::string files = "List written to " + list_path + "\nMap written to " + nc_path + "\n";
  context.console.write(p.run.quiet ? list_path + "\n" + nc_path + "\n" : report(p, in, r, picked) + files);
}

}  // namespace

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
  cmd->add_option("--day", p->day, "assessment day, YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC); required")
      ->type_name("DATE");
  cmd->add_option("--region", p->region, "candidate sites only inside this box (degrees)")
      ->type_size(4)->expected(1)
      ->type_name("W E S N");
  cmd->add_option("--sites", p->sites, "candidate sites: a file in the list's columns (latitude and longitude)")
      ->type_name("FILE");
  cmd->add_option("--top", p->top, "number of critical observations reported")->capture_default_str()->type_name("N");
  set_help_footer(*cmd,
                  "  PREFIX.lst: the lines of the --obs lists that kelvo_brino reads, unchanged, then the K new\n"
                  "  records (kelvo_brino on it gives the planned coverage); PREFIX.nc (CF-1.8 NetCDF): covered\n"
                  "  points before and after per layer, each observation's unique coverage, the picks and what\n"
                  "  each newly covers, coverage(layer, lat, lon) 0 land, 1 water not covered, 2 water covered,\n"
                  "  3 water covered by the plan. PREFIX is -o, else <domain>_<param>_plan_<YYYYMMDD>. Both are\n"
                  "  written whole under temporary names, then renamed.",
                  "  kelvo plan --domain NsBs --scale-dir sample/BRINO_S --param salt --layers 1-5 \\\n"
                  "      --obs sample/metadata/NsBs_network_2004.lst --day 2004-01-01 --add 5 --kind float\n"
                  "  kelvo plan --domain NsBs --param temp --layers 1 --obs network.lst --day 2004-06-01 \\\n"
                  "      --add 3 --kind ferrybox --region -5 10 50 58 -o ferry_plan");
  cmd->callback([p, cmd, &context] { run_plan(*cmd, *p, context); });
}

}  // namespace kelvo::cli
