// The run's console buffers. Text is kept in memory and handed to the sinks
// in large blocks. Whatever is pending on standard error was always written
// before whatever is pending on standard output (an error message first
// pushes out the output before it), so emitting the error buffer first keeps
// the two streams in the order the text was produced.

#include "textio/console.hpp"

#include <cstdio>
#include <string>
#include <string_view>

namespace textio {

namespace {

constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

void emit(std::string& buffer, std::FILE* sink) {
  if (sink == nullptr || buffer.empty()) return;
  std::fwrite(buffer.data(), 1, buffer.size(), sink);
  std::fflush(sink);
  buffer.clear();
}

}  // namespace

void Console::write(std::string_view text) {
  if (out_sink != nullptr && text.size() > kBlockSize) {
    // A large text (such as the lines of a list read meanwhile) goes out
    // after what is pending, without a copy.
    emit(err, err_sink);
    emit(out, out_sink);
    std::fwrite(text.data(), 1, text.size(), out_sink);
    std::fflush(out_sink);
    return;
  }
  out.append(text);
  if (out_sink != nullptr && out.size() > kBlockSize) {
    emit(err, err_sink);
    emit(out, out_sink);
  }
}

void Console::write_error(std::string_view text) {
  if (out_sink != nullptr && !out.empty()) {
    emit(err, err_sink);
    emit(out, out_sink);
  }
  err.append(text);
  if (err_sink != nullptr && err.size() > kBlockSize) emit(err, err_sink);
}

void Console::flush() {
  emit(err, err_sink);
  emit(out, out_sink);
  if (err_sink != nullptr) std::fflush(err_sink);
  if (out_sink != nullptr) std::fflush(out_sink);
}

}  // namespace textio
