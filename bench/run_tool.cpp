// kelvo_bench_run: one run of the tool on a generated (or any) domain tree,
// for profiling and timing from the shell:
//
//   kelvo_bench_run [--map] [--results DIR] ROOT Domain Par level_start level_end metadata_file run_tag
//
// ROOT holds BRINO_S/ and BRINO_results/, the two base directories the
// installed tool has fixed at build time (--results names another results
// directory). With --map the run is kelvo_map's (when it is built). Console
// and exit status are those of the tool.
#include <cstdio>
#include <string>
#include <vector>

#include "legacy/driver.hpp"
#ifdef KELVO_BENCH_MAP
#include "legacy/map_run.hpp"
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool map = !args.empty() && args[0] == "--map";
  if (map) args.erase(args.begin());
  std::string results;
  if (args.size() >= 2 && args[0] == "--results") {
    results = args[1] + "/";
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: kelvo_bench_run [--map] [--results DIR] ROOT Domain Par level_start level_end list tag\n");
    return 1;
  }
  const std::string root = args[0] + "/";
  args[0] = map ? "kelvo_map" : "kelvo_brino";  // the program path the tool sees
  const kelvo::legacy::BaseDirs dirs{root + "BRINO_S/", results.empty() ? root + "BRINO_results/" : results};
  textio::Console console = textio::standard_console();
  if (!map) return kelvo::legacy::run_kelvo_brino(args, dirs, console);
#ifdef KELVO_BENCH_MAP
  return kelvo::legacy::run_kelvo_map(args, dirs, console);
#else
  std::fprintf(stderr, "kelvo_bench_run: kelvo_map is not built\n");
  return 1;
#endif
}
