// Micro-benchmarks: the reading of eight-column scale fields (one field, a
// whole row, a whole scale file) and the coverage kernel, fast against
// exhaustive, on a small domain held in memory.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "domain_generator.hpp"
#include "core/calendar.hpp"
#include "core/domain.hpp"
#include "io/domain_tree.hpp"
#include "textio/fields.hpp"
#include "textio/lines.hpp"

namespace {

using kelvo_bench::Domain;

const Domain& large() {
  static const Domain d = kelvo_bench::build_domain(kelvo_bench::large_domain());
  return d;
}

const Domain& quick() {
  static const Domain d = kelvo_bench::build_domain(kelvo_bench::quick_domain());
  return d;
}

// Layer 1 has exponent 1 (fields like " 0.01234"), layer 3 exponent 2
// (fields like "1.234E-5"); land points carry the marker.
constexpr std::int32_t layer_fixed = 1;
constexpr std::int32_t layer_exponent = 3;

const std::string& scale_text(std::int32_t k) {
  static const std::string fixed = kelvo_bench::scale_file_text(large(), layer_fixed, 1);
  static const std::string expo = kelvo_bench::scale_file_text(large(), layer_exponent, 1);
  return k == layer_fixed ? fixed : expo;
}

// 4096 fields of one kind, back to back.
std::string fields_of(int kind) {
  constexpr std::size_t count = 4096;
  std::string s;
  if (kind == 3) {
    // As in a scale file of the large domain: its first fields, land included.
    textio::LineSplitter lines{scale_text(layer_fixed)};
    std::string_view line;
    while (s.size() < count * 8 && lines.next(line)) s.append(line);
    s.resize(count * 8);
    return s;
  }
  kelvo_bench::Random rng(7);
  for (std::size_t n = 0; n < count; ++n) {
    const double reach = rng.uniform(20.0, 300.0);
    if (kind == 0) kelvo_bench::append_scale_field(s, 1.0 / reach, false);
    if (kind == 1) kelvo_bench::append_scale_field(s, 1.0 / (reach * reach), true);
    if (kind == 2) s += kelvo_bench::marker_field;
  }
  return s;
}

void BM_parse_fixed(benchmark::State& state) {
  const std::string text = fields_of(static_cast<int>(state.range(0)));
  const std::string_view sv(text);
  const std::size_t n = text.size() / 8;
  for (auto _ : state) {
    float sum = 0.0f;
    for (std::size_t q = 0; q < n; ++q) {
      float v = 0.0f;
      if (!textio::parse_fixed(sv.substr(q * 8, 8), 5, v)) state.SkipWithError("field not read");
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
}
// 0: " 0.01234", 1: "1.234E-5", 2: the marker "99.99900", 3: as in a scale file.
BENCHMARK(BM_parse_fixed)->ArgName("kind")->DenseRange(0, 3);

// Whole rows of 400 fields.
void BM_parse_scale_row(benchmark::State& state) {
  const std::string& text = scale_text(static_cast<std::int32_t>(state.range(0)));
  std::vector<std::string_view> rows;
  textio::LineSplitter lines{text};
  std::string_view line;
  std::int64_t bytes = 0;
  while (lines.next(line)) {
    rows.push_back(line);
    bytes += static_cast<std::int64_t>(line.size());
  }
  std::vector<float> values(static_cast<std::size_t>(large().shape.nlon));
  for (auto _ : state) {
    for (std::string_view row : rows) {
      if (!kelvo::io::parse_scale_row(row, values)) state.SkipWithError("row not read");
      benchmark::DoNotOptimize(values.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
}
// 1: a layer of exponent 1, 3: a layer of exponent 2 (exponent form).
BENCHMARK(BM_parse_scale_row)->ArgName("layer")->Arg(layer_fixed)->Arg(layer_exponent);

// A whole scale file already in memory: line splitting and row parsing into
// the work field, as the reader does.
void BM_parse_scale_file(benchmark::State& state) {
  const std::string& text = scale_text(static_cast<std::int32_t>(state.range(0)));
  const Domain& d = large();
  std::vector<float> work(static_cast<std::size_t>(d.shape.nlon) * static_cast<std::size_t>(d.shape.nlat));
  for (auto _ : state) {
    textio::LineSplitter lines{text};
    std::string_view line;
    for (std::int32_t j = 0; j < d.shape.nlat && lines.next(line); ++j) {
      const std::span<float> row(work.data() + static_cast<std::size_t>(j) * static_cast<std::size_t>(d.shape.nlon),
                                 static_cast<std::size_t>(d.shape.nlon));
      if (!kelvo::io::parse_scale_row(line, row)) state.SkipWithError("row not read");
    }
    benchmark::DoNotOptimize(work.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_parse_scale_file)->ArgName("layer")->Arg(layer_fixed)->Arg(layer_exponent);

// ---------------------------------------------------------------- coverage kernel

// The quick domain as the readers would leave it for the parameter "salt":
// scale values as parsed from their fields, observations kept, placed on
// the slot of 1 January 2004 and assigned to layers.
struct KernelDomain {
  kelvo::Domain domain;
  std::vector<kelvo::Observation> obs;
  float slot = 1096.0f;

  KernelDomain() {
    const Domain& d = quick();
    const kelvo_bench::DomainSpec& s = d.shape;
    kelvo::Grid g;
    g.nlon = s.nlon;
    g.nlat = s.nlat;
    g.nz = s.nz;
    g.west = s.west;
    g.south = s.south;
    g.dlon = s.dlon;
    g.dlat = s.dlat;
    for (std::int32_t k = 1; k <= s.nz; ++k) g.levnum.push_back(k);
    kelvo::build_axes(g);
    kelvo::ScaleFields scales{1, s.nz, g.plane_size(),
                              std::vector<float>(static_cast<std::size_t>(g.plane_size() * 3 * s.nz), kelvo::no_value),
                              {}};
    for (std::int32_t k = 1; k <= s.nz; ++k) {
      const auto p = static_cast<float>(d.exponent[static_cast<std::size_t>(k - 1)]);
      scales.exponents.push_back(kelvo::Exponents{p, p, p});
      for (std::int32_t m = 1; m <= 3; ++m) {
        const std::span<float> plane = scales.plane(k, m - 1);
        const std::string text = kelvo_bench::scale_file_text(d, k, m);
        textio::LineSplitter lines{text};
        std::string_view line;
        const auto nlon = static_cast<std::size_t>(s.nlon);
        for (std::int32_t j = 0; j < s.nlat && lines.next(line); ++j) {
          kelvo::io::parse_scale_row(line, plane.subspan(static_cast<std::size_t>(j) * nlon, nlon));
        }
      }
    }
    domain = kelvo::Domain::build(s.domain, s.param, std::move(g), std::move(scales));

    for (const kelvo_bench::Observation& o : d.obs) {
      if (!o.salt) continue;
      kelvo::Observation& placed = obs.emplace_back();
      placed.lat = static_cast<float>(o.lat_e4) / 1e4f;
      placed.lon = static_cast<float>(o.lon_e4) / 1e4f;
      placed.kind = o.kind;
      if (o.freq > 0) {
        placed.time = slot;
      } else {
        std::int32_t hr = 0, dy = 0, mn = 0, yr = 0;
        textio::parse_int(std::string_view(o.date).substr(0, 2), hr);
        textio::parse_int(std::string_view(o.date).substr(2, 2), dy);
        textio::parse_int(std::string_view(o.date).substr(4, 2), mn);
        textio::parse_int(std::string_view(o.date).substr(6, 4), yr);
        const float jday = kelvo::day_number(mn, dy, yr, hr, 0);
        if (std::fabs(jday - slot) < 1.0f) placed.time = slot;
      }
      placed.layer = o.kind == 2 ? 1 : kelvo::every_layer;
    }
  }
};

KernelDomain& kernel_domain() {
  static KernelDomain k;
  return k;
}

template <kelvo::Evaluation How>
void BM_coverage(benchmark::State& state) {
  KernelDomain& k = kernel_domain();
  const auto layer = static_cast<std::int32_t>(state.range(0));
  const kelvo::GridAxes grid = k.domain.axes();
  const kelvo::LayerFields fields = k.domain.fields(layer);
  const float slot = k.slot;
  std::int32_t ksum = 0;
  for (auto _ : state) {
    ksum = kelvo::count_covered(grid, fields, k.obs, slot, {How, {}, {}, {}});
    benchmark::DoNotOptimize(ksum);
  }
  const kelvo::Evaluation other_how =
      How == kelvo::Evaluation::fast ? kelvo::Evaluation::exhaustive : kelvo::Evaluation::fast;
  const std::int32_t other = kelvo::count_covered(grid, fields, k.obs, slot, {other_how, {}, {}, {}});
  if (other != ksum) state.SkipWithError("fast and exhaustive Ksum differ");
  const std::int32_t nwater = k.domain.nwater(layer);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * nwater);
  state.counters["Nwater"] = nwater;
  state.counters["Ksum"] = ksum;
  state.counters["nobs"] = static_cast<double>(k.obs.size());
}
// Items are water points; layers 1 and 2 have exponent 1, layer 3 exponent 2.
BENCHMARK(BM_coverage<kelvo::Evaluation::fast>)->Name("BM_coverage_fast")->ArgName("layer")->DenseRange(1, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_coverage<kelvo::Evaluation::exhaustive>)->Name("BM_coverage_exhaustive")->ArgName("layer")->DenseRange(1, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
