#include "kelvo_brino/driver.hpp"

#include "kelvo_brino/command_line.hpp"
#include "kelvo_brino/metadata.hpp"
#include "kelvo_brino/scale_fields.hpp"
#include "kelvo_brino/summary.hpp"
#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/grid_cfg.hpp"
#include "kelvo_mod/water_points.hpp"

namespace kelvo {

void run_assessment(Reporter& out, DomainState& ds, std::span<const std::string> args, Evaluation how,
                    CoverageMaps* maps, int threads) {
  get_args(out, ds, args);
  read_layer_bounds(out, ds);
  read_grid_cfg(out, ds);
  check_layer_range(out, ds);
  alloc_domain(out, ds);
  get_grid(out, ds, threads);
  ds.nobs_sel = read_metadata(out, ds);
  count_water_points(out, ds);
  assess_coverage(out, ds, how, maps, threads);
}

int run_kelvo_brino(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console,
                    Evaluation how, int threads) {
  return run_guarded(dirs, console, [&](Reporter& out, DomainState& ds) {
    run_assessment(out, ds, args, how, nullptr, threads);
    write_summary(out, ds);
  });
}

}  // namespace kelvo
