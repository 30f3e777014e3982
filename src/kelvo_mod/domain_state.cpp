#include "kelvo_mod/domain_state.hpp"

#include "kelvo_mod/run_stop.hpp"

namespace kelvo {

void print_free(DomainState& ds, std::initializer_list<textio::FreeItem> items) {
  ds.console.write(textio::free_line(items));
}

void stop_run(DomainState& ds, std::initializer_list<textio::FreeItem> items, int exit_status) {
  print_free(ds, items);
  throw RunStop{exit_status};
}

}  // namespace kelvo
