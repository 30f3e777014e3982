// Replacing a file atomically: the new contents go to a temporary file in
// the same directory, which is renamed over the final name only after it was
// written and closed without error.
#pragma once

#include <string>
#include <string_view>

namespace kelvo {

struct AtomicFile {
  std::string path;       // final name
  std::string temp_path;  // temporary file beside it
  int fd = -1;
};

// Creates the temporary file. False, with `reason`, when it cannot be created.
bool atomic_file_create(AtomicFile& file, const std::string& path, std::string& reason);

// Writes `text`, closes, and renames over the final name. On any failure the
// temporary file is removed, the final name is left as it was, and `reason`
// says what failed.
bool atomic_file_commit(AtomicFile& file, std::string_view text, std::string& reason);

// Removes the temporary file of a file that will not be committed.
void atomic_file_abandon(AtomicFile& file);

}  // namespace kelvo
