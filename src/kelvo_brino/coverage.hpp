// The coverage stage of a run: the engine's decision over the run's grid,
// fields and observations, with the two console lines of each layer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "kelvo_mod/coverage_engine.hpp"
#include "kelvo_mod/domain_state.hpp"
#include "kelvo_mod/reporter.hpp"

namespace kelvo {

// The decision at every water point of the assessed layers, for maps:
// one nlon x nlat plane per layer of the range (i fastest), 1 where covered.
struct CoverageMaps {
  std::vector<std::uint8_t> covered;
  std::int32_t k_first = 1;
  std::int64_t plane_size = 0;
  std::span<std::uint8_t> layer(std::int32_t k) {
    return {covered.data() + plane_size * (k - k_first), static_cast<std::size_t>(plane_size)};
  }
  std::span<const std::uint8_t> layer(std::int32_t k) const {
    return {covered.data() + plane_size * (k - k_first), static_cast<std::size_t>(plane_size)};
  }
  // Asked with by_kind: the decision of each kind's observations alone, in
  // the same search (a point is covered where any kind covers it). Per
  // layer, one plane per kind of `kinds` (ascending codes); left empty
  // where there are more kinds than the engine tags at once.
  bool by_kind = false;
  std::vector<std::int32_t> kinds;
  std::vector<std::uint8_t> per_kind;
  std::span<std::uint8_t> kind_planes(std::int32_t k) {
    const std::size_t size = static_cast<std::size_t>(plane_size) * kinds.size();
    return {per_kind.data() + size * static_cast<std::size_t>(k - k_first), size};
  }
  std::span<const std::uint8_t> kind_planes(std::int32_t k) const {
    return const_cast<CoverageMaps*>(this)->kind_planes(k);
  }
};

// Assesses layers level_start..level_end of the state: Kpct and two lines per
// layer; with `maps`, also each point's decision. The rows of the layers are
// shared among `threads` threads; nothing printed or kept depends on it.
void assess_coverage(Reporter& out, DomainState& ds, Evaluation how = Evaluation::fast,
                     CoverageMaps* maps = nullptr, int threads = 1);

}  // namespace kelvo
