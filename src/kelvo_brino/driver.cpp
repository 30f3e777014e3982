#include "kelvo_brino/driver.hpp"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <thread>

#include "kelvo_brino/command_line.hpp"
#include "kelvo_brino/metadata.hpp"
#include "kelvo_brino/scale_fields.hpp"
#include "kelvo_brino/summary.hpp"
#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/grid_cfg.hpp"
#include "kelvo_mod/water_points.hpp"
#include "textio/fields.hpp"

namespace kelvo {

namespace {

// What reading the metadata list on a console of its own left: its lines,
// the number of observations kept, and the failure that ended it, if any.
struct MetadataOutcome {
  textio::Console console;
  std::int32_t nobs = 0;
  std::exception_ptr failure;
};

// Room for the lines a list prints: a few dozen bytes for each of its
// (at most maxnf) records, bounded by the file's size.
std::size_t list_text_room(const DomainState& ds) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(std::string(textio::trim_right(ds.metadata_file)), ec);
  constexpr std::uintmax_t bound = std::uintmax_t{16} << 20;
  return ec ? 0 : static_cast<std::size_t>(std::min<std::uintmax_t>(2 * size, bound));
}

// The scale files and, on a thread of its own meanwhile, the metadata list
// (the two read and fill different parts of the state). The list's lines
// follow those of the scale and exponent files, and a failure of those
// files ends the run before anything of the list is shown, as when the two
// are read one after the other.
void read_scales_and_metadata(Reporter& out, DomainState& ds, int threads) {
  if (threads <= 1) {
    get_grid(out, ds, threads);
    ds.nobs_sel = read_metadata(out, ds);
    return;
  }
  MetadataOutcome list;
  // The list's lines wait for those of the scale files: room for them taken
  // at once (address space only, up to a bound) spares copying as they grow.
  list.console.out.reserve(list_text_room(ds));
  {
    const std::jthread reader([&] {
      Reporter list_out{list.console};
      try {
        list.nobs = read_metadata(list_out, ds);
      } catch (...) {
        list.failure = std::current_exception();
      }
    });
    get_grid(out, ds, threads);
  }  // the list is read when the reader is joined here
  // Of the list, only read_records writes to standard error, before any of its standard output.
  out.write_error(list.console.err);
  out.write(list.console.out);
  if (list.failure) std::rethrow_exception(list.failure);
  ds.nobs_sel = list.nobs;
}

}  // namespace

void run_assessment(Reporter& out, DomainState& ds, std::span<const std::string> args, Evaluation how,
                    CoverageMaps* maps, int threads) {
  get_args(out, ds, args);
  read_layer_bounds(out, ds);
  check_name_settings(out, ds);
  run_stages(out, ds, AssessmentOptions{how, maps, nullptr, threads});
}

void run_stages(Reporter& out, DomainState& ds, const AssessmentOptions& options) {
  read_grid_cfg(out, ds);
  if (options.day != nullptr) ds.jdayaxis(1) = assessment_slot(*options.day, out.console);
  check_layer_range(out, ds);
  alloc_domain(out, ds);
  read_scales_and_metadata(out, ds, options.threads);
  count_water_points(out, ds);
  assess_coverage(out, ds, options.how, options.maps, options.threads);
}

int run_kelvo_brino(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console,
                    Evaluation how, int threads) {
  return run_guarded(dirs, console, [&](Reporter& out, DomainState& ds) {
    run_assessment(out, ds, args, how, nullptr, threads);
    write_summary(out, ds);
  });
}

}  // namespace kelvo
