// Helpers for tests that run the tool on small domains written to a
// temporary directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/coverage_engine.hpp"
#include "legacy/run_state.hpp"

namespace kelvo_test {

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
struct TempDir {
  std::filesystem::path path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string str() const { return path.string(); }
};

void write_file(const std::filesystem::path& path, const std::string& content);
std::string read_file(const std::filesystem::path& path);

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the whole tool in-process with the program path "kelvo_brino".
RunResult run_tool(const std::vector<std::string>& args, const kelvo::legacy::BaseDirs& dirs,
                   kelvo::Evaluation how = kelvo::Evaluation::fast);

// A test domain: BRINO_S/<domain>_ASC/ with its files, BRINO_results/, and a
// metadata list, all inside one temporary directory.
struct TestDomain {
  TempDir root;
  std::string domain = "Tst";
  std::filesystem::path scale_dir() const { return root.path / "BRINO_S"; }
  std::filesystem::path results_dir() const { return root.path / "BRINO_results"; }
  std::filesystem::path asc_dir() const { return scale_dir() / (domain + "_ASC"); }
  kelvo::legacy::BaseDirs dirs() const;
  TestDomain();

  // The grid configuration file, lines built from the given values.
  void grid_cfg(std::int32_t nlon, std::int32_t nlat, std::int32_t nz, const std::vector<int>& levnum,
                float west, float east, float south, float north, float dlon, float dlat);
  // A scale file of `param`, level number `level`, component 'x', 'y' or 't':
  // one row of fields per latitude, each field written as fixed(8.5).
  void scale_file(const std::string& param, int level, char comp,
                  const std::vector<std::vector<float>>& rows);
  // The same value at every point of an nlon x nlat grid.
  void uniform_scale(const std::string& param, int level, char comp, std::int32_t nlon,
                     std::int32_t nlat, float value);
  void power_file(const std::string& param, char comp, const std::vector<float>& values);
  std::filesystem::path metadata(const std::vector<std::string>& lines, const std::string& name = "meta.lst");
  std::string file_text(const std::filesystem::path& p) const { return read_file(p); }
};

// One metadata record laid out in its nine columns.
struct ObsRecord {
  float lat = 0.0f;
  float lon = 0.0f;
  std::string date = "0001012004";  // hhddmmyyyy
  float freq = 0.0f;
  bool temp = true;
  bool salt = true;
  int kind = 1;
};
std::string metadata_line(const ObsRecord& r);

// Fields as the tool reads them.
std::string fixed_field(float v, int w, int d);

struct LayerLine {
  std::int32_t nwater = -1;
  std::int32_t ksum = -1;
};

// Nwater and Ksum of every " Ilayer, Nwater, Ksum, Kpct : " line, by layer.
std::map<std::int32_t, LayerLine> layer_lines(const std::string& out);

}  // namespace kelvo_test
