#include "io/inputs.hpp"

#include <exception>
#include <thread>

#include "io/domain_tree.hpp"

namespace kelvo::io {

TreeInputs read_tree_inputs(std::string_view scale_dir, std::string_view domain, std::string_view param,
                            std::int32_t first, std::int32_t last, std::span<const std::string> lists, int threads) {
  TreeInputs in;
  std::exception_ptr list_failure;
  const auto read = [&] {
    try {
      in.observations = read_lists(lists, parameter_named(param), in.lists);
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
