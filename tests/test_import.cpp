// kelvo import: index lines of both formats become list records or are
// counted under the reason they were left out; the records read back as
// kelvo_brino reads them and run through it; bad command lines and inputs
// end with their message and status and leave nothing behind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "io/index_observations.hpp"
#include "io/index_scan.hpp"
#include "kelvo/cli.hpp"
#include "kelvo/dates.hpp"
#include "support/list_readback.hpp"
#include "support/nc_read.hpp"
#include "support/run_support.hpp"

namespace {

namespace fs = std::filesystem;
namespace io = kelvo::io;
using kelvo_test::read_file;
using kelvo_test::write_file;
using kelvo_test::NcRead;

const fs::path data_dir = fs::path(KELVO_TEST_DATA_DIR) / "import";

kelvo_test::RunResult kelvo_run(std::vector<std::string> args) {
  args.insert(args.begin(), "kelvo");
  textio::Console console;
  kelvo::cli::Context context{console, "", "", {}, kelvo::threads_from_environment(), {}};
  kelvo_test::RunResult r;
  r.status = kelvo::cli::run(args, context);
  r.out = console.out;
  r.err = console.err;
  return r;
}

// The count of a report line "  <label>  <n>".
long reported(const std::string& out, const std::string& label) {
  const std::size_t at = out.find("  " + label + "  ");
  return at == std::string::npos ? -1 : std::stol(out.substr(at + 2 + label.size()));
}

std::vector<kelvo_test::ReadBack> read_list(const fs::path& list) {
  std::vector<kelvo_test::ReadBack> records;
  const std::string text = read_file(list);
  for (std::size_t p = 0, e; (e = text.find('\n', p)) != std::string::npos; p = e + 1) {
    records.push_back(kelvo_test::read_back(std::string_view(text).substr(p, e - p)));
  }
  return records;
}

// ------------------------------------------------------------ lines and fates

const std::string argo_header = "file,date,latitude,longitude,ocean,profiler_type,institution,date_update";
const std::string bgc_header =
    "file,date,latitude,longitude,ocean,profiler_type,institution,parameters,parameter_data_mode,date_update";
const std::string insitu_header =
    "# catalog_id,file_name,geospatial_lat_min,geospatial_lat_max,geospatial_lon_min,geospatial_lon_max,"
    "time_coverage_start,time_coverage_end,provider,date_update,data_mode,parameters";

std::string argo(const std::string& date, const std::string& lat, const std::string& lon) {
  return "dac/1/profiles/R1_001.nc," + date + "," + lat + "," + lon + ",A,846,IF,20040201000000";
}
std::string bgc(const std::string& params) {
  return "dac/2/profiles/SR2_001.nc,20040110120000,45.5,-10.25,A,836,IF," + params + ",RRR,20040201000000";
}
std::string insitu(const std::string& codes, const std::string& box, const std::string& start = "2004-01-10T07:30:00Z",
                   const std::string& end = "2004-01-10T08:00:00Z", const std::string& params = "PRES TEMP PSAL") {
  return "COP-GLOBAL-01,ftp://host/latest/GL_LATEST_" + codes + "_X1_20040110.nc," + box + "," + start + "," + end +
         ",Coriolis,2004-01-11T00:00:00Z,R," + params;
}
const std::string point = "48.25,48.25,-9.5,-9.5";

// A line and what it becomes: `fate` is the report's name of its reason,
// or "" for a record with the values after it.
struct LineCase {
  std::string line;
  std::string fate{};
  float lat = 0, lon = 0;
  std::string date{};
  int frequency = 0, temp = 0, salt = 0, kind = 0;
};

struct FormatGroup {
  std::string format, header;
  std::vector<LineCase> cases;
};

// Every group is imported with --from 2003-12-01 --to 2004-01-31 --region -20 15 40 65.
std::vector<FormatGroup> line_groups() {
  const std::string moving = "53.9,59.0,4.0,10.5";
  return {
      {"argo", argo_header,
       {{argo("20031231235900", "54.5", "4.25"), "", 54.5f, 4.25f, "2331122003", 0, 1, 1, 4},
        {argo("20040131235959", "40", "-20"), "", 40.0f, -20.0f, "2331012004", 0, 1, 1, 4},
        {argo("20040229000000", "65.0", "15.0"), "outside the window"},
        {argo("20031130235959", "54.5", "4.25"), "outside the window"},
        {argo("20040110120000", "41.0", "350.5"), "", 41.0f, -9.5f, "1210012004", 0, 1, 1, 4},
        {argo("20040110120000", "39.9999", "4.25"), "outside the region"},
        {argo("20040110120000", "54.5", "15.0001"), "outside the region"},
        {argo("20040110120000", "", ""), "no position"},
        {argo("20040110120000", "99999", "99999"), "no position"},
        {argo("20040110120000", "-999.999", "-999.999"), "no position"},
        {argo("2004011012000", "54.5", "4.25"), "unreadable line"},
        {argo("20040230120000", "54.5", "4.25"), "unreadable line"},
        {argo("20040110126000", "54.5", "4.25"), "unreadable line"},
        {argo("20040110120000", "54.x", "4.25"), "unreadable line"},
        {argo("20040110120000", "+-54.5", "4.25"), "unreadable line"},
        {"dac/1/profiles/R1_002.nc,20040110120000,54.5", "unreadable line"},
        {"# a comment after the header", "comment"},
        {"   ", "comment"}}},
      {"argo", bgc_header,
       {{bgc("PRES TEMP PSAL DOXY"), "", 45.5f, -10.25f, "1210012004", 0, 1, 1, 4},
        {bgc("PRES TEMP DOXY"), "", 45.5f, -10.25f, "1210012004", 0, 1, 0, 4},
        {bgc("PRES PSAL"), "", 45.5f, -10.25f, "1210012004", 0, 0, 1, 4},
        {bgc("PRES DOXY CHLA"), "no temperature or salinity"}}},
      {"insitu", insitu_header,
       {{insitu("PR_CT", point), "", 48.25f, -9.5f, "0710012004", 0, 1, 1, 1},
        {insitu("PR_BO", point), "", 48.25f, -9.5f, "0710012004", 0, 1, 1, 1},
        {insitu("TR_DB", point), "", 48.25f, -9.5f, "0710012004", 0, 1, 1, 2},
        {insitu("TS_FB", moving), "moving platform"},
        {insitu("TS_TS", moving, "2003-01-01T00:00:00Z", "2005-01-01T00:00:00Z"), "moving platform"},
        {insitu("TS_SD", point, "2003-12-31T23:59:00Z", "2004-01-02T00:00:00Z"), "", 48.25f, -9.5f, "2331122003", 365, 1, 1, 2},
        {insitu("TS_MO", point, "1998-01-01T00:00:00Z", "2010-01-01T00:00:00Z"), "", 48.25f, -9.5f, "0001011998", 365, 1, 1, 3},
        {insitu("TS_MO", point, "1998-01-01T00:00:00Z", "2003-11-30T23:59:59Z"), "outside the window"},
        {insitu("PR_PF", point), "", 48.25f, -9.5f, "0710012004", 0, 1, 1, 4},
        {insitu("TS_TG", point, "1990-01-01T00:00:00Z", "2004-01-01T00:00:00Z", "SLEV TEMP"), "", 48.25f, -9.5f, "0001011990", 365, 1, 0, 5},
        {insitu("PR_ML", point), "", 48.25f, -9.5f, "0710012004", 0, 1, 1, 5},
        {insitu("PR_GL", point), "", 48.25f, -9.5f, "0710012004", 0, 1, 1, 6},
        {insitu("PR_XB", point, "2004-01-10T07:30:00Z", "", "TEMP"), "", 48.25f, -9.5f, "0710012004", 0, 1, 0, 7},
        {insitu("PR_SM", point), "", 48.25f, -9.5f, "0710012004", 0, 1, 1, 7},
        {insitu("TS_HF", point), "unknown platform type"},
        {insitu("PR_SF", point), "unknown platform type"},
        {insitu("PR_XX", point), "unknown platform type"},
        {insitu("TS_TG", point, "1990-01-01T00:00:00Z", "2004-01-01T00:00:00Z", "SLEV"), "no temperature or salinity"},
        {insitu("PR_PF", ",,,"), "no position"},
        {insitu("PR_PF", point, "2004-01-10 07:30:00"), "unreadable line"},
        {insitu("TS_MO", point, "2004-01-10T07:30:00Z", "2004-01-09T00:00:00Z"), "unreadable line"},
        {"# a comment after the header", "comment"}}},
  };
}

TEST(ImportLines, EachLineReadsBackAsItsRecordOrIsCountedUnderItsReason) {
  for (const FormatGroup& g : line_groups()) {
    SCOPED_TRACE(g.header.substr(0, 40));
    kelvo_test::TempDir tmp;
    std::string text = "# Title : an index excerpt\n" + g.header + "\n";
    for (const LineCase& c : g.cases) text += c.line + "\n";
    write_file(tmp.path / "index.txt", text);
    const fs::path list = tmp.path / "out.lst";
    const auto r = kelvo_run({"import", g.format, (tmp.path / "index.txt").string(), "-o", list.string(), "--from",
                              "2003-12-01", "--to", "2004-01-31", "--region", "-20", "15", "40", "65"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(reported(r.out, "lines read"), static_cast<long>(g.cases.size()) + 2);
    const std::vector<kelvo_test::ReadBack> back = read_list(list);
    std::size_t n = 0;
    for (const LineCase& c : g.cases) {
      if (!c.fate.empty()) continue;
      SCOPED_TRACE(c.line);
      ASSERT_LT(n, back.size());
      const kelvo_test::ReadBack& b = back[n++];
      EXPECT_TRUE(b.ok);
      EXPECT_EQ(b.lat, c.lat);
      EXPECT_EQ(b.lon, c.lon);
      EXPECT_EQ(b.date, c.date);
      EXPECT_EQ(b.frequency, static_cast<float>(c.frequency));
      EXPECT_EQ(b.temp, static_cast<float>(c.temp));
      EXPECT_EQ(b.salt, static_cast<float>(c.salt));
      EXPECT_EQ(b.kind, static_cast<float>(c.kind));
    }
    EXPECT_EQ(back.size(), n);
    for (const char* fate : {"comment", "no position", "moving platform", "outside the window", "outside the region",
                             "no temperature or salinity", "unknown platform type", "unreadable line"}) {
      long expected = std::string(fate) == "comment" ? 1 : 0;
      for (const LineCase& c : g.cases) expected += c.fate == fate;
      EXPECT_EQ(reported(r.out, fate), expected) << fate;
    }
  }
}

// ------------------------------------------------------------ kinds, gzip

TEST(ImportKinds, KindMapReplacesTheTable) {
  struct Case {
    std::vector<std::string> map_option;
    std::vector<float> kinds;  // of the excerpt's records, in order
  };
  const std::vector<Case> cases = {
      {{}, {4, 1, 3, 5, 6, 7}},
      {{"--kind-map", (data_dir / "kind_map.txt").string()}, {4, 3, 5, 1}},
  };
  for (const Case& c : cases) {
    kelvo_test::TempDir tmp;
    std::vector<std::string> args = {"import", "insitu", (data_dir / "insitu_index_excerpt.txt").string(), "-o",
                                     (tmp.path / "out.lst").string()};
    args.insert(args.end(), c.map_option.begin(), c.map_option.end());
    ASSERT_EQ(kelvo_run(args).status, 0);
    std::vector<float> kinds;
    for (const auto& b : read_list(tmp.path / "out.lst")) kinds.push_back(b.kind);
    EXPECT_EQ(kinds, c.kinds);
  }
}

void gzip_file(const fs::path& from, const fs::path& to, std::size_t keep_bytes = std::string::npos) {
  const std::string text = read_file(from);
  gzFile gz = gzopen(to.c_str(), "wb");
  ASSERT_NE(gz, nullptr);
  ASSERT_EQ(gzwrite(gz, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
  ASSERT_EQ(gzclose(gz), Z_OK);
  if (keep_bytes != std::string::npos) fs::resize_file(to, keep_bytes);
}

TEST(ImportInput, GzipIndexReadsLikeThePlainOneAndATruncatedOneFails) {
  for (const auto& [format, excerpt] : {std::pair{"argo", "argo_prof_excerpt.txt"}, {"insitu", "insitu_index_excerpt.txt"}}) {
    kelvo_test::TempDir tmp;
    gzip_file(data_dir / excerpt, tmp.path / "index.gz");
    gzip_file(data_dir / excerpt, tmp.path / "cut.gz", 200);
    const auto plain = kelvo_run({"import", format, (data_dir / excerpt).string(), "-o", (tmp.path / "a.lst").string()});
    const auto gz = kelvo_run({"import", format, (tmp.path / "index.gz").string(), "-o", (tmp.path / "b.lst").string()});
    const auto cut = kelvo_run({"import", format, (tmp.path / "cut.gz").string(), "-o", (tmp.path / "c.lst").string()});
    ASSERT_EQ(plain.status, 0);
    ASSERT_EQ(gz.status, 0);
    EXPECT_EQ(gz.out.substr(0, gz.out.find("written")), plain.out.substr(0, plain.out.find("written")));
    EXPECT_EQ(read_file(tmp.path / "b.lst"), read_file(tmp.path / "a.lst"));
    EXPECT_EQ(cut.status, 2);
    EXPECT_NE(cut.err.find("cannot read"), std::string::npos) << cut.err;
    EXPECT_FALSE(fs::exists(tmp.path / "c.lst"));
  }
}

// ------------------------------------------------------------ limit, kelvo_brino

TEST(ImportLimit, AListHoldsAtMost99999Records) {
  for (const auto& [lines, status] : {std::pair{99999, 0}, {100000, 2}}) {
    kelvo_test::TempDir tmp;
    std::string text = argo_header + "\n";
    for (int i = 0; i < lines; ++i) text += argo("20040110120000", "54.5", std::to_string(i % 90)) + "\n";
    write_file(tmp.path / "index.txt", text);
    const auto r = kelvo_run({"import", "argo", (tmp.path / "index.txt").string(), "-o", (tmp.path / "o.lst").string()});
    EXPECT_EQ(r.status, status);
    if (status == 0) {
      EXPECT_EQ(read_list(tmp.path / "o.lst").size(), 99999u);
    } else {
      EXPECT_EQ(r.err.rfind("kelvo import: 100000 records matched, more than the 99999", 0), 0u) << r.err;
    }
    EXPECT_EQ(fs::exists(tmp.path / "o.lst"), status == 0);
  }
}

TEST(ImportBrino, ImportedListsRunThroughKelvoBrino) {
  kelvo_test::TestDomain d;
  d.grid_cfg(8, 6, 1, {1}, -20.0f, 15.0f, 40.0f, 65.0f, 5.0f, 5.0f);
  for (const std::string par : {"salt", "temp"}) {
    for (const char comp : {'x', 'y', 't'}) {
      d.uniform_scale(par, 1, comp, 8, 6, 1.0f);
      d.power_file(par, comp, {1.0f});
    }
  }
  for (const auto& [format, excerpt] : {std::pair{"argo", "argo_prof_excerpt.txt"}, {"argo", "argo_synthetic_excerpt.txt"},
                                        {"insitu", "insitu_index_excerpt.txt"}}) {
    SCOPED_TRACE(excerpt);
    const std::string list = (d.root.path / "net.lst").string();
    const auto r = kelvo_run({"import", format, (data_dir / excerpt).string(), "-o", list, "--domain", "Tst",
                              "--scale-dir", d.scale_dir().string() + "/"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_GT(reported(r.out, "all kinds"), 0);
    const auto b = kelvo_test::run_tool({"Tst", "salt", "1", "1", list, "imp"}, d.dirs());
    EXPECT_EQ(b.status, 0) << b.out;
    const std::string written = std::to_string(reported(r.out, "all kinds"));
    EXPECT_NE(b.out.find(" Nobs in metadata " + std::string(13 - written.size(), ' ') + written + "\n"), std::string::npos)
        << b.out;
  }
}

// ------------------------------------------------------------ command line

TEST(ImportCommandLine, BadInputEndsWithItsMessageAndStatusAndWritesNothing) {
  struct Case {
    std::vector<std::string> args;  // after "kelvo"; @D the data folder, @T the temporary one
    int status;
    std::string message;  // how standard error (or output, for status 0) starts
  };
  const std::string argo_in = "@D/argo_prof_excerpt.txt", insitu_in = "@D/insitu_index_excerpt.txt";
  const std::vector<Case> cases = {
      {{"--version"}, 0, "kelvo 0.5.0\n"},
      {{}, 1, "kelvo: a command is required"},
      {{"import", "argo", argo_in, "-o", "@T/o.lst", "--bogus"}, 1, "kelvo import: The following argument was not expected: --bogus"},
      {{"import", "argo", argo_in}, 1, "kelvo import: --output is required"},
      {{"import", "argo", "-o", "@T/o.lst"}, 1, "kelvo import: INDEX: give at least one index file"},
      {{"import", "argo", argo_in, "-o", "@T/o.lst", "--region", "1", "2", "3", "4", "--domain", "X"}, 1, "kelvo import: --region excludes --domain"},
      {{"import", "argo", argo_in, "-o", "@T/o.lst", "--region", "a", "2", "3", "4"}, 1, "kelvo import: Could not convert: --region"},
      {{"import", "argo", argo_in, "-o", "@T/o.lst", "--region", "10", "10", "3", "4"}, 1, "kelvo import: --region: west is not west of east"},
      {{"import", "argo", argo_in, "-o", "@T/o.lst", "--region", "1", "2", "4", "4"}, 1, "kelvo import: --region: south is not south of north"},
      {{"import", "argo", argo_in, "-o", "@T/o.lst", "--domain", "a/b"}, 1, "kelvo import: --domain \"a/b\": a domain name cannot hold \"/\""},
      {{"import", "argo", argo_in, "-o", "@T/o.lst", "--domain", "Nod", "--scale-dir", "@T"}, 2, "kelvo import: --domain Nod: cannot open the grid configuration @T/Nod_ASC/Nod_grid_cfg: No such file or directory"},
      {{"import", "argo", argo_in, "-o", "@T/o.lst", "--from", "2004-02-30"}, 1, "kelvo import: --from \"2004-02-30\": no such day"},
      {{"import", "argo", argo_in, "-o", "@T/o.lst", "--from", "2004-02-01", "--to", "2004-01-31"}, 1, "kelvo import: --from 2004-02-01 is not before"},
      {{"import", "argo", "@T/none.txt", "-o", "@T/o.lst"}, 2, "kelvo import: cannot open @T/none.txt: No such file or directory"},
      {{"import", "argo", "@T", "-o", "@T/o.lst"}, 2, "kelvo import: cannot open @T: Is a directory"},
      {{"import", "argo", insitu_in, "-o", "@T/o.lst"}, 2, "kelvo import: @D/insitu_index_excerpt.txt: an in-situ index, not the Argo profile index asked for"},
      {{"import", "argo", "@D/kind_map.txt", "-o", "@T/o.lst"}, 2, "kelvo import: Argo profile index @D/kind_map.txt: no header line"},
      {{"import", "insitu", "@T/nocol.txt", "-o", "@T/o.lst"}, 2, "kelvo import: in-situ index @T/nocol.txt line 1: the header line has no column parameters"},
      {{"import", "insitu", insitu_in, "-o", "@T/o.lst", "--kind-map", "@T/none.map"}, 2, "kelvo import: cannot open @T/none.map"},
      {{"import", "insitu", insitu_in, "-o", "@T/o.lst", "--kind-map", "@T/bad.map"}, 2, "kelvo import: kind map @T/bad.map line 2: the kind \"9\" is not a number from 1 to 7"},
      {{"import", "insitu", insitu_in, "-o", "@T/no/o.lst"}, 2, "kelvo import: -o @T/no/o.lst: no such folder @T/no"},
      {{"import", "insitu", insitu_in, "-o", "@T"}, 2, "kelvo import: -o @T: a directory"},
      {{"import", "insitu", "@T/nocol.txt", "-o", "@T/nocol.txt"}, 2, "kelvo import: -o @T/nocol.txt: the list would replace the input file"},
  };
  for (const Case& c : cases) {
    kelvo_test::TempDir tmp;
    write_file(tmp.path / "nocol.txt", insitu_header.substr(2, insitu_header.rfind(',') - 2) + "\n");
    write_file(tmp.path / "bad.map", "PF 4\nMO 9\n");
    const auto subst = [&](std::string s) {
      for (const auto& [from, to] : {std::pair{"@D", data_dir.string()}, {"@T", tmp.str()}}) {
        for (std::size_t p; (p = s.find(from)) != std::string::npos;) s.replace(p, 2, to);
      }
      return s;
    };
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(subst(a));
    SCOPED_TRACE(testing::PrintToString(args));
    const auto r = kelvo_run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ((c.status == 0 ? r.out : r.err).rfind(subst(c.message), 0), 0u) << r.err;
    std::size_t entries = 0;
    for (const auto& e : fs::directory_iterator(tmp.path)) entries += e.path().filename() != "nocol.txt" && e.path().filename() != "bad.map";
    EXPECT_EQ(entries, 0u);
  }
}

TEST(OptionDates, GregorianDatesWithAnOptionalTimeOfDay) {
  struct Case {
    const char* text;
    bool ok;
    kelvo::cli::OptionDate date;
  };
  const std::vector<Case> cases = {
      {"2004-02-29", true, {2004, 2, 29, 0, 0, false}},      {"2000-02-29T23:59", true, {2000, 2, 29, 23, 59, true}},
      {"0001-01-01T00:00", true, {1, 1, 1, 0, 0, true}},     {"2004-02-30", false, {}},
      {"2003-02-29", false, {}},                             {"1900-02-29", false, {}},
      {"2004-13-01", false, {}},                             {"2004-00-10", false, {}},
      {"0000-01-01", false, {}},                             {"2004-01-01T24:00", false, {}},
      {"2004-01-01T12:60", false, {}},                       {"2004-01-01x", false, {}},
      {"2004-01-01T12:00Z", false, {}},                      {"2004-1-01", false, {}},
      {"today", false, {}},                                  {"", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      const kelvo::cli::OptionDate d = kelvo::cli::parse_option_date("--day", c.text);
      EXPECT_TRUE(c.ok);
      EXPECT_EQ(std::vector<int>({d.year, d.month, d.day, d.hour, d.minute, d.has_time}),
                std::vector<int>({c.date.year, c.date.month, c.date.day, c.date.hour, c.date.minute, c.date.has_time}));
    } catch (const kelvo::Error& f) {
      EXPECT_FALSE(c.ok);
      EXPECT_EQ(f.message.rfind("--day \"" + std::string(c.text) + "\": ", 0), 0u) << f.message;
    }
  }
  // The end of a date alone is the next day; of a date and time, the next minute.
  const auto day = kelvo::cli::parse_option_date("--to", "2004-12-31");
  const auto minute = kelvo::cli::parse_option_date("--to", "2004-12-31T23:59");
  EXPECT_EQ(kelvo::cli::end_second(day), kelvo::seconds_of(2005, 1, 1, 0, 0, 0));
  EXPECT_EQ(kelvo::cli::end_second(minute), kelvo::cli::end_second(day));
  EXPECT_EQ(kelvo::cli::first_second(day), 1104451200);
}


// ------------------------------------------------------------ platforms, spans and twins

// An Argo index and an in-situ index holding the same three profiles of
// float 6900111 (the in-situ times to the second differ, the minutes do
// not), each index with observations of its own: the import keeps the
// twins once with their ids and the series' ends; the list keeps digit ids
// and says what it cannot hold; kelvo map gives the same results from the
// two indexes as from the table imported from them.
TEST(ImportPlatforms, TwinsAcrossTheIndexesAreKeptOnceWithIdsAndEnds) {
  kelvo_test::TempDir t;
  const std::vector<std::array<std::string, 3>> profiles = {
      {"20040101052030", "55.1000", "2.5000"}, {"20040102052030", "55.2000", "2.7000"}, {"20040103052030", "55.3000", "2.9000"}};
  std::string argo_text = argo_header + "\n", insitu_text = insitu_header + "\n";
  for (const auto& [date, lat, lon] : profiles) {
    argo_text += "coriolis/6900111/profiles/R6900111_0" + date.substr(6, 2) + ".nc," + date + "," + lat + "," + lon +
                 ",A,846,IF,20040201000000\n";
    const std::string iso = date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2) + "T05:20:59Z";
    insitu_text += "COP-GLOBAL-01,latest/GL_LATEST_PR_PF_6900111_" + date.substr(0, 8) + ".nc," + lat + "," + lat + "," +
                   lon + "," + lon + "," + iso + "," + iso + ",Coriolis,2004-02-01T00:00:00Z,R,PRES TEMP PSAL\n";
  }
  argo_text += "coriolis/6900222/profiles/R6900222_001.nc,20040101120000,57.0000,4.0000,A,846,IF,20040201000000\n";
  // Two hours after the first profile, at its place: the same quarter of a day, another observation.
  insitu_text += "COP-GLOBAL-01,latest/GL_LATEST_PR_PF_6900111_x.nc,55.1000,55.1000,2.5000,2.5000,2004-01-01T07:20:00Z,"
                 "2004-01-01T07:20:00Z,Coriolis,2004-02-01T00:00:00Z,R,PRES TEMP PSAL\n";
  insitu_text +=
      "COP-GLOBAL-01,history/MO/IR_TS_MO_Bilbao.nc,56.0000,56.0000,3.0000,3.0000,2003-01-01T00:00:00Z,"
      "2004-06-30T23:00:00Z,PdE,2004-07-01T00:00:00Z,R,TEMP PSAL\n"
      "COP-GLOBAL-01,history/MO/GL_TS_MO_62001.nc,58.0000,58.0000,1.0000,1.0000,2003-01-01T00:00:00Z,"
      "2005-01-01T00:00:00Z,PdE,2005-01-02T00:00:00Z,R,TEMP PSAL\n";
  write_file(t.path / "argo.txt", argo_text);
  write_file(t.path / "insitu.txt", insitu_text);
  const std::string argo_path = (t.path / "argo.txt").string(), insitu_path = (t.path / "insitu.txt").string();

  const auto csv = kelvo_run({"import", argo_path, insitu_path, "-o", (t.path / "net.csv").string()});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(reported(csv.out, "twins of other files"), 3);
  EXPECT_EQ(reported(csv.out, "all kinds"), 7);
  EXPECT_EQ(reported(csv.out, "platforms"), 4);
  const std::string table = read_file(t.path / "net.csv");
  EXPECT_NE(table.find("\n6900111,4,55.1000,2.5000,2004-01-01T05:20Z,,TEMP PSAL\n"), std::string::npos) << table;
  EXPECT_NE(table.find("\nBilbao,3,56.0000,3.0000,2003-01-01T00:00Z,2004-06-30T23:00Z,TEMP PSAL\n"), std::string::npos);

  const auto list = kelvo_run({"import", argo_path, insitu_path, "-o", (t.path / "net.lst").string()});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(reported(list.out, "series ends not in the list"), 2);
  EXPECT_EQ(reported(list.out, "ids not in the list"), 1);  // Bilbao
  EXPECT_NE(list.err.find("2 time series are written as records that repeat every day"), std::string::npos);
  std::vector<std::string> ids;
  for (const kelvo_test::ReadBack& r : read_list(t.path / "net.lst")) ids.push_back(r.platform);
  EXPECT_EQ(ids, (std::vector<std::string>{"6900111", "6900111", "6900111", "6900222", "6900111", "", "62001"}));

  const auto map = [&](const std::vector<std::string>& obs, const std::string& out) {
    std::vector<std::string> args{"map", "--domain", "NsBs", "--scale-dir", (fs::path(KELVO_SOURCE_DIR) / "sample" / "BRINO_S").string(),
                                  "--param", "salt", "--day", "2004-01-02", "-o", (t.path / out).string()};
    for (const std::string& o : obs) args.insert(args.end(), {"--obs", o});
    const auto r = kelvo_run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r;
  };
  const auto both = map({argo_path, insitu_path}, "both.nc");
  EXPECT_NE(both.err.find("3 records of the --obs files were twins of others"), std::string::npos) << both.err;
  map({(t.path / "net.csv").string()}, "table.nc");
  const NcRead from_indexes(t.path / "both.nc"), from_table(t.path / "table.nc");
  EXPECT_EQ(from_indexes.ints("covered_points"), from_table.ints("covered_points"));
  EXPECT_EQ(from_indexes.bytes("obs_present"), from_table.bytes("obs_present"));
  EXPECT_EQ(from_indexes.strings("obs_platform"), from_table.strings("obs_platform"));
  EXPECT_EQ(from_table.strings("obs_platform"),
            (std::vector<std::string>{"6900111", "6900111", "6900111", "6900222", "6900111", "Bilbao", "62001"}));
}


// The records kelvo map reads from an index, parsed in blocks of whole
// lines on one thread or two, are those import reads line by line, with
// their platforms, minutes and lines, across block boundaries, with CR-LF
// line ends and a last line without one, plain or gzip.
TEST(ImportPlatforms, BlocksOfAnIndexGiveTheRecordsOfItsLines) {
  kelvo_test::TempDir t;
  std::string text = argo_header + "\n";
  for (int n = 0; n < 70000; ++n) {
    char line[160];
    std::snprintf(line, sizeof line, "aoml/%d/profiles/R%d_%03d.nc,2004%02d%02d%02d%02d00,%.3f,%.3f,A,846,AO,20040201000000%s",
                  3900000 + n / 90, 3900000 + n / 90, n % 90, 1 + n % 12, 1 + n % 28, n % 24, n % 60, -60.0 + n % 1200 * 0.1,
                  -179.0 + n % 3580 * 0.1, n % 7 == 0 ? "\r\n" : "\n");
    text += n % 5000 == 17 ? "dac/1/profiles/R1_001.nc,2004,1,1,A,846,AO,2004\n" : line;  // unreadable now and then
  }
  text.pop_back();  // the last line without its end
  write_file(t.path / "index.txt", text);
  gzFile gz = gzopen((t.path / "index.txt.gz").c_str(), "wb");
  ASSERT_EQ(gzwrite(gz, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
  gzclose(gz);

  const std::vector<io::IndexFile> files{{io::IndexFormat::argo, (t.path / "index.txt").string()}};
  const io::ImportResult lines = io::import_indexes(files, io::Selection{io::Window{}, false, {}, io::standard_kinds()});
  ASSERT_GT(lines.records.size(), 60000u);
  for (const char* name : {"index.txt", "index.txt.gz"}) {
    for (const int threads : {1, 2}) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(threads));
      io::ListReport report;
      const kelvo::ObservationSet blocks = io::read_index_observations(
          io::IndexFormat::argo, (t.path / name).string(), kelvo::every_parameter, &report, threads);
      ASSERT_EQ(blocks.size(), lines.records.size());
      EXPECT_EQ(report.unreadable_line, 18 + 1);  // after the header line
      for (std::size_t n = 0; n < blocks.size(); ++n) {
        const kelvo::ObservationRecord& r = blocks.records[n];
        const io::ImportedRecord& l = lines.records[n];
        ASSERT_TRUE(r.lat == l.list.lat && r.lon == l.list.lon && r.start_minute == l.start_minute) << n;
        ASSERT_EQ(blocks.platforms[r.platform], lines.platforms[l.platform]) << n;
      }
      const kelvo::ObservationRecord& last = blocks.records.back();
      EXPECT_EQ(last.line, 70001);
    }
  }
}

}  // namespace
