// Arrays indexed from 1 with the first index varying fastest, over one
// contiguous block, as the domain state lays out every grid-sized field.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvo {

template <typename T>
struct Array1 {
  std::vector<T> data;
  T& operator()(std::int64_t i) { return data[static_cast<std::size_t>(i - 1)]; }
  const T& operator()(std::int64_t i) const { return data[static_cast<std::size_t>(i - 1)]; }
  std::int64_t size() const { return static_cast<std::int64_t>(data.size()); }
};

template <typename T>
struct Array2 {
  std::vector<T> data;
  std::int64_t n1 = 0;
  std::int64_t n2 = 0;
  std::size_t offset(std::int64_t i, std::int64_t j) const {
    return static_cast<std::size_t>((i - 1) + n1 * (j - 1));
  }
  T& operator()(std::int64_t i, std::int64_t j) { return data[offset(i, j)]; }
  const T& operator()(std::int64_t i, std::int64_t j) const { return data[offset(i, j)]; }
};

}  // namespace kelvo
