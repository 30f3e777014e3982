// Runs the kelvo front end in-process for tests, with base directories that
// do not exist unless the arguments name others.
#pragma once

#include <string>
#include <vector>

#include "kelvo/cli.hpp"
#include "support/run_support.hpp"

namespace kelvo_test {

inline RunResult kelvo_cli(std::vector<std::string> args) {
  args.insert(args.begin(), "kelvo");
  textio::Console console;
  kelvo::cli::Context context{console, "/nonexistent/", "/nonexistent/", {}, kelvo::threads_from_environment(), {}};
  RunResult r;
  r.status = kelvo::cli::run(args, context);
  r.out = console.out;
  r.err = console.err;
  return r;
}

// The list at `list` cut in two at the first line end after `share` of its
// bytes, written as dir/a.lst and dir/b.lst (one network in two files).
inline void split_list(const std::string& list, double share, const std::filesystem::path& dir) {
  const std::string text = read_file(list);
  const std::size_t cut = text.find('\n', static_cast<std::size_t>(static_cast<double>(text.size()) * share)) + 1;
  write_file(dir / "a.lst", text.substr(0, cut));
  write_file(dir / "b.lst", text.substr(cut));
}

// kelvo_brino's six arguments (Domain Par level_start level_end list tag)
// as kelvo's named options of `command`, reading the domain under
// `scale_dir` and writing `output`.
inline std::vector<std::string> named_args(const std::string& command, const std::vector<std::string>& six,
                                           const std::string& scale_dir, const std::string& output) {
  return {command,  "--domain", six[0], "--param",     six[1],    "--layers", six[2] + "-" + six[3],
          "--obs",  six[4],     "-o",   output, "--scale-dir", scale_dir};
}

}  // namespace kelvo_test
