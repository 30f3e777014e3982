#include "kelvo_mod/allocation.hpp"

#include <unistd.h>

#include <limits>

#include "kelvo_mod/legacy_messages.hpp"

namespace kelvo {

std::uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

void allocation_failed(Reporter& out, std::string_view operation, std::string_view array,
                       std::uint64_t count, std::uint64_t element_size) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::string bytes =
      count > max / element_size ? std::string("more than ") + std::to_string(max)
                                 : std::to_string(count * element_size);
  const std::string reason = "Cannot allocate " + std::string(array) + ": " +
                             std::to_string(count) + " values, " + bytes + " bytes";
  out.stop({stop_head(operation), reason});
}

std::uint64_t element_count(std::initializer_list<std::int64_t> extents) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t count = 1;
  for (std::int64_t e : extents) {
    const std::uint64_t n = e > 0 ? static_cast<std::uint64_t>(e) : 0;
    if (n != 0 && count > max / n) return max;
    count *= n;
  }
  return count;
}

namespace {

template <typename T>
void shape_layer_field(LayerField<T>& f, const DomainState& ds, std::int32_t ncomp, T fill) {
  f.nlon = ds.nlon;
  f.nlat = ds.nlat;
  f.k_first = ds.level_start;
  f.k_last = ds.level_end;
  f.ncomp = ncomp;
  f.fill = fill;
}

}  // namespace

void alloc_domain(Reporter& out, DomainState& ds) {
  constexpr std::string_view op = "alloc_domain";
  // Only the layers of the range are ever filled from files; the others
  // read as the preset through LayerField::fill.
  shape_layer_field(ds.scale, ds, 3, no_value);
  shape_layer_field(ds.water_mask, ds, 1, std::int32_t{0});
  const std::int64_t layers = ds.scale.stored_layers();

  ds.power.n1 = ds.nz;
  ds.power.n2 = 3;
  allocate(out, ds.power.data, element_count({ds.nz, 3}), no_value, op, "power");
  allocate(out, ds.scale.data, element_count({ds.nlon, ds.nlat, layers, 3}), no_value, op, "scale");

  out.print({legacy::allocating, ds.nlon, ds.nlat, ds.nz});

  allocate(out, ds.water_mask.data, element_count({ds.nlon, ds.nlat, layers}), std::int32_t{0}, op,
           "water_mask");
  allocate(out, ds.Kpct.data, element_count({ds.nz}), 0.0f, op, "Kpct");
}

}  // namespace kelvo
