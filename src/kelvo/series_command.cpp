// kelvo series: one dated assessment per day from --from to --to, written
// as a NetCDF series with a short report of each layer's range.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
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

// Per layer: the minimum, mean and maximum effective coverage and the days of
// the minimum and the maximum (the first such day).
std::string report(const SeriesArgs& s, const Domain& domain, const SeriesResult& r,
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
    textio::put_int(text, domain.grid().level_number(k), 7);
    textio::put_int(text, domain.nwater(k), 10);
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
  const Inputs in = read_inputs(s.run, context);
  SeriesRequest request;
  request.first_layer = s.run.level_start;
  request.last_layer = s.run.level_end;
  for (const CalendarDay& d : days) request.slots.push_back(assessment_slot(d));
  request.by_kind = s.by_kind;
  request.threads = context.threads;
  request.progress = progress_bar(context, s, days.size());
  const SeriesResult r = assess_series(in.domain, in.observations.records, request);
  const std::string period = iso_day(days.front(), with_time) + "/" + iso_day(days.back(), with_time) + " every " +
                             std::to_string(s.step) + " days";
  const io::SeriesContents contents = io::series_contents(
      in.domain, r, request.slots,
      io::file_attributes(s.run.domain, s.run.param, s.run.level_start, s.run.level_end, period, scale_dir_of(s.run),
                          s.run.metadata_file, context.command_line, std::time(nullptr)));
  const std::string path = result_path(s.run, "cover_series", ".nc");
  io::write_series_file(path, contents);
  context.console.write(s.run.quiet ? path + "\n"
                                    : report(s, in.domain, r, days, with_time) + "Series written to " + path + "\n");
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
