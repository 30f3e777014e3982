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
  // Asked with by_kind: each kind's observations alone decided in the same
  // search (a point is covered where any kind covers it), and counted: for
  // each kind of `kinds` (ascending codes) and layer (fastest), the points
  // its observations cover and those every other kind's cover. Left empty
  // where there are more kinds than the engine tags at once.
  bool by_kind = false;
  std::vector<std::int32_t> kinds;
  std::vector<std::int32_t> kind_alone;
  std::vector<std::int32_t> kind_without;
};

// Adds to alone[k] the points of `covered` that kind k's plane (one of
// `nkinds` planes) covers, and to without[k] those another kind covers.
void tally_kinds(std::span<const std::uint8_t> covered, std::span<const std::uint8_t> planes, std::size_t nkinds,
                 std::span<std::int32_t> alone, std::span<std::int32_t> without);

// Assesses layers level_start..level_end of the state: Kpct and two lines per
// layer; with `maps`, also each point's decision. The rows of the layers are
// shared among `threads` threads; nothing printed or kept depends on it.
void assess_coverage(Reporter& out, DomainState& ds, Evaluation how = Evaluation::fast,
                     CoverageMaps* maps = nullptr, int threads = 1);

}  // namespace kelvo
