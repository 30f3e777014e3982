// What each observation kind adds to the coverage: for every kind among the
// kept observations and every assessed layer, the covered fraction with that
// kind's observations alone and with every kind but it.
//
// A point is covered by a set of observations when one of them covers it,
// so the decision for a union of sets is the "or" of the decisions for the
// sets. Each kind is therefore evaluated once per layer (the tool's fast
// evaluation with every observation tagged by its kind, which finds at each
// point the kinds that cover it in one search), and "every kind but it" is
// the "or" of the other kinds. An assessment asked with by_kind holds those
// decisions from its own search; otherwise (more kinds than one search tags)
// the kinds are searched again, only at the points the whole network covers,
// since part of it cannot cover any other.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/assess.hpp"

namespace kelvo {

struct KindContributions {
  std::vector<std::int32_t> kinds;  // kind codes, ascending
  std::int32_t k_first = 1;         // first assessed layer
  std::int32_t layers = 0;          // number of assessed layers
  // kinds x layers, the layer varying fastest; Ksum / Nwater of the layer
  // (not a number where the layer has no water point).
  std::vector<float> by_kind;
  std::vector<float> without_kind;
  std::size_t index(std::size_t kind_index, std::int32_t ilayer) const {
    return kind_index * static_cast<std::size_t>(layers) + static_cast<std::size_t>(ilayer - k_first);
  }
};

// The contributions of every kind of the assessment's observations to its
// layers (an assessment that kept its decisions), the rows of the kinds
// shared among `threads` threads (the results do not depend on it).
KindContributions kind_contributions(const Domain& domain, const Assessment& assessment, int threads = 1);
// The same with the assessment's observations given apart: the assessment
// of one layer of a day assessed a layer at a time (DayAssessor) holds none.
KindContributions kind_contributions(const Domain& domain, const Assessment& assessment,
                                     std::span<const Observation> observations, int threads);

}  // namespace kelvo
