// Threads shared by the tools: how many to use, and a loop whose iterations
// are handed out to them. Every result a caller keeps is indexed by the
// iteration, never by the thread, so what a run computes and prints does
// not depend on the number of threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvo {

// The largest thread count accepted from the environment.
inline constexpr int max_threads = 1024;

// The machine's cores (at least 1).
int machine_cores();

// The thread count a setting text gives: a whole number from 1 to
// max_threads, blanks around it allowed; anything else (no text, empty,
// 0, negative, not a number, too large) gives the machine's cores.
int thread_count_from(const char* text);

// The thread count of a process: KELVO_THREADS, read as thread_count_from
// does. Each executable reads it once as it starts and hands it on.
int threads_from_environment();

// Calls body(i) for every i in [0, count) on up to `threads` threads, the
// calling thread being one of them. Iterations are handed out one at a
// time in increasing order, so when an iteration fails every earlier one
// has been started: the iterations after the first failure are not
// started, the others are finished, and then the exception of the lowest
// failed iteration is rethrown, as a loop on one thread would have thrown it.
template <typename Body>
void parallel_for(std::int64_t count, int threads, Body&& body) {
  if (count <= 0) return;
  const std::int64_t workers = std::clamp<std::int64_t>(threads, 1, count);
  if (workers == 1) {
    for (std::int64_t i = 0; i < count; ++i) body(i);
    return;
  }
  std::atomic<std::int64_t> next{0};
  std::atomic<std::int64_t> first_failed{std::numeric_limits<std::int64_t>::max()};
  std::mutex failure_mutex;
  std::exception_ptr failure;
  const auto work = [&] {
    for (;;) {
      const std::int64_t i = next.fetch_add(1);
      if (i >= count || i > first_failed.load()) return;
      try {
        body(i);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(failure_mutex);
        if (i < first_failed.load()) {
          first_failed.store(i);
          failure = std::current_exception();
        }
      }
    }
  };
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<std::size_t>(workers - 1));
    for (std::int64_t t = 1; t < workers; ++t) helpers.emplace_back(work);
    work();
  }  // the helpers are joined here
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kelvo
