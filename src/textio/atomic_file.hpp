// A file replaced atomically: the new contents go to a temporary file beside
// the final name, are flushed to disk and renamed over the final name only
// when complete. Until then the final name is untouched; a file that is not
// committed (a failure, an exception, an early return) is removed when the
// object goes away.
#pragma once

#include <string>
#include <string_view>

namespace textio {

class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile() { abandon(); }

  // Creates the temporary file beside `path`, under a name of our own taken
  // with O_EXCL. False, with the system's reason, when it cannot be created.
  bool create(const std::string& path, std::string& reason);

  // Appends `text`. False, with "write: <reason>", on failure (the temporary
  // file is then removed).
  bool write(std::string_view text, std::string& reason);

  // Closes the descriptor for a writer that opens the file by its name
  // (a library); commit() then flushes it through a descriptor of its own.
  void close_descriptor();

  // Flushes the contents to disk, closes, and renames over the final name.
  // False, with the failing step and its reason, on failure: the temporary
  // file is removed and the final name is left as it was.
  bool commit(std::string& reason);

  // Removes the temporary file of a file that will not be committed.
  void abandon();

  const std::string& temp_path() const { return temp_path_; }
  const std::string& path() const { return path_; }

 private:
  bool fail(std::string& reason, std::string_view step);

  std::string path_;
  std::string temp_path_;
  int fd_ = -1;
};

}  // namespace textio
