// Allocation of the domain arrays. An array that cannot be had (too large for
// this machine's memory, or refused by the allocator) ends the run with a
// message giving the size requested, instead of a crash or an OOM kill later.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"

namespace kelvo {

// Bytes of physical memory of this machine (0 when unknown).
std::uint64_t physical_memory_bytes();

// Reports an array that cannot be allocated and ends the run.
[[noreturn]] void allocation_failed(Reporter& out, std::string_view operation,
                                    std::string_view array, std::uint64_t count,
                                    std::uint64_t element_size);

// Element count of an array of the given extents; saturates instead of
// overflowing, so an absurd size is refused rather than wrapped around.
std::uint64_t element_count(std::initializer_list<std::int64_t> extents);

// Runs `grow` (which sizes or reserves v for `count` values), ending the
// run through allocation_failed when that memory cannot be had.
template <typename T, typename Grow>
void grow_or_stop(Reporter& out, std::vector<T>& v, std::uint64_t count, std::string_view operation,
                  std::string_view array, Grow grow) {
  const std::uint64_t limit = physical_memory_bytes();
  if (count > v.max_size() || (limit != 0 && count > limit / sizeof(T))) {
    allocation_failed(out, operation, array, count, sizeof(T));
  }
  try {
    grow(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    allocation_failed(out, operation, array, count, sizeof(T));
  } catch (const std::length_error&) {
    allocation_failed(out, operation, array, count, sizeof(T));
  }
}

// Size `v` to `count` copies of `value`, or end the run.
template <typename T>
void allocate(Reporter& out, std::vector<T>& v, std::uint64_t count, T value,
              std::string_view operation, std::string_view array) {
  grow_or_stop(out, v, count, operation, array, [&](std::size_t n) { v.assign(n, value); });
}

// Room for `count` values in `v` (its size unchanged, no memory touched), or end the run.
template <typename T>
void reserve(Reporter& out, std::vector<T>& v, std::uint64_t count, std::string_view operation,
             std::string_view array) {
  grow_or_stop(out, v, count, operation, array, [&](std::size_t n) { v.reserve(n); });
}

// Sizes and presets power, scale, water_mask and Kpct from the grid and the
// layer range, and prints the allocation line.
void alloc_domain(Reporter& out, DomainState& ds);

}  // namespace kelvo
