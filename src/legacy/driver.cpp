#include "legacy/driver.hpp"

#include <array>
#include <exception>
#include <thread>
#include <vector>

#include "core/calendar.hpp"
#include "core/error.hpp"
#include "legacy/command_line.hpp"
#include "legacy/summary.hpp"
#include "textio/fields.hpp"

namespace kelvo::legacy {

namespace {

std::string_view held(std::string_view setting) { return textio::trim_right(setting); }

// The scale and exponent files of the run, their names held as the tool held them.
io::ScaleFiles run_scale_files(const RunState& s) {
  const std::string_view dir = held(s.scale_dir), domain = held(s.settings.domain), param = held(s.settings.param);
  io::ScaleFiles f;
  f.first_layer = s.settings.level_start;
  for (std::int32_t k = s.settings.level_start; k <= s.settings.level_end; ++k) {
    std::array<std::string, 3>& names = f.layers.emplace_back();
    for (int m = 0; m < 3; ++m) {
      const std::int32_t level = s.grid.level_number(k);
      names[static_cast<std::size_t>(m)] = held_name(io::scale_file_path(dir, domain, param, level, m));
    }
  }
  for (int m = 0; m < 3; ++m) {
    f.exponents[static_cast<std::size_t>(m)] = held_name(io::exponent_file_path(dir, domain, param, m));
  }
  return f;
}

// Checks that `count` values of type T fit in memory, as the arrays of the
// replaced tool were allocated.
template <typename T>
void check_array(std::string_view array, std::uint64_t count) {
  require_memory("alloc_domain", array, count, sizeof(T), std::vector<T>().max_size());
}

void read_list(RunState& s) {
  s.observations = io::read_list(std::string(held(s.settings.metadata_file)), parameter_named(held(s.settings.param)),
                                 &s.list_report);
}

// The list's lines, and its failure if it has one: a date that cannot be
// read fails after the lines before it.
void finish_list(Printer& out, RunState& s, const std::exception_ptr& failure) {
  if (!failure) {
    out.observation_list(s, true);
    return;
  }
  try {
    std::rethrow_exception(failure);
  } catch (const Error& e) {
    if (e.code == ErrorCode::bad_date) out.observation_list(s, false);
    throw;
  }
}

}  // namespace

void read_grid_cfg(Printer& out, RunState& s) {
  s.grid = io::read_grid_config(held_name(grid_cfg_file_name(s.scale_dir, s.settings.domain)));
  out.grid(s.grid);
  s.jday_start = day_number(1, 1, 2004, 0, 0);
  s.jday_end = day_number(12, 31, 2006, 0, 0);
  s.slot = assessment_slot(legacy_assessment_day);
  out.time_window(s.jday_start, s.jday_end);
}

void alloc_domain(Printer& out, RunState& s) {
  const Grid& g = s.grid;
  const std::int64_t layers = layer_count(s.settings.level_start, s.settings.level_end);
  check_array<float>("power", element_count({g.nz, 3}));
  check_array<float>("scale", element_count({g.nlon, g.nlat, layers, 3}));
  out.allocation(g);
  check_array<std::int32_t>("water_mask", element_count({g.nlon, g.nlat, layers}));
  check_array<float>("Kpct", element_count({g.nz}));
}

void get_grid(Printer& out, RunState& s, int threads) {
  s.scale_files = run_scale_files(s);
  io::ScaleReport report;
  try {
    s.scales = io::read_scale_fields(s.scale_files, s.grid, threads, &report);
  } catch (...) {
    out.scale_files(report, s.scale_files);
    throw;
  }
  out.scale_files(report, s.scale_files);
}

void read_metadata(Printer& out, RunState& s) {
  std::exception_ptr failure;
  try {
    read_list(s);
  } catch (...) {
    failure = std::current_exception();
  }
  finish_list(out, s, failure);
}

void read_scales_and_metadata(Printer& out, RunState& s, int threads) {
  if (threads <= 1) {
    get_grid(out, s, threads);
    read_metadata(out, s);
    return;
  }
  // The list is read while the scale files are: the two fill different
  // parts of the state; its lines follow.
  std::exception_ptr list_failure;
  {
    const std::jthread list_reader([&] {
      try {
        read_list(s);
      } catch (...) {
        list_failure = std::current_exception();
      }
    });
    get_grid(out, s, threads);
  }  // the list is read when the reader is joined here
  finish_list(out, s, list_failure);
}

void count_water_points(Printer& out, RunState& s) {
  s.domain = Domain::build(std::string(held(s.settings.domain)), std::string(held(s.settings.param)), s.grid,
                           std::move(s.scales));
  out.water_points(s);
}

void assess_coverage(Printer& out, RunState& s, const AssessmentOptions& options) {
  AssessRequest request;
  request.first_layer = s.settings.level_start;
  request.last_layer = s.settings.level_end;
  request.slot = s.slot;
  request.keep_decisions = options.keep_decisions;
  request.by_kind = options.by_kind;
  request.how = options.how;
  request.threads = options.threads;
  // The records and what reading them saw are printed: from here the run
  // needs only the observations placed at the slot.
  std::vector<Observation> placed = place_at(s.observations.records, s.slot);
  s.observations = ObservationSet{};
  s.list_report = io::ListReport{};
  s.assessment = assess(s.domain, std::move(placed), request);
  out.layer_results(s.assessment);
}

void run_stages(Printer& out, RunState& s, const AssessmentOptions& options) {
  read_grid_cfg(out, s);
  check_layer_range(s.grid, s.settings.level_start, s.settings.level_end);
  alloc_domain(out, s);
  read_scales_and_metadata(out, s, options.threads);
  count_water_points(out, s);
  assess_coverage(out, s, options);
}

void run_assessment(Printer& out, RunState& s, std::span<const std::string> args, const AssessmentOptions& options) {
  get_args(out, s.settings, args);
  read_layer_bounds(out, s.settings);
  check_name_settings(s.settings);
  run_stages(out, s, options);
}

int run_kelvo_brino(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console,
                    Evaluation how, int threads) {
  return run_guarded(dirs, console, [&](Printer& out, RunState& s) {
    run_assessment(out, s, args, AssessmentOptions{how, false, false, threads});
    write_summary(s);
  });
}

}  // namespace kelvo::legacy
