// The inputs of an assessment from files: the domain tree of a domain and
// parameter (layers first..last) and the observation list of that
// parameter, the list read on a thread of its own while the tree's files
// are (with more than one thread). A failure of the tree comes first, as
// when the two are read one after the other.
#pragma once

#include <cstdint>
#include <functional>
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
  std::vector<ListReport> lists;  // one per observation file
  std::int64_t twins = 0;         // records removed as twins of others
};

// The records of several observation files, one after the other, each read
// by its format (observation_format_of): each record keeps its line in its
// own file, and its source is the file's index in `paths`; platform ids are
// shared by all. `reports` gets one report per file. Records of different
// files that are the same observation are kept once (remove_twins), their
// count in `twins`; an index is parsed on up to `threads` threads.
ObservationSet read_observations(std::span<const std::string> paths, Parameters keep, std::vector<ListReport>& reports,
                                 int threads = 1, std::int64_t* twins = nullptr);

// Moves the longitudes of the index records (east of -180, as the indexes
// give them) by 360 degrees where that brings them onto the grid's
// longitudes (a grid given from 0 to 360 east).
void place_index_longitudes(ObservationSet& set, std::span<const ListReport> reports, const Grid& grid);

// The domain that `read_domain` reads and the observation files of `param`
// (read_observations), the files read on a thread of their own meanwhile
// when there is more than one thread; a failure of the domain comes first.
TreeInputs read_domain_inputs(const std::function<Domain()>& read_domain, std::string_view param,
                              std::span<const std::string> lists, int threads);

// `scale_dir` ends in "/"; the observation files are read by read_observations.
TreeInputs read_tree_inputs(std::string_view scale_dir, std::string_view domain, std::string_view param,
                            std::int32_t first, std::int32_t last, std::span<const std::string> lists, int threads);

}  // namespace kelvo::io
