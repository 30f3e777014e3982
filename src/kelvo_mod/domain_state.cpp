#include "kelvo_mod/domain_state.hpp"

#include <cmath>

#include "textio/fields.hpp"

namespace kelvo {

float time_at_slot(const ObservationDate& date, float slot) {
  if (date.repeating) return slot;
  return std::fabs(date.jday - slot) >= 1.0f ? absent_time : slot;
}

DomainState::DomainState(const BaseDirs& dirs)
    : scale_dir(textio::padded(dirs.scale_dir, path_length)),
      results_dir(textio::padded(dirs.results_dir, path_length)) {}

GridAxes grid_axes(const DomainState& ds, std::span<const float> dxkm) {
  return GridAxes{ds.lon.data, ds.lat.data, dxkm};
}

LayerFields layer_fields(const DomainState& ds, std::int32_t ilayer) {
  const std::size_t plane = static_cast<std::size_t>(ds.scale.plane_size());
  const auto component = [&](std::int32_t m) { return std::span<const float>(ds.scale.plane(ilayer, m), plane); };
  return LayerFields{ilayer,
                     component(1),
                     component(2),
                     component(3),
                     std::span<const std::int32_t>(ds.water_mask.plane(ilayer, 1), plane),
                     ds.power(ilayer, 1),
                     ds.power(ilayer, 2),
                     ds.power(ilayer, 3)};
}

}  // namespace kelvo
