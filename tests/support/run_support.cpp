#include "support/run_support.hpp"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "legacy/driver.hpp"
#include "textio/fields.hpp"

namespace kelvo_test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kelvo_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // A test may have taken write permission away; give it back before removing.
  std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(path, ec);
}

void write_file(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream f(path, std::ios::binary);
  f << content;
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

RunResult run_tool(const std::vector<std::string>& args, const kelvo::legacy::BaseDirs& dirs,
                   kelvo::Evaluation how) {
  std::vector<std::string> argv{"kelvo_brino"};
  argv.insert(argv.end(), args.begin(), args.end());
  textio::Console console;
  RunResult r;
  r.status = kelvo::legacy::run_kelvo_brino(argv, dirs, console, how);
  r.out = console.out;
  r.err = console.err;
  return r;
}

TestDomain::TestDomain() { std::filesystem::create_directories(results_dir()); }

kelvo::legacy::BaseDirs TestDomain::dirs() const {
  return {scale_dir().string() + "/", results_dir().string() + "/"};
}

std::string fixed_field(float v, int w, int d) {
  std::string s;
  textio::put_fixed(s, v, w, d);
  return s;
}

void TestDomain::grid_cfg(std::int32_t nlon, std::int32_t nlat, std::int32_t nz,
                          const std::vector<int>& levnum, float west, float east, float south,
                          float north, float dlon, float dlat) {
  std::string text = "nlon,nlat,nz    ";
  textio::put_int(text, nlon, 5);
  textio::put_int(text, nlat, 5);
  textio::put_int(text, nz, 5);
  text += "\nlevels          ";
  for (int l : levnum) textio::put_int(text, l, 4);
  text += "\nw,e,s,n         ";
  for (float v : {west, east, south, north}) text += fixed_field(v, 9, 5);
  text += "\ndlon,dlat       ";
  text += fixed_field(dlon, 9, 5) + fixed_field(dlat, 9, 5) + "\n";
  write_file(asc_dir() / (domain + "_grid_cfg"), text);
}

void TestDomain::scale_file(const std::string& param, int level, char comp,
                            const std::vector<std::vector<float>>& rows) {
  std::string text;
  for (const auto& row : rows) {
    for (float v : row) text += fixed_field(v, 8, 5);
    text += '\n';
  }
  std::string lev;
  textio::put_int(lev, level, 2, 2);
  write_file(asc_dir() / (domain + "_" + param + "_scale_lev" + lev + "_" + comp + ".dat"), text);
}

void TestDomain::uniform_scale(const std::string& param, int level, char comp, std::int32_t nlon,
                               std::int32_t nlat, float value) {
  scale_file(param, level, comp,
             std::vector<std::vector<float>>(static_cast<std::size_t>(nlat),
                                             std::vector<float>(static_cast<std::size_t>(nlon), value)));
}

void TestDomain::power_file(const std::string& param, char comp, const std::vector<float>& values) {
  std::string text;
  for (float v : values) text += fixed_field(v, 8, 5);
  write_file(asc_dir() / (domain + "_" + param + "_power_" + comp + ".dat"), text + "\n");
}

std::filesystem::path TestDomain::metadata(const std::vector<std::string>& lines, const std::string& name) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  const auto p = root.path / name;
  write_file(p, text);
  return p;
}

std::string metadata_line(const ObsRecord& r) {
  std::string s = fixed_field(r.lat, 8, 4) + fixed_field(r.lon, 9, 4);
  s += textio::padded(r.date, 10);
  s += fixed_field(r.freq, 5, 0) + fixed_field(0.0f, 4, 0) + fixed_field(0.0f, 10, 0);
  textio::put_int(s, r.temp ? 1 : 0, 2);
  textio::put_int(s, r.salt ? 1 : 0, 2);
  textio::put_int(s, r.kind, 2);
  return s;
}

std::map<std::int32_t, LayerLine> layer_lines(const std::string& out) {
  const std::string prefix = " Ilayer, Nwater, Ksum, Kpct : ";
  std::map<std::int32_t, LayerLine> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) != 0) continue;
    std::istringstream fields(line.substr(prefix.size()));
    std::int32_t layer = 0;
    LayerLine l;
    fields >> layer >> l.nwater >> l.ksum;
    lines[layer] = l;
  }
  return lines;
}


}  // namespace kelvo_test
