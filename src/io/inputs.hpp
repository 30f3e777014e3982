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

// The records of several observation files, one after the other, each read
// by its format (a CSV table when its first line names latitude and
// longitude, else a 52-column list): each record keeps its line in its own
// file, and its source is the file's index in `paths`; platform ids are
// shared by all. `reports` gets one report per file.
ObservationSet read_observations(std::span<const std::string> paths, Parameters keep, std::vector<ListReport>& reports);

// `scale_dir` ends in "/"; the observation files are read by read_observations.
TreeInputs read_tree_inputs(std::string_view scale_dir, std::string_view domain, std::string_view param,
                            std::int32_t first, std::int32_t last, std::span<const std::string> lists, int threads);

}  // namespace kelvo::io
