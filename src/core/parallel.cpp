#include "core/parallel.hpp"

#include <cstdlib>
#include <string_view>

namespace kelvo {

int machine_cores() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min<unsigned>(n, max_threads));
}

int thread_count_from(const char* text) {
  if (text == nullptr) return machine_cores();
  std::string_view s(text);
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  if (s.empty() || s.size() > 4) return machine_cores();
  int n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return machine_cores();
    n = n * 10 + (c - '0');
  }
  return n >= 1 && n <= max_threads ? n : machine_cores();
}

// The only reading of KELVO_THREADS: each executable calls this once as it starts.
int threads_from_environment() { return thread_count_from(std::getenv("KELVO_THREADS")); }

}  // namespace kelvo
