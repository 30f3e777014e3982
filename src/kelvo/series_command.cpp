// kelvo series: one dated assessment per day from --from to --to, written
// as a NetCDF series with a short report of each layer's range.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "kelvo/series.hpp"
#include "kelvo_mod/parallel.hpp"
#include "kelvo_map/map_assembly.hpp"
#include "kelvo_map/series_writer.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

struct SeriesArgs {
  AssessmentArgs run;
  std::string from;
  std::string to;
  int step = 1;
  bool by_kind = false;
};

// A progress bar on standard error when it is a terminal.
struct ProgressBar {
  std::FILE* sink = nullptr;
  std::size_t total = 0;
  void operator()(std::size_t done) const {
    if (sink == nullptr) return;
    const std::size_t width = 40;
    const std::size_t filled = total == 0 ? width : done * width / total;
    std::fprintf(sink, "\rkelvo series: [%s%s] %zu/%zu days", std::string(filled, '#').c_str(),
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

SeriesContents series_contents(const DomainState& ds, const SeriesResult& r, const std::vector<float>& slots,
                               MapAttributes attributes) {
  SeriesContents c;
  c.attributes = std::move(attributes);
  c.lon = ds.lon.data;
  c.lat = ds.lat.data;
  for (std::int32_t k = ds.level_start; k <= ds.level_end; ++k) {
    c.layer.push_back(k);
    c.levnum.push_back(ds.levnum(k));
    c.nwater.push_back(ds.Nwater(k));
  }
  // Day 1.0 of the tool's day numbers is 1 January 2001 at 00:00.
  for (float slot : slots) c.time_days.push_back(static_cast<double>(slot) - 1.0);
  c.covered_points = r.covered_points;
  c.effective_coverage = r.effective_coverage;
  c.observations_in_slot = r.observations_in_slot;
  const std::size_t plane = static_cast<std::size_t>(std::int64_t{ds.nlon} * ds.nlat);
  c.covered_days_fraction.assign(r.covered_days.size(), series_fill);
  for (std::size_t l = 0; l < c.layer.size(); ++l) {
    const std::int32_t* water = ds.water_mask.plane(c.layer[l], 1);
    for (std::size_t q = 0; q < plane; ++q) {
      if (water[q] != 1) continue;
      c.covered_days_fraction[l * plane + q] =
          static_cast<float>(r.covered_days[l * plane + q]) / static_cast<float>(slots.size());
    }
  }
  c.kind = r.kinds;
  c.coverage_by_kind = r.coverage_by_kind;
  return c;
}

// Per layer: the minimum, mean and maximum effective coverage and the days of
// the minimum and the maximum (the first such day).
std::string report(const SeriesArgs& s, const DomainState& ds, const SeriesResult& r,
                   const std::vector<CalendarDay>& days, bool with_time) {
  std::string text = "Effective coverage of " + s.run.domain + " " + s.run.param + ", " +
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
    textio::put_int(text, ds.levnum(k), 7);
    textio::put_int(text, ds.Nwater(k), 10);
    textio::put_text(text, percent_text(r.effective_coverage[lo * layers + l]), 8);
    text += "  " + iso_day(days[lo], with_time);
    textio::put_text(text, percent_text(static_cast<float>(sum / static_cast<double>(days.size()))), 10);
    textio::put_text(text, percent_text(r.effective_coverage[hi * layers + l]), 8);
    text += "  " + iso_day(days[hi], with_time) + "\n";
  }
  return text;
}

void run_series(const SeriesArgs& s, Context& context) {
  const std::vector<CalendarDay> days = series_days(s.from, s.to, s.step);
  const bool with_time = parse_option_date("--from", s.from).has_time;
  run_assessment_of(s.run, days.front(), nullptr, context, [&](Reporter& out, DomainState& ds) {
    SeriesRequest request;
    for (const CalendarDay& d : days) request.slots.push_back(assessment_slot(d, out.console));
    request.by_kind = s.by_kind;
    request.threads = thread_count_from_environment();
    request.progress = progress_bar(context, s, days.size());
    const SeriesResult r = assess_series(ds, request);
    const std::string period = iso_day(days.front(), with_time) + "/" + iso_day(days.back(), with_time) +
                               " every " + std::to_string(s.step) + " days";
    const SeriesContents contents = series_contents(
        ds, r, request.slots, map_attributes(ds, context.command_line, std::time(nullptr), period));
    const std::string path = result_path(s.run, "cover_series", ".nc");
    std::string reason;
    if (!write_series_file(path, contents, reason)) {
      throw Failure{"series not written (" + reason + "): " + path};
    }
    context.console.write(s.run.quiet ? path + "\n" : report(s, ds, r, days, with_time) + "Series written to " + path + "\n");
  });
}

}  // namespace

void add_series_command(CLI::App& app, Context& context) {
  auto s = std::make_shared<SeriesArgs>();
  CLI::App* cmd = app.add_subcommand("series", "write the coverage of every day of a period (NetCDF)");
  add_assessment_arguments(*cmd, s->run, context);
  cmd->add_option("--from", s->from, "first day, YYYY-MM-DD or YYYY-MM-DDTHH:MM")->required();
  cmd->add_option("--to", s->to, "last day (included)")->required();
  cmd->add_option("--step", s->step, "days between assessments")->capture_default_str();
  cmd->add_flag("--by-kind", s->by_kind, "also the coverage of each platform kind alone");
  cmd->callback([s, &context] { run_series(*s, context); });
}

}  // namespace kelvo::cli
