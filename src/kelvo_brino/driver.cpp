#include "kelvo_brino/driver.hpp"

#include "kelvo_brino/command_line.hpp"
#include "kelvo_brino/metadata.hpp"
#include "kelvo_brino/scale_fields.hpp"
#include "kelvo_brino/summary.hpp"
#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/grid_cfg.hpp"
#include "kelvo_mod/water_points.hpp"

namespace kelvo {

void run_assessment(DomainState& ds, std::span<const std::string> args, Evaluation how,
                    CoverageMaps* maps) {
  get_args(ds, args);
  read_layer_bounds(ds);
  read_grid_cfg(ds, ds.domain);
  check_layer_range(ds);
  alloc_domain(ds);
  get_grid(ds, ds.domain, ds.param);
  ds.nobs_sel = read_metadata(ds, ds.metadata_file);
  count_water_points(ds);
  assess_coverage(ds, ds.nobs_sel, ds.level_start, ds.level_end, how, maps);
}

int run_kelvo_brino(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console,
                    Evaluation how) {
  return run_guarded(dirs, console, [&](DomainState& ds) {
    run_assessment(ds, args, how);
    write_summary(ds, ds.domain, ds.param, ds.level_start, ds.level_end, ds.run_tag);
  });
}

}  // namespace kelvo
