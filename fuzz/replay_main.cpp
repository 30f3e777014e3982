// Replays inputs through a fuzz target without libFuzzer, so that the
// committed corpus (and every crash input added to it) runs in the normal
// test suite with the normal compiler. Arguments: files or directories
// (every regular file in them, in name order). A broken invariant aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

void replay(const fs::path& file) {
  std::ifstream f(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int a = 1; a < argc; ++a) {
    const fs::path p = argv[a];
    std::vector<fs::path> files;
    if (fs::is_directory(p)) {
      for (const auto& e : fs::directory_iterator(p))
        if (e.is_regular_file()) files.push_back(e.path());
      std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(p)) {
      files.push_back(p);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[a]);
      return 1;
    }
    for (const fs::path& f : files) {
      replay(f);
      ++count;
    }
  }
  if (count == 0) {
    std::fprintf(stderr, "no inputs replayed\n");
    return 1;
  }
  std::printf("%zu inputs replayed, every invariant held\n", count);
  return 0;
}
