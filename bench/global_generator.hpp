// A deterministic generator of a global ocean for the benchmarks at the
// scale of the whole ocean: a periodic domain file of 1/4 degree (1440 x 720
// points, 50 layers) or 1/12 degree, with a synthetic bathymetry of
// continents, shelves and mid-ocean ridges, decorrelation reaches of tens of
// km on the shelves to several hundred km in the open ocean (longer toward
// the equator) and 2-30 days, and a year of a global observing network as a
// CSV table: drifting floats profiling every ten days, moorings and tide
// gauges present all year, surface drifters with daily positions, repeated
// ship lines and glider sections.
//
// Every number comes from std::mt19937 with a fixed seed and from IEEE
// arithmetic and the C library's sin and cos.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvo_bench {

struct GlobalShape {
  std::string label = "global_quarter";
  std::int32_t nlon = 1440;
  std::int32_t nlat = 720;
  std::int32_t nz = 50;
  std::int32_t floats = 5000;     // a profile every ten days each
  std::int32_t moorings = 500;    // moorings and tide gauges, all year
  std::int32_t drifters = 1600;   // a position a day each
  std::int32_t ship_lines = 60;   // each sailed monthly, 25 stations
  std::int32_t gliders = 40;      // 150 days of 6 profiles a day each
  std::uint32_t seed = 20250101u;
};

// 1/4 degree, 50 layers, about 820,000 records; 1/12 degree (4320 x 2160),
// 10 layers, the same network; a small one for the quick test.
GlobalShape quarter_degree();
GlobalShape twelfth_degree();
GlobalShape quick_globe();

// The sea: the depth below sea level of every point (negative on land),
// longitude fastest, and the depth of each layer.
struct GlobalSea {
  GlobalShape shape;
  std::vector<float> lon, lat;
  std::vector<float> depth;
  std::vector<float> layer_depth;
  double dlon() const { return 360.0 / shape.nlon; }
};

GlobalSea build_sea(const GlobalShape& shape);

// The domain file of the sea: parameter temp, reaches from the depth and
// latitude, exponents 2, 2, 1.
void write_global_domain(const GlobalSea& sea, const std::filesystem::path& file);

// The year 2025's network as a CSV table and as the same records in a
// 52-column list (for the plan, which writes a list); returns the number of records.
std::int64_t write_global_network(const GlobalSea& sea, const std::filesystem::path& csv,
                                  const std::filesystem::path& list);

// The domain file and the network under `root` (reused when a stamp says
// they are those of `shape`): <root>/<label>.nc, <root>/<label>_network.csv and .lst.
struct GlobalFiles {
  std::filesystem::path domain;
  std::filesystem::path network;
  std::filesystem::path list;
  std::int64_t records = 0;
};
GlobalFiles ensure_global(const GlobalShape& shape, const std::filesystem::path& root);

}  // namespace kelvo_bench
