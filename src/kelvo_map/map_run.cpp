#include "kelvo_map/map_run.hpp"

#include <ctime>
#include <optional>

#include "kelvo_brino/driver.hpp"
#include "kelvo_map/contributions.hpp"
#include "kelvo_map/coverage_classes.hpp"
#include "kelvo_map/map_assembly.hpp"
#include "kelvo_map/map_name.hpp"
#include "kelvo_map/netcdf_writer.hpp"

namespace kelvo {

namespace {

void write_map(DomainState& ds, CoverageMaps& maps, std::span<const std::string> args) {
  const std::optional<std::string> path = map_file_name(ds, ds.domain, ds.param, ds.run_tag);
  if (!path) {
    stop_run(ds, {"STOP (write_map) Map file name too long: ", ds.results_dir}, exit_failure);
  }
  CoverageClasses classes = coverage_classes(ds, maps, ds.level_start, ds.level_end);
  const KindContributions kinds = kind_contributions(ds, maps, ds.level_start, ds.level_end);
  MapContents contents = assemble_map(ds, std::move(classes), kinds);
  contents.attributes = map_attributes(ds, args, static_cast<std::int64_t>(std::time(nullptr)));
  std::string reason;
  if (!write_map_file(*path, contents, reason)) {
    stop_run(ds, {"STOP (write_map) Map not written (", reason, "): ", *path}, exit_failure);
  }
  print_free(ds, {"Coverage map written to ", *path});
}

}  // namespace

int run_kelvo_map(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console) {
  return run_guarded(dirs, console, [&](DomainState& ds) {
    CoverageMaps maps;
    run_assessment(ds, args, Evaluation::fast, &maps);
    write_map(ds, maps, args);
  });
}

}  // namespace kelvo
