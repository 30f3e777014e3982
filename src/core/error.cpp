#include "core/error.hpp"

#include <sys/mman.h>

#include <unistd.h>

namespace kelvo {

std::string Error::text_item(std::size_t n) const {
  if (n >= items.size()) return {};
  if (const std::string* s = std::get_if<std::string>(&items[n])) return *s;
  return std::to_string(std::get<std::int64_t>(items[n]));
}

std::int64_t Error::number_item(std::size_t n) const {
  if (n >= items.size()) return 0;
  if (const std::int64_t* v = std::get_if<std::int64_t>(&items[n])) return *v;
  return 0;
}

std::uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

std::uint64_t element_count(std::initializer_list<std::int64_t> extents) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t count = 1;
  for (std::int64_t e : extents) {
    const std::uint64_t n = e > 0 ? static_cast<std::uint64_t>(e) : 0;
    if (n != 0 && count > max / n) return max;
    count *= n;
  }
  return count;
}

void throw_out_of_memory(std::string_view operation, std::string_view array, std::uint64_t count,
                         std::uint64_t element_size) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::string bytes = count > max / element_size ? "more than " + std::to_string(max)
                                                       : std::to_string(count * element_size);
  Error e(ErrorCode::out_of_memory, std::string(operation),
          "cannot allocate " + std::string(array) + ": " + std::to_string(count) + " values, " + bytes +
              " bytes, more than this machine's memory");
  e.items = {std::string(array), std::to_string(count), bytes};
  throw e;
}

void require_memory(std::string_view operation, std::string_view array, std::uint64_t count,
                    std::uint64_t element_size, std::uint64_t max_count) {
  const std::uint64_t limit = physical_memory_bytes();
  if (count > max_count || (limit != 0 && count > limit / element_size)) {
    throw_out_of_memory(operation, array, count, element_size);
  }
}

void advise_huge_pages(const void* data, std::size_t bytes) {
  constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
  const std::uintptr_t last = (begin + bytes) & ~(huge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace kelvo
