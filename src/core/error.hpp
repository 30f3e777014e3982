// The one error type of the tools: every failure of the core, of a reader or
// a writer, and of a command line is an Error. It says what went wrong in
// plain words (message), names the step that failed (operation) and the file
// concerned, and keeps the values a failure names (a line, the sizes of a
// grid, the size of an array), so that each front end can word it its own
// way: kelvo prints the message, kelvo_brino the texts its users know.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kelvo {

enum class ErrorCode {
  usage,          // a command line that cannot be taken
  bad_request,    // options or inputs that do not fit together
  cannot_open,    // an input missing, a directory, or unreadable
  truncated,      // a file ends before a line it must hold
  not_a_number,   // a field that cannot be read
  bad_grid,       // grid sizes outside what a grid can have
  bad_layers,     // a layer range outside the grid
  out_of_memory,  // an array larger than the machine holds
  list_too_long,  // more lines than an observation list holds
  bad_date,       // a date text that is not a date
  cannot_write,   // an output that cannot be written or put in place
};

// A value a failure names: a text or a number.
using ErrorItem = std::variant<std::string, std::int64_t>;

struct Error : std::exception {
  ErrorCode code = ErrorCode::bad_request;
  std::string operation;  // the step that failed, e.g. "read_grid_cfg"
  std::string message;    // the whole failure in plain words, naming the file
  std::string file;       // the file concerned; empty when none
  std::string reason;     // the system's or library's reason, when it gave one
  std::int64_t line = 0;  // the line or row concerned (from 1); 0 when none
  std::vector<ErrorItem> items;  // further values, in an order each code documents

  Error() = default;
  Error(ErrorCode c, std::string op, std::string msg) : code(c), operation(std::move(op)), message(std::move(msg)) {}
  const char* what() const noexcept override { return message.c_str(); }

  // Items by position: a text, or a number (0 / empty when absent).
  std::string text_item(std::size_t n) const;
  std::int64_t number_item(std::size_t n) const;
};

// Exit statuses, one set for every executable: a usage error (a command line
// that cannot be taken) is 1, every other failure 2.
inline constexpr int exit_success = 0;
inline constexpr int exit_usage = 1;
inline constexpr int exit_failure = 2;
inline int exit_status_of(const Error& e) { return e.code == ErrorCode::usage ? exit_usage : exit_failure; }

// ------------------------------------------------------------ memory
// An array that cannot be had (larger than the machine's memory, or refused
// by the allocator) is an out_of_memory Error whose items are the array's
// name, its element count and its size in bytes (as text, "more than ..."
// when it overflows), instead of a crash or an out-of-memory kill later.

// Bytes of physical memory of this machine (0 when unknown).
std::uint64_t physical_memory_bytes();

// Element count of an array of the given extents; saturates instead of
// overflowing, so that an absurd size is refused rather than wrapped around.
std::uint64_t element_count(std::initializer_list<std::int64_t> extents);

[[noreturn]] void throw_out_of_memory(std::string_view operation, std::string_view array, std::uint64_t count,
                                      std::uint64_t element_size);

// Throws out_of_memory when `count` elements of `element_size` bytes cannot
// fit in this machine's memory.
void require_memory(std::string_view operation, std::string_view array, std::uint64_t count,
                    std::uint64_t element_size, std::uint64_t max_count = std::numeric_limits<std::uint64_t>::max());

// Runs `grow` (which sizes or reserves v for `count` values), or throws
// out_of_memory when that memory cannot be had.
template <typename T, typename Grow>
void grow_or_throw(std::vector<T>& v, std::uint64_t count, std::string_view operation, std::string_view array,
                   Grow grow) {
  require_memory(operation, array, count, sizeof(T), v.max_size());
  try {
    grow(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    throw_out_of_memory(operation, array, count, sizeof(T));
  } catch (const std::length_error&) {
    throw_out_of_memory(operation, array, count, sizeof(T));
  }
}

// Asks for the whole 2 MiB pages inside [data, data + bytes) to be backed by
// huge pages when they are first written: a large array then costs a few
// page faults instead of one per 4 KiB (on a virtual machine each is dear).
void advise_huge_pages(const void* data, std::size_t bytes);

// `v` sized to `count` copies of `value`; an array of 4 MiB or more is
// first reserved and advised into huge pages.
template <typename T>
void allocate(std::vector<T>& v, std::uint64_t count, T value, std::string_view operation, std::string_view array) {
  grow_or_throw(v, count, operation, array, [&](std::size_t n) {
    if (n * sizeof(T) >= (std::size_t{4} << 20) && v.capacity() < n) {
      v = std::vector<T>();
      v.reserve(n);
      advise_huge_pages(v.data(), n * sizeof(T));
    }
    v.assign(n, value);
  });
}

// Room for `count` values in `v` (its size unchanged, no memory touched).
template <typename T>
void reserve(std::vector<T>& v, std::uint64_t count, std::string_view operation, std::string_view array) {
  grow_or_throw(v, count, operation, array, [&](std::size_t n) { v.reserve(n); });
}

}  // namespace kelvo
