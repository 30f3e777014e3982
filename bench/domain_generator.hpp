// A deterministic generator of a realistic regional sea for the benchmarks:
// a coastline-like water mask that shrinks with depth, decorrelation scales
// of 20-300 km and a few days, and an observation list clustered along the
// coasts and ship tracks, written in the tool's own file formats.
//
// Every number comes from raw 32-bit outputs of std::mt19937 with a fixed
// seed and from IEEE arithmetic (+, -, *, /, sqrt) only, so the same files
// are written by every compiler and library.
#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "legacy/run_state.hpp"

namespace kelvo_bench {

// How the observation list is made: `assessment_day`, a network dated on
// the assessment day or four days later; `operational`, a list as an
// operational service writes it for a regional sea: years of records of
// many platforms of every kind, most dated far from the assessment day,
// moorings and ferry lines at the same positions again and again, a
// quarter of the records outside the grid, lines with a file name after
// the 52 columns.
enum class Network { assessment_day, operational };

// Size and place of a generated domain.
struct DomainSpec {
  std::string label;               // "large" or "quick": names the stamp of a generated tree
  std::string domain = "BenchSea"; // domain code in the file names
  std::string param = "salt";      // parameter of the scale files
  std::int32_t nlon = 400;
  std::int32_t nlat = 300;
  std::int32_t nz = 30;
  std::int32_t nobs = 20000;       // records in the metadata list
  float west = -20.0f;             // a regional sea of 40 x 30 degrees
  float south = 35.0f;
  float dlon = 0.1f;               // about 7 km at 50 N
  float dlat = 0.1f;               // about 11 km
  std::uint32_t seed = 20040101u;
  Network network = Network::assessment_day;
};

// About 400 x 300 points, 30 layers, 20,000 observations.
DomainSpec large_domain();
// 80 x 60 points over the same sea, 3 layers, 2,000 observations.
DomainSpec quick_domain();
// The same sea with an operational list of `nobs` records.
DomainSpec operational(DomainSpec shape, std::int32_t nobs);

// Uniform numbers from the raw outputs of std::mt19937 (the library's own
// distributions differ between implementations).
class Random {
 public:
  explicit Random(std::uint32_t seed) : gen_(seed) {}
  std::uint32_t raw() { return static_cast<std::uint32_t>(gen_()); }
  // Uniform in [0, 1) with 53 random bits.
  double uniform();
  double uniform(double a, double b) { return a + (b - a) * uniform(); }
  // Uniform integer in 0..n-1 (n >= 1).
  std::int32_t pick(std::int32_t n);
  bool chance(double p) { return uniform() < p; }

 private:
  std::mt19937 gen_;
};

// Platform families of the observation list.
enum class Platform { coastal_station, ship_track, profiling_float, surface_drifter };

// One record of the metadata list, in the units of its columns.
struct Observation {
  std::int32_t lat_e4 = 0;      // latitude in 1e-4 degrees
  std::int32_t lon_e4 = 0;      // longitude in 1e-4 degrees
  std::string date;             // hhddmmyyyy
  std::int32_t freq = 0;        // repeats per year; 0 for a one-time observation
  std::int32_t depth_m = 0;     // column 5 (not used by the tool)
  std::int32_t platform_id = 0; // column 6 (not used by the tool)
  bool temp = true;
  bool salt = true;
  std::int32_t kind = 1;        // 2: surface only
  Platform platform = Platform::ship_track;
  bool id_only = false;         // columns 33-36 blank, the platform id in 37-46 (as kelvo import writes it)
  std::string tail;             // text after the 52 columns (a file name), with its leading blank
};

// The whole domain in memory, before it is written as text.
struct Domain {
  DomainSpec shape;
  std::vector<double> depth;        // nlon x nlat, i fastest: larger is deeper
  std::vector<double> threshold;    // per layer: water where depth > threshold
  std::vector<double> reach_x_km;   // nlon x nlat: zonal reach of layer 1
  std::vector<double> reach_y_km;   // meridional reach of layer 1
  std::vector<double> reach_t_days; // time reach of layer 1
  std::vector<std::int32_t> exponent; // per layer: 1 or 2 (all three components)
  std::vector<Observation> obs;

  std::size_t point(std::int32_t i, std::int32_t j) const {  // 1-based
    return static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(shape.nlon) * static_cast<std::size_t>(j - 1);
  }
  bool water(std::int32_t i, std::int32_t j, std::int32_t k) const {
    return depth[point(i, j)] > threshold[static_cast<std::size_t>(k - 1)];
  }
  // Reach of component m (1 x, 2 y, 3 t) at point (i, j) of layer k, in km or days.
  double reach(std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t m) const;
  // The scale entry R^-p of that reach.
  double scale_value(std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t m) const;
  std::int64_t water_points(std::int32_t k) const;
};

Domain build_domain(const DomainSpec& shape);

// ---------------------------------------------------------------- texts

// One eight-column scale field: " 0.01234" (five decimals), or
// "1.234E-5" (four significant digits) with `exponent_form`.
void append_scale_field(std::string& out, double value, bool exponent_form);
// The land marker as written in the files.
inline constexpr const char* marker_field = "99.99900";

// Whether layer k's x and y scales are written in exponent form (the
// squared reaches of exponent 2 are too small for five decimals).
bool exponent_form(const Domain& d, std::int32_t k, std::int32_t m);

std::string grid_cfg_text(const Domain& d);
std::string scale_file_text(const Domain& d, std::int32_t k, std::int32_t m);
std::string power_file_text(const Domain& d, std::int32_t m);
std::string metadata_line(const Observation& o);   // 52 columns, no line end
std::string metadata_text(const Domain& d);

// ---------------------------------------------------------------- files

// Where a domain lives: <root>/BRINO_S/<Dom>_ASC/..., <root>/BRINO_results/
// and the metadata list <root>/<Dom>_obs.lst.
struct DomainFiles {
  std::filesystem::path root;
  std::string domain;
  std::string param;
  std::filesystem::path scale_dir() const { return root / "BRINO_S"; }
  std::filesystem::path results_dir() const { return root / "BRINO_results"; }
  std::filesystem::path asc_dir() const { return scale_dir() / (domain + "_ASC"); }
  std::filesystem::path metadata() const { return root / (domain + "_obs.lst"); }
  std::filesystem::path grid_cfg() const { return asc_dir() / (domain + "_grid_cfg"); }
  std::filesystem::path scale_file(std::int32_t level, std::int32_t m) const;
  std::filesystem::path power_file(std::int32_t m) const;
  // Base directories for the tool, with `results` as the results directory.
  kelvo::legacy::BaseDirs dirs(const std::filesystem::path& results) const;
  kelvo::legacy::BaseDirs dirs() const { return dirs(results_dir()); }
};

DomainFiles domain_files(const DomainSpec& shape, const std::filesystem::path& root);

// Writes every file of the domain under `root`, unless a complete tree of
// the same domain is already there. Returns true when it wrote the files.
bool ensure_domain(const DomainSpec& shape, const std::filesystem::path& root);

// Writes, beside the domain under `root`, the metadata list of the same sea
// with the observations of `shape` (its own nobs) at `list`, unless the
// same list is already there. Returns true when it wrote the list.
bool ensure_metadata_list(const DomainSpec& shape, const std::filesystem::path& list);

// The files a run of layers first..last reads, in the order it reads them
// (the metadata list once).
std::vector<std::filesystem::path> run_input_files(const DomainSpec& shape, const DomainFiles& f,
                                                   std::int32_t first, std::int32_t last);

}  // namespace kelvo_bench
