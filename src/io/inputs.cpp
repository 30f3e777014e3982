#include "io/inputs.hpp"

#include <algorithm>
#include <exception>
#include <thread>
#include <unordered_map>

#include "core/error.hpp"
#include "io/domain_tree.hpp"
#include "io/index_observations.hpp"
#include "io/observation_csv.hpp"

namespace kelvo::io {

namespace {

ObservationSet read_file(const std::string& path, Parameters keep, ListReport& report, int threads) {
  switch (observation_format_of(path)) {
    case ObservationFormat::csv_table: return read_observation_csv(path, keep, &report);
    case ObservationFormat::argo_index: return read_index_observations(IndexFormat::argo, path, keep, &report, threads);
    case ObservationFormat::insitu_index:
      return read_index_observations(IndexFormat::insitu, path, keep, &report, threads);
    case ObservationFormat::compressed_other: {
      Error e(ErrorCode::bad_request, "read_observations",
              path + ": a compressed file that is neither an Argo nor an in-situ index; lists and tables are read "
                     "uncompressed");
      e.file = path;
      throw e;
    }
    case ObservationFormat::list: break;
  }
  return read_list(path, keep, &report, no_line_limit);
}

}  // namespace

ObservationSet read_observations(std::span<const std::string> paths, Parameters keep, std::vector<ListReport>& reports,
                                 int threads, std::int64_t* twins) {
  ObservationSet all;
  all.sources.clear();
  reports.assign(paths.size(), ListReport{});
  std::unordered_map<std::string, std::uint32_t> platform_index;
  for (std::size_t n = 0; n < paths.size(); ++n) {
    ObservationSet one = read_file(paths[n], keep, reports[n], threads);
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
    if (all.records.empty()) {
      all.records = std::move(one.records);
    } else {
      all.records.insert(all.records.end(), one.records.begin(), one.records.end());
    }
  }
  const std::int64_t removed = paths.size() > 1 ? remove_twins(all) : 0;
  if (twins != nullptr) *twins = removed;
  return all;
}

void place_index_longitudes(ObservationSet& set, std::span<const ListReport> reports, const Grid& grid) {
  if (grid.lon.empty()) return;
  const auto range = std::minmax_element(grid.lon.begin(), grid.lon.end());
  const float west = *range.first, east = *range.second;
  const auto on_grid = [&](float lon) { return lon >= west && lon <= east; };
  for (ObservationRecord& r : set.records) {
    if (r.source >= reports.size() || !reports[r.source].index || on_grid(r.lon)) continue;
    for (const float shift : {360.0f, -360.0f}) {
      if (on_grid(r.lon + shift)) {
        r.lon += shift;
        break;
      }
    }
  }
}

TreeInputs read_domain_inputs(const std::function<Domain()>& read_domain, std::string_view param,
                              std::span<const std::string> lists, int threads) {
  TreeInputs in;
  std::exception_ptr list_failure;
  const auto read = [&] {
    try {
      in.observations = read_observations(lists, parameter_named(param), in.lists, threads, &in.twins);
    } catch (...) {
      list_failure = std::current_exception();
    }
  };
  {
    std::jthread list_reader;
    if (threads > 1) list_reader = std::jthread(read);
    in.domain = read_domain();
  }  // the list is read when the reader is joined here
  if (threads <= 1) read();
  if (list_failure) std::rethrow_exception(list_failure);
  place_index_longitudes(in.observations, in.lists, in.domain.grid());
  return in;
}

TreeInputs read_tree_inputs(std::string_view scale_dir, std::string_view domain, std::string_view param,
                            std::int32_t first, std::int32_t last, std::span<const std::string> lists, int threads) {
  return read_domain_inputs([&] { return read_domain_tree(scale_dir, domain, param, first, last, threads); }, param,
                            lists, threads);
}

}  // namespace kelvo::io
