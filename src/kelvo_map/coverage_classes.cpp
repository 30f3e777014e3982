#include "kelvo_map/coverage_classes.hpp"

#include "kelvo_mod/allocation.hpp"

namespace kelvo {

CoverageClasses coverage_classes(Reporter& out, const DomainState& ds, const CoverageMaps& maps) {
  const std::int32_t level_start = ds.level_start;
  const std::int32_t level_end = ds.level_end;
  CoverageClasses c;
  const std::int64_t plane = std::int64_t{ds.nlon} * ds.nlat;
  const std::int64_t layers = level_end >= level_start ? std::int64_t{level_end} - level_start + 1 : 0;
  allocate(out, c.classes, element_count({plane, layers}), class_land, "coverage_classes", "coverage");
  for (std::int32_t ilayer = level_start; ilayer <= level_end; ++ilayer) {
    const std::int32_t* mask = ds.water_mask.plane(ilayer, 1);
    const std::span<const std::uint8_t> covered = maps.layer(ilayer);
    std::int8_t* classes = c.classes.data() + plane * (ilayer - level_start);
    std::int32_t hits = 0;
    for (std::int64_t p = 0; p < plane; ++p) {
      if (mask[p] != 1) continue;
      const bool is_covered = covered[static_cast<std::size_t>(p)] == 1;
      if (is_covered) ++hits;
      classes[p] = is_covered ? class_covered : class_not_covered;
    }
    c.covered_points.push_back(hits);
  }
  return c;
}

}  // namespace kelvo
