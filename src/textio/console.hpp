// The console of a run: everything the tool prints goes through one buffer
// per stream, so a run can be captured whole in a test and a long list of
// lines costs one write per block rather than one per line.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace textio {

struct Console {
  std::string out;               // standard output not yet flushed (all of it when no sink)
  std::string err;               // standard error not yet flushed
  std::FILE* out_sink = nullptr; // where `out` goes; nullptr keeps it in memory
  std::FILE* err_sink = nullptr;

  void write(std::string_view text);        // to standard output
  void write_error(std::string_view text);  // to standard error
  void flush();
};

// A console whose streams go to the process's standard output and error.
inline Console standard_console() {
  Console c;
  c.out_sink = stdout;
  c.err_sink = stderr;
  return c;
}

}  // namespace textio
