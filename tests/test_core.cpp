// The core's own types: the one error type and its memory checks, the
// Domain built from a grid and the scales of its layers, observation
// records placed on a day, the names of the platform kinds, and the ObservationSet the list reader builds
// (every record of a list written by the list writer reads back as written).
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <iterator>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/calendar.hpp"
#include "core/domain.hpp"
#include "core/error.hpp"
#include "core/kinds.hpp"
#include "core/observations.hpp"
#include "io/metadata_list.hpp"
#include "support/run_support.hpp"
#include "textio/fields.hpp"

namespace {

TEST(Error, OutOfMemoryNamesTheArrayAndItsSize) {
  EXPECT_EQ(kelvo::element_count({3, 4, 5}), 60u);
  EXPECT_EQ(kelvo::element_count({3, 0, 5}), 0u);
  EXPECT_EQ(kelvo::element_count({-2, 5}), 0u);
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(kelvo::element_count({std::int64_t{1} << 40, std::int64_t{1} << 40}), max);
  struct Case {
    std::uint64_t count, element_size;
    std::string bytes;
  };
  for (const Case& c :
       {Case{max / 2, 4, "more than 18446744073709551615"}, Case{std::uint64_t{1} << 50, 4, "4503599627370496"}}) {
    try {
      kelvo::require_memory("alloc_domain", "scale", c.count, c.element_size);
      ADD_FAILURE() << "no error for " << c.count;
    } catch (const kelvo::Error& e) {
      EXPECT_EQ(e.code, kelvo::ErrorCode::out_of_memory);
      EXPECT_EQ(e.operation, "alloc_domain");
      EXPECT_EQ(e.text_item(0), "scale");
      EXPECT_EQ(e.text_item(1), std::to_string(c.count));
      EXPECT_EQ(e.text_item(2), c.bytes);
      EXPECT_NE(std::string(e.what()).find("cannot allocate scale"), std::string::npos) << e.what();
      EXPECT_EQ(kelvo::exit_status_of(e), kelvo::exit_failure);
    }
  }
  kelvo::require_memory("alloc_domain", "scale", 1000, 4);  // fits
  kelvo::Error usage(kelvo::ErrorCode::usage, "usage", "too few arguments");
  usage.items = {std::int64_t{7}, std::string("x")};
  EXPECT_EQ(kelvo::exit_status_of(usage), kelvo::exit_usage);
  EXPECT_EQ(usage.number_item(0), 7);
  EXPECT_EQ(usage.text_item(1), "x");
  EXPECT_EQ(usage.number_item(1), 0);  // a text is no number
  EXPECT_EQ(usage.text_item(5), "");
}

kelvo::Grid grid_of(std::int32_t nlon, std::int32_t nlat, std::int32_t nz) {
  kelvo::Grid g;
  g.nlon = nlon;
  g.nlat = nlat;
  g.nz = nz;
  for (std::int32_t k = 1; k <= nz; ++k) g.levnum.push_back(10 * k);
  g.west = -5.0f;
  g.south = 50.0f;
  g.dlon = 0.5f;
  g.dlat = 0.25f;
  kelvo::build_axes(g);
  return g;
}

// Layers first..first + values.size() - 1, each plane of n points all at its value.
kelvo::ScaleFields scales_of(std::int32_t first, std::int64_t n, const std::vector<float>& values, std::size_t nz) {
  kelvo::ScaleFields s{first, static_cast<std::int32_t>(values.size()), n, {}, std::vector<kelvo::Exponents>(nz)};
  for (float v : values) s.values.insert(s.values.end(), static_cast<std::size_t>(3 * n), v);
  return s;
}

TEST(Domain, BuiltFromAGridAndConsecutiveLayers) {
  kelvo::ScaleFields scales = scales_of(2, 6, {0.01f, 0.02f}, 4);
  scales.plane(3, 2)[4] = kelvo::no_value;
  scales.exponents = {{1, 1, 1}, {2, 2, 2}, {1.5f, 1.5f, 0.5f}, {1, 1, 1}};
  const kelvo::Domain d = kelvo::Domain::build("Tst", "salt", grid_of(3, 2, 4), scales);
  EXPECT_EQ(d.first_layer(), 2);
  EXPECT_EQ(d.last_layer(), 3);
  EXPECT_EQ(std::vector<std::int32_t>({d.nwater(1), d.nwater(2), d.nwater(3), d.nwater(4)}),
            std::vector<std::int32_t>({0, 6, 5, 0}));
  const std::span<const std::int32_t> water = d.layer(3).water;
  EXPECT_EQ(std::vector<std::int32_t>(water.begin(), water.end()), std::vector<std::int32_t>({1, 1, 1, 1, 0, 1}));
  const kelvo::LayerFields f = d.fields(3);
  EXPECT_EQ(f.ilayer, 3);
  EXPECT_EQ(f.pt, 0.5f);
  EXPECT_EQ(f.sx[0], 0.02f);
  EXPECT_EQ(d.axes().lat[1], 50.25f);
  EXPECT_EQ(d.axes().dxkm.size(), 2u);
  EXPECT_THROW(d.layer(1), kelvo::Error);

  // Pieces that do not fit together.
  struct Misfit {
    const char* what;
    kelvo::ScaleFields scales;
  };
  kelvo::ScaleFields short_block = scales_of(1, 6, {0.01f, 0.01f}, 4);
  short_block.values.pop_back();
  const std::vector<Misfit> misfits{{"a plane of another size", scales_of(1, 5, {0.01f}, 4)},
                                    {"planes missing from the block", short_block},
                                    {"a layer beyond nz", scales_of(4, 6, {0.01f, 0.01f}, 4)},
                                    {"exponents of fewer layers", scales_of(1, 6, {0.01f}, 3)}};
  for (const Misfit& m : misfits) {
    SCOPED_TRACE(m.what);
    try {
      kelvo::Domain::build("Tst", "salt", grid_of(3, 2, 4), m.scales);
      ADD_FAILURE() << "built";
    } catch (const kelvo::Error& e) {
      EXPECT_EQ(e.code, kelvo::ErrorCode::bad_request);
    }
  }
}

TEST(Observations, PlacedInTheSlotWhenTheirSpanComesWithinADay) {
  const float slot = 1096.0f;
  struct Case {
    kelvo::TimeSpan span;
    bool present;
  };
  const float inf = std::numeric_limits<float>::infinity();
  for (const Case& c : {Case{kelvo::TimeSpan::at(1096.75f), true}, Case{kelvo::TimeSpan::at(1095.25f), true},
                        Case{kelvo::TimeSpan::at(1097.0f), false}, Case{kelvo::TimeSpan::at(1095.0f), false},
                        Case{kelvo::TimeSpan::always(), true}, Case{{1000.0f, 1095.5f}, true},
                        Case{{1098.0f, inf}, false}, Case{{-inf, 1090.0f}, false}}) {
    SCOPED_TRACE(std::to_string(c.span.start) + " " + std::to_string(c.span.end));
    EXPECT_EQ(kelvo::time_at_slot(c.span, slot), c.present ? slot : kelvo::absent_time);
  }
  EXPECT_EQ(kelvo::parameter_named("salt"), kelvo::salinity);
  EXPECT_EQ(kelvo::parameter_named("temp"), kelvo::temperature);
  EXPECT_EQ(kelvo::parameter_named("Salt"), 0);
}

// Random records written by the list writer read back, line by line, as the
// records they were: position as the 4-decimal text reads, kind and its
// layers, flags as parameters, a repeating record at every time and a
// one-time record at its date's day number; and the list kept for one
// parameter holds exactly the records that measure it.
TEST(ObservationSet, AListReadsBackAsTheRecordsWritten) {
  kelvo_test::TempDir dir;
  const std::string path = (dir.path / "random.lst").string();
  std::mt19937 rng(2004);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<kelvo::io::ListRecord> written(500);
  kelvo::io::ListWriter list;
  list.create(path);
  for (kelvo::io::ListRecord& r : written) {
    r.lat = static_cast<float>(pick(-900000, 900000)) / 1e4f;
    r.lon = static_cast<float>(pick(-1800000, 3600000)) / 1e4f;
    r = {r.lat, r.lon, pick(1990, 2010), pick(1, 12), pick(1, 28), pick(0, 23), pick(0, 3) == 0 ? 365 : 0,
         pick(0, 1) == 1, pick(0, 1) == 1, pick(0, 9)};
    list.add(r);
  }
  list.commit();
  for (const kelvo::Parameters keep : {kelvo::every_parameter, kelvo::salinity}) {
    kelvo::io::ListReport report;
    const kelvo::ObservationSet set = kelvo::io::read_list(path, keep, &report);
    EXPECT_EQ(report.lines, 500);
    ASSERT_EQ(set.sources, std::vector<std::string>{path});
    std::size_t next = 0;
    for (std::size_t n = 0; n < written.size(); ++n) {
      const kelvo::io::ListRecord& w = written[n];
      const kelvo::Parameters measured = (w.temp ? kelvo::temperature : 0) | (w.salt ? kelvo::salinity : 0);
      if ((measured & keep) == 0) continue;
      ASSERT_LT(next, set.size());
      const kelvo::ObservationRecord& r = set.records[next++];
      SCOPED_TRACE(kelvo::io::list_line(w));
      const std::string line = kelvo::io::list_line(w);
      float lat = 0.0f, lon = 0.0f;
      ASSERT_TRUE(textio::parse_fixed(line.substr(0, 8), 4, lat) && textio::parse_fixed(line.substr(8, 9), 4, lon));
      EXPECT_EQ(r.lat, lat);
      EXPECT_EQ(r.lon, lon);
      EXPECT_EQ(r.kind, w.kind);
      EXPECT_EQ(r.layer, kelvo::io::layer_of_kind(w.kind));
      EXPECT_EQ(r.parameters, measured);
      EXPECT_EQ(r.line, static_cast<std::int64_t>(n + 1));
      EXPECT_EQ(r.source, 0u);
      if (w.frequency > 0) {
        EXPECT_TRUE(r.time.is_always());
      } else {
        const float day = kelvo::day_number(w.month, w.day, w.year, w.hour, 0);
        EXPECT_EQ(r.time.start, day);
        EXPECT_EQ(r.time.end, day);
      }
    }
    EXPECT_EQ(next, set.size());
    EXPECT_EQ(report.left_out.size() + set.size(), written.size());
  }
}

// Every code and every short name the help offers reads back as its kind;
// nothing else does; each kind has one flag meaning.
TEST(Kinds, TheNamesOfferedReadBackAsTheirCodes) {
  std::istringstream choices(kelvo::kind_choices());
  std::string entry;
  std::int32_t code = 0;
  while (std::getline(choices, entry, ',')) {
    ++code;
    std::istringstream words(entry);
    std::int32_t shown = 0;
    std::string names;
    words >> shown >> names;
    EXPECT_EQ(shown, code);
    EXPECT_EQ(kelvo::kind_from_text(std::to_string(code)), code);
    std::istringstream each(names);
    for (std::string name; std::getline(each, name, '|');) {
      EXPECT_EQ(kelvo::kind_from_text(name), code) << name;
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(kelvo::kind_from_text(name), code) << name;
    }
    EXPECT_NE(kelvo::kind_name(code), "unknown kind");
  }
  EXPECT_EQ(code, kelvo::last_kind);
  for (const char* bad : {"0", "8", "-1", "", "4x", " 4", "boat", "floats"}) {
    EXPECT_FALSE(kelvo::kind_from_text(bad).has_value()) << bad;
  }
  std::istringstream meanings(kelvo::kind_flag_meanings());
  std::set<std::string> distinct{std::istream_iterator<std::string>(meanings), {}};
  EXPECT_EQ(distinct.size(), 7u);
}

}  // namespace
