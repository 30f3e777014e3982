#include "kelvo_brino/scale_fields.hpp"

#include <algorithm>
#include <exception>
#include <vector>

#include "kelvo_mod/allocation.hpp"
#include "kelvo_mod/legacy_messages.hpp"
#include "kelvo_mod/parallel.hpp"
#include "textio/fields.hpp"
#include "textio/line_reader.hpp"

namespace kelvo {

namespace {

constexpr std::string_view op = "get_grid";
constexpr int field_width = 8;
constexpr int field_decimals = 5;
constexpr std::string_view scale_suffix[3] = {"_x.dat", "_y.dat", "_t.dat"};
constexpr std::string_view power_suffix[3] = {"_power_x.dat", "_power_y.dat", "_power_t.dat"};

std::string file_stem(const DomainState& ds, std::string_view domain, std::string_view param) {
  const std::string_view code = textio::trim_right(domain);
  std::string name(textio::trim_right(ds.scale_dir));
  name.append(code).append("_ASC/").append(code).append("_").append(textio::trim_right(param));
  return name;
}

[[noreturn]] void open_failure(Reporter& out, std::string_view name) {
  out.stop({stop_head(op), legacy::open_error, name});
}

void open_file(Reporter& out, textio::LineReader& lines, std::string_view name) {
  std::string reason;
  if (!lines.open(std::string(name), reason)) open_failure(out, name);
}

[[noreturn]] void end_of_file(Reporter& out, const DomainState& ds, std::string_view name) {
  out.stop({stop_head(op), legacy::end_of_file, ds.ilat, name});
}

[[noreturn]] void read_error(Reporter& out, const DomainState& ds, std::string_view name) {
  out.stop({stop_head(op), legacy::read_error, name, ds.ilat});
}

// The columns of the next line that hold `nfields` fields. A line too long
// to end within the reader's limit cannot be read; a file the system cannot
// read fails as one that cannot be opened.
std::string_view next_row(Reporter& out, const DomainState& ds, textio::LineReader& lines, std::size_t nfields,
                          std::string_view name) {
  std::string_view line;
  switch (lines.next(nfields * field_width, line)) {
    case textio::LineStatus::line:
      return line;
    case textio::LineStatus::end:
      end_of_file(out, ds, name);
    case textio::LineStatus::too_long:
      read_error(out, ds, name);
    case textio::LineStatus::read_error:
      break;
  }
  open_failure(out, name);
}

// Reads the nlat rows of one scale file into the work field; ilat counts
// the rows as they are read, so a failure names the row that failed.
void read_scale_file(Reporter& out, DomainState& ds, std::string_view name, std::span<float> work) {
  textio::LineReader lines;
  open_file(out, lines, name);
  const std::size_t nlon = static_cast<std::size_t>(ds.nlon);
  ds.ilat = 1;
  for (std::int32_t row = 1; row <= ds.nlat; ++row) {
    const std::string_view line = next_row(out, ds, lines, nlon, name);
    const std::span<float> values(work.data() + (ds.ilat - 1) * nlon, nlon);
    if (!parse_scale_row(line, values)) read_error(out, ds, name);
    ds.ilat = ds.ilat + 1;
  }
}

// Mean and count of the values that carry a scale, summed i fastest then j.
void print_scale_summary(Reporter& out, std::string_view name, std::span<const float> work) {
  float sum = 0.0f;
  std::int32_t count = 0;
  for (float v : work) {
    if (v != no_value) {
      sum += v;
      ++count;
    }
  }
  const float mean = sum / static_cast<float>(count);
  std::string line;
  textio::put_fixed(line, mean, 8, 3);
  textio::put_skip(line, 2);
  textio::put_int(line, count, 8);
  textio::put_skip(line, 1);
  line.append(name).append("\n");
  out.write(line);
}

void read_power_file(Reporter& out, DomainState& ds, std::string_view name, std::int32_t component) {
  out.print({name});
  textio::LineReader lines;
  open_file(out, lines, name);
  std::vector<float> values(static_cast<std::size_t>(ds.nz));
  if (!parse_scale_row(next_row(out, ds, lines, values.size(), name), values)) read_error(out, ds, name);
  for (std::int32_t k = 1; k <= ds.nz; ++k) ds.power(k, component) = values[static_cast<std::size_t>(k - 1)];
}

// One scale file of the run: its padded name, layer and component.
struct ScaleFile {
  std::string padded_name;
  std::int32_t k;
  std::int32_t m;
};

// What reading one scale file on a console of its own left: what it printed
// (its summary line, or its failure message), the row counter, and the
// failure that ended it, if any.
struct ScaleFileOutcome {
  textio::Console console;
  std::int32_t ilat = 0;
  std::exception_ptr failure;
};

// Reads one scale file into `plane` as the single-threaded loop does, with
// a reporter and a state of its own (the grid sizes and the row counter are
// all the reading uses of the state), so that files can be read side by
// side and their lines replayed in order. Without a shared `work` field it
// reads into the plane itself (a file read whole sets every value; one that
// is not ends the run).
ScaleFileOutcome read_scale_file_apart(const DomainState& ds, const ScaleFile& f, std::vector<float>* work,
                                       float* plane) {
  ScaleFileOutcome r;
  Reporter out{r.console};
  DomainState local(BaseDirs{});
  local.nlon = ds.nlon;
  local.nlat = ds.nlat;
  local.ilat = ds.ilat;
  try {
    const std::string_view name = textio::trim_right(f.padded_name);
    const std::size_t size = static_cast<std::size_t>(ds.nlon) * static_cast<std::size_t>(ds.nlat);
    const std::span<float> field = work != nullptr ? std::span<float>(*work) : std::span<float>(plane, size);
    read_scale_file(out, local, name, field);
    print_scale_summary(out, name, field);
    if (work != nullptr) std::copy(work->begin(), work->end(), plane);
  } catch (...) {
    r.failure = std::current_exception();
  }
  r.ilat = local.ilat;
  return r;
}

}  // namespace

std::string scale_file_name(const DomainState& ds, std::string_view domain, std::string_view param,
                            std::int32_t level, std::int32_t component) {
  std::string name = file_stem(ds, domain, param);
  name.append("_scale_lev");
  textio::put_int(name, level, 2, 2);
  name.append(scale_suffix[component - 1]);
  return textio::padded(name, path_length);
}

std::string power_file_name(const DomainState& ds, std::string_view domain, std::string_view param,
                            std::int32_t component) {
  std::string name = file_stem(ds, domain, param);
  name.append(power_suffix[component - 1]);
  return textio::padded(name, path_length);
}

bool parse_scale_row(std::string_view line, std::span<float> values) {
  const std::size_t full = std::min(values.size(), line.size() / field_width);
  for (std::size_t i = 0; i < full; ++i) {
    if (!textio::parse_fixed(line.substr(i * field_width, field_width), field_decimals, values[i])) {
      return false;
    }
  }
  // The rest of a short line: a partial field and then blanks.
  for (std::size_t i = full; i < values.size(); ++i) {
    const std::size_t start = i * field_width;
    const std::string_view field = start < line.size() ? line.substr(start, field_width) : std::string_view();
    if (!textio::parse_fixed(field, field_decimals, values[i])) return false;
  }
  return true;
}

void get_grid(Reporter& out, DomainState& ds, int threads) {
  const std::string_view domain = ds.domain;
  const std::string_view param = ds.param;
  std::vector<float> work;
  allocate(out, work, element_count({ds.nlon, ds.nlat}), no_value, op, "work field");

  // The scale files, in the order a run on one thread reads them.
  std::vector<ScaleFile> files;
  for (std::int32_t k = ds.level_start; k <= ds.level_end; ++k) {
    for (std::int32_t m = 1; m <= 3; ++m) files.push_back({scale_file_name(ds, domain, param, ds.levnum(k), m), k, m});
  }
  std::vector<ScaleFileOutcome> outcomes(files.size());
  try {
    parallel_for(static_cast<std::int64_t>(files.size()), threads, [&](std::int64_t n) {
      const ScaleFile& f = files[static_cast<std::size_t>(n)];
      ScaleFileOutcome& r = outcomes[static_cast<std::size_t>(n)];
      std::vector<float>* own_work = threads <= 1 ? &work : nullptr;
      r = read_scale_file_apart(ds, f, own_work, ds.scale.plane(f.k, f.m));
      if (r.failure) std::rethrow_exception(r.failure);  // no later file is started
    });
  } catch (...) {
    // The first failure in file order is replayed below.
  }
  for (ScaleFileOutcome& r : outcomes) {
    out.write_error(r.console.err);
    out.write(r.console.out);
    ds.ilat = r.ilat;
    if (r.failure) std::rethrow_exception(r.failure);
  }

  for (std::int32_t m = 1; m <= 3; ++m) {
    const std::string padded_name = power_file_name(ds, domain, param, m);
    read_power_file(out, ds, textio::trim_right(padded_name), m);
  }
}

}  // namespace kelvo
