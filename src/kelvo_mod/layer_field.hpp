// A grid field per layer and component, (i, j, k, m) with i fastest, that
// stores only the layers of the assessed range. Layers outside it are never
// read from a file, so they hold the field's fill value everywhere and need
// no memory: a run over three layers of a thirty-layer grid keeps three.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvo {

template <typename T>
struct LayerField {
  std::vector<T> data;
  std::int64_t nlon = 0;
  std::int64_t nlat = 0;
  std::int32_t k_first = 1;  // first stored layer
  std::int32_t k_last = 0;   // last stored layer (below k_first: none)
  std::int32_t ncomp = 1;
  T fill{};                  // value of every point of a layer not stored

  std::int64_t stored_layers() const { return k_last >= k_first ? std::int64_t{k_last} - k_first + 1 : 0; }
  bool stored(std::int32_t k) const { return k >= k_first && k <= k_last; }
  std::int64_t plane_size() const { return nlon * nlat; }

  // First value of the nlon x nlat plane of stored layer k, component m.
  T* plane(std::int32_t k, std::int32_t m) {
    return data.data() + plane_size() * ((k - k_first) + stored_layers() * (m - 1));
  }
  const T* plane(std::int32_t k, std::int32_t m) const {
    return data.data() + plane_size() * ((k - k_first) + stored_layers() * (m - 1));
  }
  T at(std::int64_t i, std::int64_t j, std::int32_t k, std::int32_t m) const {
    if (!stored(k)) return fill;
    return plane(k, m)[(i - 1) + nlon * (j - 1)];
  }
};

}  // namespace kelvo
