#include "io/inputs.hpp"

#include <exception>
#include <thread>
#include <unordered_map>

#include "io/domain_tree.hpp"
#include "io/observation_csv.hpp"

namespace kelvo::io {

ObservationSet read_observations(std::span<const std::string> paths, Parameters keep, std::vector<ListReport>& reports) {
  ObservationSet all;
  all.sources.clear();
  reports.assign(paths.size(), ListReport{});
  std::unordered_map<std::string, std::uint32_t> platform_index;
  for (std::size_t n = 0; n < paths.size(); ++n) {
    ObservationSet one = is_observation_csv(paths[n]) ? read_observation_csv(paths[n], keep, &reports[n])
                                                      : read_list(paths[n], keep, &reports[n]);
    all.sources.push_back(paths[n]);
    // Each file's platform ids join one table (index 0 stays "no id").
    std::vector<std::uint32_t> index_of(one.platforms.size(), 0);
    for (std::size_t p = 1; p < one.platforms.size(); ++p) {
      const auto [it, added] =
          platform_index.try_emplace(one.platforms[p], static_cast<std::uint32_t>(all.platforms.size()));
      if (added) all.platforms.push_back(one.platforms[p]);
      index_of[p] = it->second;
    }
    for (ObservationRecord& r : one.records) {
      r.source = static_cast<std::uint32_t>(n);
      r.platform = index_of[r.platform];
    }
    all.records.insert(all.records.end(), one.records.begin(), one.records.end());
  }
  return all;
}

TreeInputs read_tree_inputs(std::string_view scale_dir, std::string_view domain, std::string_view param,
                            std::int32_t first, std::int32_t last, std::span<const std::string> lists, int threads) {
  TreeInputs in;
  std::exception_ptr list_failure;
  const auto read = [&] {
    try {
      in.observations = read_observations(lists, parameter_named(param), in.lists);
    } catch (...) {
      list_failure = std::current_exception();
    }
  };
  {
    std::jthread list_reader;
    if (threads > 1) list_reader = std::jthread(read);
    in.domain = read_domain_tree(scale_dir, domain, param, first, last, threads);
  }  // the list is read when the reader is joined here
  if (threads <= 1) read();
  if (list_failure) std::rethrow_exception(list_failure);
  return in;
}

}  // namespace kelvo::io
