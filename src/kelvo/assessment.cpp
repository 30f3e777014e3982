#include "kelvo/assessment.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "io/domain_file.hpp"
#include "io/domain_tree.hpp"
#include "io/inputs.hpp"
#include "kelvo/dates.hpp"
#include "textio/atomic_file.hpp"

namespace kelvo::cli {

namespace fs = std::filesystem;

namespace {

// The longest path of a file the tools read or write.
constexpr std::size_t longest_name = 4095;

std::string joined(const std::vector<std::string>& names, std::string_view separator = ", ") {
  std::string text;
  for (const std::string& n : names) {
    if (!text.empty()) text += separator;
    text += n;
  }
  return text;
}

bool read_whole_number(std::string_view text, std::int32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// A name that becomes part of file names: not empty, no "/", printable
// characters without blanks.

}  // namespace

void check_name_option(std::string_view option, const std::string& value) {
  if (value.empty()) usage_error(std::string(option) + ": is empty");
  for (const char c : value) {
    if (c == '/') usage_error(std::string(option) + " \"" + value + "\": a name cannot hold \"/\"");
    if (c <= ' ' || c > '~') usage_error(std::string(option) + " \"" + value + "\": a name is printable text without blanks");
  }
}

void check_assessment_options(const AssessmentArgs& a) {
  require("--domain", a.domain);
  require("--param", a.param);
  if (a.obs.empty()) usage_error("--obs is required: the observation list");
  if (!io::names_domain_file(a.domain)) check_name_option("--domain", a.domain);
  if (a.param != "salt" && a.param != "temp") {
    usage_error("--param \"" + a.param + "\": the parameter is salt (salinity) or temp (temperature)");
  }
  parse_layers(a.layers);
  for (const std::string& o : a.obs) {
    if (o.empty()) usage_error("--obs: an empty file name");
  }
  if (a.scale_dir.empty()) usage_error("--scale-dir: an empty folder name");
  if (a.output_option != nullptr && a.output_option->count() > 0 && a.output.empty()) {
    usage_error("-o: an empty file name");
  }
  if (!a.results_dir.empty()) usage_error("--results-dir: kelvo names its output with -o FILE");
}

namespace {

std::string default_marker(const AssessmentArgs& a, const Context& context) {
  return a.scale_dir == context.scale_dir ? " (the built-in default); give --scale-dir DIR, the folder that holds the "
                                            "<Domain>_ASC folders"
                                          : "";
}

// The scale directory, the domain and the parameter exist; the message
// says what does instead.
}  // namespace

void check_tree(const AssessmentArgs& a, const std::string& scale_dir, const Context& context) {
  std::error_code ec;
  if (!fs::is_directory(scale_dir, ec)) {
    const std::string why = fs::exists(scale_dir, ec) ? "not a directory" : "no such directory";
    fail("--scale-dir " + a.scale_dir + ": " + why + default_marker(a, context));
  }
  if (!fs::exists(io::grid_config_path(scale_dir, a.domain), ec)) {
    const std::vector<std::string> found = io::domains_under(scale_dir);
    fail("--domain " + a.domain + ": no such domain under " + scale_dir +
         (found.empty() ? " (no domain there" : " (domains there: " + joined(found)) +
         "); give --scale-dir DIR for the folder that holds " + a.domain + "_ASC");
  }
  if (!fs::exists(io::exponent_file_path(scale_dir, a.domain, a.param, 0), ec)) {
    const std::vector<std::string> found = io::parameters_of(scale_dir, a.domain);
    fail("--param " + a.param + ": " + a.domain + " has no files for " + a.param +
         (found.empty() ? " (nor for any parameter)" : " (parameters with files: " + joined(found) + ")"));
  }
}

namespace {

LayerRange layers_of_grid(const AssessmentArgs& a, const Grid& grid) {
  LayerRange r = parse_layers(a.layers);
  if (r.first == 0) return {1, grid.nz};
  if (r.last > grid.nz) {
    usage_error("--layers " + a.layers + ": " + a.domain + " has layers 1 to " + std::to_string(grid.nz));
  }
  return r;
}

// The lines of an index left out (profiles without a position, moving
// platforms, ...), counted by reason in one warning.
void tell_skipped(const AssessmentArgs& a, const std::string& file, const io::ListReport& r, Context& context) {
  std::string counts;
  for (const io::ListReport::Skipped& s : r.skipped) {
    if (s.reason == "comment" || s.reason == "no temperature or salinity") continue;
    counts += (counts.empty() ? "" : ", ") + std::to_string(s.count) + " " + s.reason;
  }
  if (!counts.empty()) warn(context, a.command, "--obs " + file + ": lines left out: " + counts);
}

// The lines of the lists that could not be read: an error, or with
// --lenient a warning each; and a warning for each list without records.
void check_lists(const AssessmentArgs& a, const Inputs& in, Context& context) {
  for (std::size_t n = 0; n < in.lists.size(); ++n) {
    const io::ListReport& r = in.lists[n];
    const std::string& file = a.obs[n];
    if (r.unreadable_line != 0) {
      const std::string where = file + ":" + std::to_string(r.unreadable_line) + ": " + r.unreadable_problem;
      if (r.index) {
        if (!a.lenient) fail(where + " (--lenient leaves out the index's unreadable lines)");
      } else {
        if (!a.lenient) fail(where + " (--lenient reads the list up to the line before, as kelvo_brino does)");
        warn(context, a.command, where + "; the list ends before this line (--lenient)");
      }
    }
    if (r.lines == 0) warn(context, a.command, "--obs " + file + ": no observation in the file (0 records)");
    tell_skipped(a, file, r, context);
  }
  if (in.twins > 0) {
    warn(context, a.command,
         std::to_string(in.twins) + " records of the --obs files were twins of others (the same platform, time and "
                                    "position) and are counted once");
  }
}

std::int64_t count_kept_of(const Inputs& in, std::size_t source) {
  return std::count_if(in.observations.records.begin(), in.observations.records.end(),
                       [&](const ObservationRecord& r) { return r.source == source; });
}

void warn_about_parameter(const AssessmentArgs& a, const Inputs& in, Context& context) {
  for (std::size_t n = 0; n < in.lists.size(); ++n) {
    const std::int64_t lines = in.lists[n].lines;
    if (lines > 0 && count_kept_of(in, n) == 0) {
      warn(context, a.command,
           "--obs " + a.obs[n] + ": none of its " + std::to_string(lines) + " records measures " + a.param);
    }
  }
}

void warn_about_grid(const AssessmentArgs& a, const Inputs& in, Context& context) {
  const Grid& g = in.domain.grid();
  const float west = std::min(g.lon.front(), g.lon.back()), east = std::max(g.lon.front(), g.lon.back());
  const float south = std::min(g.lat.front(), g.lat.back()), north = std::max(g.lat.front(), g.lat.back());
  const std::int64_t outside =
      std::count_if(in.observations.records.begin(), in.observations.records.end(), [&](const ObservationRecord& r) {
        // On a grid that wraps round every longitude is on it.
        return !((g.periodic || (r.lon >= west && r.lon <= east)) && r.lat >= south && r.lat <= north);
      });
  if (outside == 0) return;
  char box[128];
  std::snprintf(box, sizeof box, "%g to %g E, %g to %g N", static_cast<double>(west), static_cast<double>(east),
                static_cast<double>(south), static_cast<double>(north));
  warn(context, a.command,
       std::to_string(outside) + " of " + std::to_string(in.observations.size()) + " observations lie outside the grid of " +
           in.domain.name() + " (" + box + "); they can cover only points near its edge");
}

void tell_verbose(Context& context, const AssessmentArgs& a, const Inputs& in) {
  const Grid& g = in.domain.grid();
 const std::string source = in.domain_file.empty() ? io::grid_config_path(in.scale_dir, a.domain) : in.domain_file;
  std::string text = "grid " + source + ": " + std::to_string(g.nlon) + " x " +
                     std::to_string(g.nlat) + " points, " + std::to_string(g.nz) + " layers\n";
  for (std::int32_t k = in.domain.first_layer(); k <= in.domain.last_layer(); ++k) text += water_text(in.domain, k);
  for (std::size_t n = 0; n < in.obs.size(); ++n) {
    text += "observations " + in.obs[n] + ": " + std::to_string(in.lists[n].lines) + " records, " +
            std::to_string(count_kept_of(in, n)) + " kept for " + a.param + "\n";
  }
  context.console.write(text);
}

// The ISO day of a day number (day 1.0 is 2001-01-01).
std::string iso_of_day_number(float day) {
  const std::int64_t d = days_from_civil(2001, 1, 1) + static_cast<std::int64_t>(std::floor(day - 1.0f));
  return iso_day(civil_from_days(d, 0, 0), false);
}

// Whether a span is in the time slot of one of the ascending slots: only
// the slots next to the first one at or after start - 1 can be, so those
// are tried with the placement rule itself.
bool in_some_slot(const TimeSpan& span, std::span<const float> slots) {
  const std::size_t at =
      static_cast<std::size_t>(std::lower_bound(slots.begin(), slots.end(), span.start - 1.0f) - slots.begin());
  for (std::size_t n = at == 0 ? 0 : at - 1; n < slots.size() && n <= at + 1; ++n) {
    if (time_at_slot(span, slots[n]) != absent_time) return true;
  }
  return false;
}

std::string quoted_if_needed(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"'$\\*?;&|<>()") == std::string::npos) return word;
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

LayerStream::LayerStream(const Inputs& in, int threads, bool ahead)
    : in_(in), ahead_(ahead && threads > 1), next_(in.first) {
  if (ahead_) start();
}

LayerStream::~LayerStream() {
  // A layer still being read is waited for (and its failure dropped).
  if (coming_.valid()) coming_.wait();
}

void LayerStream::start() {
  if (next_ > in_.last) return;
  const std::int32_t k = next_;
  coming_ = std::async(std::launch::async, [this, k] { return in_.read_layers(k, k); });
}

Domain LayerStream::next() {
  const std::int32_t k = next_++;
  if (!ahead_) return in_.read_layers(k, k);
  Domain d = coming_.get();
  start();
  return d;
}

std::string water_text(const Domain& domain, std::int32_t k) {
  return "layer " + std::to_string(k) + " (level " + std::to_string(domain.grid().level_number(k)) +
         "): " + std::to_string(domain.nwater(k)) + " water points\n";
}

void require(std::string_view option, const std::string& value) {
  if (value.empty()) usage_error(std::string(option) + " is required");
}

LayerRange parse_layers(std::string_view text) {
  if (text.empty()) return {};
  const std::size_t dash = text.find('-');
  LayerRange r;
  const bool ok = dash == std::string_view::npos
                      ? read_whole_number(text, r.first) && (r.last = r.first, true)
                      : read_whole_number(text.substr(0, dash), r.first) && read_whole_number(text.substr(dash + 1), r.last);
  const std::string shown = "--layers " + std::string(text);
  if (!ok) usage_error(shown + ": not a layer N or a range A-B");
  if (r.first < 1) usage_error(shown + ": layers are numbered from 1");
  if (r.last < r.first) usage_error(shown + ": the last layer is before the first");
  return r;
}

void add_assessment_options(CLI::App& command, AssessmentArgs& a, const Context& context, std::string_view output_help) {
  a.command = command.get_name();
  a.scale_dir = context.scale_dir;
  command.add_option("--domain", a.domain,
                     "domain: a name, e.g. NsBs (its files: <scale-dir>/<NAME>_ASC/), or a domain file FILE.nc "
                     "(kelvo domain convert or create writes one); required")
      ->type_name("NAME|FILE.nc");
  add_scale_dir_option(command, a.scale_dir);
  command.add_option("--param", a.param, "parameter: salt (salinity) or temp (temperature); required")
      ->type_name("salt|temp");
  command.add_option("--layers", a.layers, "layers to assess, A-B or one layer N (default: every layer)")
      ->type_name("A-B");
  command.add_option("--obs", a.obs,
                     "observations: a 52-column list or a CSV table (platform,kind,latitude,longitude,time_start,"
                     "time_end,parameters); required, may be given several times")
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  a.output_option = command.add_option("-o,--output", a.output, std::string(output_help))->type_name("FILE");
  command.add_flag("--lenient", a.lenient,
                   "read a list up to a line that cannot be read, with a warning (kelvo_brino's way), "
                   "instead of stopping there");
  add_common_flags(command, a.quiet, a.verbose);
  command.add_option("legacy_arguments", a.positional)->group("");
  command.add_option("--results-dir", a.results_dir)->group("");
}

void refuse_positional_form(const CLI::App& command, const AssessmentArgs& a, const Context& context,
                            std::string_view tag_name, std::string_view ending, bool add_day, bool add_by_kind) {
  if (a.positional.empty()) return;
  const std::string name = "kelvo " + a.command;
  if (a.positional.size() != 6) {
    usage_error("unexpected argument \"" + a.positional.front() + "\": " + name + " takes named options (" + name +
                " --help)");
  }
  const std::vector<std::string>& p = a.positional;
  const std::string results = a.results_dir.empty() ? context.results_dir : a.results_dir;
  std::string out = results + (results.ends_with("/") ? "" : "/") + p[0] + "_" + p[1] + "_" + std::string(tag_name) +
                    "_" + p[5] + std::string(ending);
  std::vector<std::string> words{"kelvo", a.command, "--domain", p[0], "--param", p[1], "--layers", p[2] + "-" + p[3],
                                 "--obs", p[4]};
  bool has_day = false, has_by_kind = false;
  for (const CLI::Option* o : command.get_options()) {
    if (o->count() == 0 || !o->nonpositional() || o->get_lnames().empty()) continue;
    const std::string shown = "--" + o->get_lnames().front();
    if (shown == "--results-dir" || shown == "--help" || shown == "--version") continue;
    has_day = has_day || shown == "--day";
    has_by_kind = has_by_kind || shown == "--by-kind";
    words.push_back(shown);
    if (o->get_items_expected_max() != 0) {  // not a flag
      for (const std::string& v : o->results()) words.push_back(v);
    }
  }
  if (add_day && !has_day) {
    words.push_back("--day");
    words.push_back("2004-01-01");
  }
  if (add_by_kind && !has_by_kind) words.push_back("--by-kind");
  words.push_back("-o");
  words.push_back(out);
  for (std::string& w : words) w = quoted_if_needed(w);
  const std::string line = joined(words, " ");
  usage_error("kelvo_brino's positional form (Domain Par level_start level_end metadata_file run_tag) is not "
              "kelvo's; the same run with named options: " +
              line);
}

void add_scale_dir_option(CLI::App& command, std::string& scale_dir) {
  command.add_option("--scale-dir", scale_dir, "folder of the domains' <NAME>_ASC folders")
      ->capture_default_str()
      ->type_name("DIR");
}

std::int64_t Inputs::list_lines() const {
  std::int64_t n = 0;
  for (const io::ListReport& r : lists) n += r.lines;
  return n;
}

std::string absolute_path(std::string_view path) {
  std::error_code ec;
  const fs::path p = fs::absolute(fs::path(path), ec);
  return (ec ? fs::path(path) : p).lexically_normal().string();
}

namespace {

// The domain of a tree: its grid, the layers of --layers, then the domain
// with the observations. In kelvo a grid that spans 360 degrees east-west
// wraps round.
io::TreeInputs read_from_tree(const AssessmentArgs& a, Inputs& in, Context& context, bool layers_later) {
  if (io::scale_file_path(in.scale_dir, a.domain, a.param, 0, 0).size() > longest_name) {
    usage_error("--scale-dir " + a.scale_dir + ": the domain's file names would be longer than " +
                std::to_string(longest_name) + " characters");
  }
  check_tree(a, in.scale_dir, context);
  const Grid grid = io::read_grid_config(io::grid_config_path(in.scale_dir, a.domain));
  const LayerRange layers = layers_of_grid(a, grid);
  in.first = layers.first;
  in.last = layers.last;
  in.read_layers = [scale_dir = in.scale_dir, domain = a.domain, param = a.param, threads = context.threads](
                       std::int32_t first, std::int32_t last) {
    return io::read_domain_tree(scale_dir, domain, param, first, last, threads, true);
  };
  const auto read = [&] { return layers_later ? in.read_layers(1, 0) : in.read_layers(in.first, in.last); };
  return io::read_domain_inputs(read, a.param, a.obs, context.threads);
}

io::TreeInputs read_from_file(const AssessmentArgs& a, Inputs& in, Context& context, bool layers_later) {
  const io::DomainFileHeader header = domain_file_header(a.domain);
  if (std::find(header.parameters.begin(), header.parameters.end(), a.param) == header.parameters.end()) {
    fail("--param " + a.param + ": " + a.domain + " has no scales of " + a.param + " (its parameters: " +
         joined(header.parameters) + ")");
  }
  const LayerRange layers = layers_of_grid(a, header.grid);
  in.first = layers.first;
  in.last = layers.last;
  in.domain_file = absolute_path(a.domain);
  in.read_layers = [header, param = a.param, threads = context.threads](std::int32_t first, std::int32_t last) {
    return io::read_domain_file(header, param, first, last, threads);
  };
  const auto read = [&] { return layers_later ? in.read_layers(1, 0) : in.read_layers(in.first, in.last); };
  return io::read_domain_inputs(read, a.param, a.obs, context.threads);
}

}  // namespace

io::DomainFileHeader domain_file_header(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    fail("--domain " + path + ": " + (fs::exists(path, ec) ? "not a regular file" : "no such file") +
         " (a domain is a name under --scale-dir, or a domain file FILE.nc)");
  }
  try {
    return io::read_domain_header(path);
  } catch (const Error& e) {
    fail("--domain " + e.message);
  }
}

std::string domain_name_of(const AssessmentArgs& a) {
  return io::names_domain_file(a.domain) ? domain_file_header(a.domain).name : a.domain;
}

Inputs read_inputs(const AssessmentArgs& a, Context& context, bool layers_later) {
  check_assessment_options(a);
  Inputs in;
  in.scale_dir = absolute_path(a.scale_dir);
  if (!in.scale_dir.ends_with("/")) in.scale_dir += '/';
  for (const std::string& o : a.obs) in.obs.push_back(absolute_path(o));
  io::TreeInputs read = io::names_domain_file(a.domain) ? read_from_file(a, in, context, layers_later)
                                                        : read_from_tree(a, in, context, layers_later);
  in.domain = std::move(read.domain);
  in.observations = std::move(read.observations);
  in.lists = std::move(read.lists);
  in.twins = read.twins;
  check_lists(a, in, context);
  warn_about_parameter(a, in, context);
  warn_about_grid(a, in, context);
  if (a.verbose) tell_verbose(context, a, in);
  return in;
}

void warn_about_time_slots(const AssessmentArgs& a, const Inputs& in, std::span<const float> slots,
                           std::string_view when, Context& context) {
  const std::vector<ObservationRecord>& records = in.observations.records;
  if (records.empty() || slots.empty()) return;
  std::int64_t dated = 0, dated_in = 0, in_any = 0;
  float first = 0.0f, last = 0.0f;
  for (const ObservationRecord& r : records) {
    const bool in_slot = in_some_slot(r.time, slots);
    in_any += in_slot ? 1 : 0;
    if (r.time.is_always()) continue;
    first = dated == 0 ? r.time.start : std::min(first, r.time.start);
    last = dated == 0 ? r.time.end : std::max(last, r.time.end);
    ++dated;
    dated_in += in_slot ? 1 : 0;
  }
  if (in_any == 0) {
    warn(context, a.command,
         "no observation of the " + std::to_string(records.size()) + " kept is in the time slot of " + std::string(when));
  } else if (dated > 0 && dated_in == 0) {
    warn(context, a.command,
         "none of the " + std::to_string(dated) + " dated observations is within a day of " + std::string(when) +
             " (they run from " + iso_of_day_number(first) + " to " + iso_of_day_number(last) + "); only " +
             (in_any == 1 ? std::string("the 1 repeating one counts") : "the " + std::to_string(in_any) + " repeating ones count"));
  }
}

void check_output(std::string_view option, const std::string& path, bool standard_output_allowed) {
  const std::string shown = std::string(option) + " " + path;
  if (path.empty()) usage_error(std::string(option) + ": an empty file name");
  if (std::any_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < ' ' || c == 127; })) {
    usage_error(std::string(option) + ": a file name with a control character (a line end, a tab)");
  }
  if (path == "-") {
    if (standard_output_allowed) return;
    usage_error(shown + ": this file cannot be written to standard output; give a file name");
  }
  if (path.back() == '/') usage_error(shown + ": names a folder; give a file name");
  std::error_code ec;
  if (fs::is_directory(path, ec)) fail(shown + ": a directory");
  std::string reason;
  if (!textio::replaceable(path, reason)) fail(shown + ": " + reason);
  const fs::path folder = fs::path(path).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec)) fail(shown + ": no such folder " + folder.string());
}

std::string output_path(const AssessmentArgs& a, std::string_view what, std::string_view stamp, std::string_view ending) {
  if (!a.output.empty()) return a.output;
  std::string name = domain_name_of(a) + "_" + a.param + "_";
  name.append(what).append("_").append(stamp).append(ending);
  return name;
}

io::FileAttributes attributes_of(const AssessmentArgs& a, const Inputs& in, std::string_view day,
                                 const Context& context) {
  io::FileAttributes f = io::file_attributes(in.domain.name(), a.param, in.first, in.last, day, in.scale_dir,
                                             joined(in.obs), context.command_line, std::time(nullptr));
  if (!in.domain_file.empty()) {
    f.grid_configuration_file = in.domain_file;
    f.scale_directory = in.domain_file;
  }
  return f;
}

AssessRequest day_request(const Inputs& in, float slot, bool by_kind, const Context& context) {
  AssessRequest r;
  r.first_layer = in.first;
  r.last_layer = in.last;
  r.slot = slot;
  r.keep_decisions = true;
  r.by_kind = by_kind;
  r.threads = context.threads;
  return r;
}

std::string percent_text(float fraction) {
  if (std::isnan(fraction)) return "n/a";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(fraction) * 100.0);
  return buf;
}

}  // namespace kelvo::cli
