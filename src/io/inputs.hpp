// The inputs of an assessment from files: the domain tree of a domain and
// parameter (layers first..last) and the observation list of that
// parameter, the list read on a thread of its own while the tree's files
// are (with more than one thread). A failure of the tree comes first, as
// when the two are read one after the other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <span>
#include <vector>

#include "core/domain.hpp"
#include "core/observations.hpp"
#include "io/metadata_list.hpp"

namespace kelvo::io {

struct TreeInputs {
  Domain domain;
  ObservationSet observations;
  std::vector<ListReport> lists;  // one per list
};

// `scale_dir` ends in "/"; the lists are read one after the other (read_lists).
TreeInputs read_tree_inputs(std::string_view scale_dir, std::string_view domain, std::string_view param,
                            std::int32_t first, std::int32_t last, std::span<const std::string> lists, int threads);

}  // namespace kelvo::io
