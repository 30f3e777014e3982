// kelvo series: one dated assessment per day from --from to --to, written
// as a NetCDF series with a short report of each layer's range.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/series.hpp"
#include "io/series_file.hpp"
#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "kelvo/dates.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

struct SeriesArgs {
  AssessmentArgs run;
  std::string from;
  std::string to;
  int step = 1;
  bool by_kind = false;
  std::string day;  // kelvo_brino's form may carry one; a series has none
};

// A progress bar on standard error when it is a terminal.
struct ProgressBar {
  std::FILE* sink = nullptr;
  std::size_t total = 0;
  void operator()(std::size_t done) const {
    if (sink == nullptr) return;
    const std::size_t width = 40;
    const std::size_t filled = total == 0 ? width : done * width / total;
    std::fprintf(sink, "\rkelvo series: [%s%s] %zu/%zu days of layers", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), done, total);
    if (done == total) std::fputc('\n', sink);
    std::fflush(sink);
  }
};

ProgressBar progress_bar(const Context& context, const SeriesArgs& s, std::size_t total) {
  std::FILE* err = context.console.err_sink;
  const bool terminal = err != nullptr && ::isatty(::fileno(err)) == 1;
  return ProgressBar{terminal && !s.run.quiet && total > 1 ? err : nullptr, total};
}

// Per layer: the minimum, mean and maximum effective coverage and the days of
// the minimum and the maximum (the first such day).
// The days without any observation in their time slot, when there are some.
void warn_about_empty_days(const SeriesArgs& s, const SeriesResult& r, Context& context) {
  const std::int64_t empty = std::count(r.observations_in_slot.begin(), r.observations_in_slot.end(), 0);
  if (empty == 0 || empty == static_cast<std::int64_t>(r.observations_in_slot.size())) return;
  warn(context, s.run.command,
       std::to_string(empty) + " of " + std::to_string(r.observations_in_slot.size()) +
           " days have no observation in their time slot (observations_in_slot is 0)");
}

std::string report(const SeriesArgs& s, const Domain& domain, const SeriesResult& r,
                   std::span<const std::int32_t> nwater, const std::vector<CalendarDay>& days, bool with_time) {
  std::string text = "Effective coverage of " + domain.name() + " " + s.run.param + ", " +
                     std::to_string(days.size()) + " days from " + iso_day(days.front(), with_time) + " to " +
                     iso_day(days.back(), with_time) + "\n";
  text += " layer  level     water   min %  on            mean %   max %  on\n";
  const std::size_t layers = static_cast<std::size_t>(r.layers);
  for (std::size_t l = 0; l < layers; ++l) {
    std::size_t lo = 0, hi = 0;
    double sum = 0.0;
    for (std::size_t d = 0; d < days.size(); ++d) {
      const float v = r.effective_coverage[d * layers + l];
      sum += static_cast<double>(v);
      if (v < r.effective_coverage[lo * layers + l]) lo = d;
      if (v > r.effective_coverage[hi * layers + l]) hi = d;
    }
    const std::int32_t k = r.k_first + static_cast<std::int32_t>(l);
    textio::put_int(text, k, 6);
    textio::put_int(text, domain.grid().level_number(k), 7);
    textio::put_int(text, nwater[l], 10);
    textio::put_text(text, percent_text(r.effective_coverage[lo * layers + l]), 8);
    text += "  " + iso_day(days[lo], with_time);
    textio::put_text(text, percent_text(static_cast<float>(sum / static_cast<double>(days.size()))), 10);
    textio::put_text(text, percent_text(r.effective_coverage[hi * layers + l]), 8);
    text += "  " + iso_day(days[hi], with_time) + "\n";
  }
  return text;
}

void run_series(const CLI::App& command, const SeriesArgs& s, Context& context) {
  refuse_positional_form(command, s.run, context, "cover_series", ".nc", false, false);
  check_assessment_options(s.run);
  if (!s.day.empty()) usage_error("--day: a series runs --from DATE --to DATE");
  require("--from", s.from);
  require("--to", s.to);
  const std::vector<CalendarDay> days = series_days(s.from, s.to, s.step);
  const bool with_time = parse_option_date("--from", s.from).has_time;
  const std::string path = output_path(s.run, "series",
                                       compact_day(days.front(), with_time) + "_" + compact_day(days.back(), with_time),
                                       ".nc");
  check_output("-o", path, false);
  // The domain is read, assessed and written a layer at a time, each
  // layer's arrays the sizes of the last's: kept in the heap once freed
  // (up to 4 MiB each, a plane of a quarter-degree grid), they serve the
  // next layer without their pages being faulted in and cleared again,
  // which took a tenth of a year's series.
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  const Inputs in = read_inputs(s.run, context, true);
  SeriesRequest request;
  request.first_layer = in.first;
  request.last_layer = in.last;
  for (const CalendarDay& d : days) request.slots.push_back(assessment_slot(d));
  const std::string period = iso_day(days.front(), with_time) + " to " + iso_day(days.back(), with_time);
  warn_about_time_slots(s.run, in, request.slots, "any day from " + period, context);
  request.by_kind = s.by_kind;
  request.threads = context.threads;
  SeriesResult r;
  r.k_first = in.first;
  r.layers = layer_count(in.first, in.last);
  request.progress = progress_bar(context, s, days.size() * static_cast<std::size_t>(r.layers));
  SeriesAssessor series(in.observations.records, request);
  r.kinds = series.kinds();
  r.observations_in_slot = series.observations_in_slot();
  warn_about_empty_days(s, r, context);
  const std::string span = iso_day(days.front(), with_time) + "/" + iso_day(days.back(), with_time) + " every " +
                           std::to_string(s.step) + " days";
  io::SeriesContents contents = io::series_frame(in.domain.grid(), r, request.slots, attributes_of(s.run, in, span, context));
  // A series spends far longer on a layer than on reading it: one layer at a time.
  LayerStream stream(in, context.threads, false);
  io::write_series_file_by_layer(path, contents, [&](std::size_t n, std::span<float> fractions) {
    const std::int32_t k = in.first + static_cast<std::int32_t>(n);
    const Domain domain = stream.next();
    if (s.run.verbose) context.console.write(water_text(domain, k));
    const SeriesLayer one = series.layer(domain, k);
    contents.nwater[n] = domain.nwater(k);
    spread_layer(one, n, contents.layer.size(), contents.covered_points, contents.effective_coverage,
                 contents.coverage_by_kind);
    io::covered_days_fraction(domain.layer(k).water, one.covered_days, days.size(), fractions);
  });
  r.effective_coverage = contents.effective_coverage;
  context.console.write(s.run.quiet ? path + "\n"
                                    : report(s, in.domain, r, contents.nwater, days, with_time) +
                                          "Series written to " + path + "\n");
}

}  // namespace

void add_series_command(CLI::App& app, Context& context) {
  auto s = std::make_shared<SeriesArgs>();
  CLI::App* cmd = app.add_subcommand("series", "the coverage of every day of a period (NetCDF), with each layer's range");
  add_assessment_options(*cmd, s->run, context,
                         "the series file (default: <domain>_<param>_series_<FROM>_<TO>.nc here)");
  cmd->add_option("--from", s->from, "first day, YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC); required")->type_name("DATE");
  cmd->add_option("--to", s->to, "last day (included); required")->type_name("DATE");
  cmd->add_option("--step", s->step, "days between assessments")->capture_default_str()->type_name("DAYS");
  cmd->add_flag("--by-kind", s->by_kind, "also the coverage of each platform kind alone, every day");
  cmd->add_option("--day", s->day)->group("");
  set_help_footer(*cmd,
                  "  -o FILE, or <domain>_<param>_series_<FROM>_<TO>.nc (days as YYYYMMDD) in the current directory\n"
                  "  (CF-1.8 NetCDF: time, covered_points(time, layer), effective_coverage(time, layer),\n"
                  "  observations_in_slot(time), covered_days_fraction(layer, lat, lon); with --by-kind\n"
                  "  coverage_by_kind(time, kind, layer)). Written whole under a temporary name, then renamed.",
                  "  kelvo series --domain NsBs --scale-dir sample/BRINO_S --param salt --layers 1-5 \\\n"
                  "      --obs sample/metadata/NsBs_network_2004Q1.lst --from 2004-01-01 --to 2004-03-31 --by-kind\n"
                  "  kelvo series --domain NsBs --param temp --obs network.lst --from 2004-01-01 --to 2004-12-31 --step 7");
  cmd->callback([s, cmd, &context] { run_series(*cmd, *s, context); });
}

}  // namespace kelvo::cli
