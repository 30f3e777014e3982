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

constexpr std::string_view op = "write_map";

}  // namespace

std::string write_map(Reporter& out, const DomainState& ds, const CoverageMaps& maps,
                      std::span<const std::string> args, std::string_view assessment_day, int threads) {
  const std::optional<std::string> path = map_file_name(ds);
  if (!path) {
    out.stop({stop_head(op), "Map file name too long: ", ds.results_dir});
  }
  CoverageClasses classes = coverage_classes(out, ds, maps);
  const KindContributions kinds = kind_contributions(out, ds, maps, threads);
  MapContents contents = assemble_map(ds, std::move(classes), kinds);
  contents.attributes = map_attributes(ds, args, static_cast<std::int64_t>(std::time(nullptr)), assessment_day);
  std::string reason;
  if (!write_map_file(*path, contents, reason)) {
    out.stop({stop_head(op), "Map not written (", reason, "): ", *path});
  }
  out.print({"Coverage map written to ", *path});
  return *path;
}

int run_kelvo_map(std::span<const std::string> args, const BaseDirs& dirs, textio::Console& console, int threads) {
  return run_guarded(dirs, console, [&](Reporter& out, DomainState& ds) {
    CoverageMaps maps;
    maps.by_kind = true;
    run_assessment(out, ds, args, Evaluation::fast, &maps, threads);
    write_map(out, ds, maps, args, assessment_day_iso, threads);
  });
}

}  // namespace kelvo
