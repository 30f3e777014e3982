// Shared by the fuzz targets: the check that ends a run on a broken
// invariant (printing what broke, so the crash input comes with a reason),
// and small helpers for reading the fuzz input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

// Ends the process (libFuzzer records the input as a crash) when `cond`
// does not hold. `what` is a std::string or string literal describing it.
#define FUZZ_CHECK(cond, what)                                                        \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      const std::string fuzz_check_what_ = (what);                                    \
      std::fprintf(stderr, "\nFUZZ_CHECK failed at %s:%d: %s\n  %s\n", __FILE__,      \
                   __LINE__, #cond, fuzz_check_what_.c_str());                        \
      std::fflush(stderr);                                                            \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace fuzz {

// The bytes of a text made visible for a message: printable ASCII as is,
// everything else as \xHH; quoted.
inline std::string shown(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '"' && c != '\\') {
      out.push_back(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    }
  }
  return out + "\"";
}

// Reads the fuzz input front to back; past its end every read gives 0.
struct ByteReader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;

  std::uint8_t byte() { return pos < size ? data[pos++] : 0; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{byte()} << (8 * i);
    return v;
  }
  std::uint64_t u64() { return std::uint64_t{u32()} | (std::uint64_t{u32()} << 32); }
  std::string_view rest() {
    const std::size_t from = pos < size ? pos : size;
    pos = size;
    return {reinterpret_cast<const char*>(data) + from, size - from};
  }
  std::string_view take(std::size_t n) {
    const std::size_t from = pos < size ? pos : size;
    const std::size_t len = n < size - from ? n : size - from;
    pos = from + len;
    return {reinterpret_cast<const char*>(data) + from, len};
  }
};

// Whole files of the harnesses' temporary directories.
inline void write_file(const std::filesystem::path& p, std::string_view content) {
  std::ofstream f(p, std::ios::binary);
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
  FUZZ_CHECK(static_cast<bool>(f), "harness cannot write " + p.string());
}

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace fuzz
