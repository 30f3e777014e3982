#include "kelvo_mod/water_points.hpp"

#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/legacy_messages.hpp"

namespace kelvo {

namespace {

// Marks the water points of a stored layer and returns their number.
std::int32_t mark_layer(DomainState& ds, std::int32_t k) {
  const float* sx = ds.scale.plane(k, 1);
  const float* sy = ds.scale.plane(k, 2);
  const float* st = ds.scale.plane(k, 3);
  std::int32_t* mask = ds.water_mask.plane(k, 1);
  const std::int64_t n = ds.scale.plane_size();
  std::int32_t count = 0;
  for (std::int64_t p = 0; p < n; ++p) {
    if (!is_no_value(sx[p]) && !is_no_value(sy[p]) && !is_no_value(st[p])) {
      mask[p] = 1;
      ++count;
    }
  }
  return count;
}

}  // namespace

void count_water_points(Reporter& out, DomainState& ds) {
  allocate(out, ds.Nwater.data, element_count({ds.nz}), std::int32_t{0}, "count_water_points",
           "Nwater");
  for (std::int32_t k = 1; k <= ds.nz; ++k) {
    // A layer outside the range was never read: every scale is the marker.
    ds.Nwater(k) = ds.scale.stored(k) ? mark_layer(ds, k) : 0;
    out.print({legacy::water_points, k, ds.Nwater(k)});
  }
}

}  // namespace kelvo
