// kelvo import INDEX...: the observations of the index files of an observing
// network (the Argo profile index, the in-situ index files, each told from
// its content) as a CSV table or a metadata list for kelvo_brino, with a
// report of what was kept and why the other lines were left out.
#include <filesystem>
#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/kinds.hpp"
#include "io/domain_tree.hpp"
#include "io/index_observations.hpp"
#include "io/index_scan.hpp"
#include "io/observation_csv.hpp"
#include "kelvo/assessment.hpp"
#include "kelvo/commands.hpp"
#include "kelvo/dates.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

using io::ImportResult;
using io::ImportTally;
using io::IndexFormat;
using io::LineFate;
using io::Selection;
using io::UnreadableNote;
using io::Window;

// The longest grid configuration path the tools build.
constexpr std::size_t longest_name = 255;

struct ImportOptions {
  std::string command = "kelvo import";
  std::vector<std::string> indexes;  // may start with the word argo or insitu
  std::string output;
  std::string format;  // csv or list; from the output's name when empty
  std::string from;
  std::string to;
  std::vector<double> region;
  std::string domain;
  std::string kind_map;
  std::string scale_dir;
  bool quiet = false;
  bool verbose = false;
};

Window window_of(const ImportOptions& o) {
  Window w;
  if (!o.from.empty()) w.from = first_second(parse_option_date("--from", o.from));
  if (!o.to.empty()) w.to_end = end_second(parse_option_date("--to", o.to));
  if (w.from >= w.to_end) usage_error("--from " + o.from + " is not before the end of --to " + o.to);
  return w;
}

// A domain name that can name a domain folder: not empty, no "/",
// printable characters without blanks, and a grid configuration path within
// the length the tools build.
void check_domain_name(const std::string& scale_dir, const std::string& domain) {
  if (domain.empty()) usage_error("--domain: the domain name is empty");
  for (const char c : domain) {
    if (c == '/') usage_error("--domain \"" + domain + "\": a domain name cannot hold \"/\"");
    if (c <= ' ' || c > '~') usage_error("--domain \"" + domain + "\": a domain name is printable text without blanks");
  }
  if (io::grid_config_path(scale_dir, domain).size() >= longest_name) {
    fail("--domain " + domain + ": the grid configuration path is longer than " + std::to_string(longest_name - 1) +
         " characters (--scale-dir " + scale_dir + ")");
  }
}

// The box (west east south north) of the domain's grid configuration.
Region domain_box(const std::string& scale_dir, const std::string& domain) {
  try {
    const Grid g = io::read_grid_config(io::grid_config_path(scale_dir, domain));
    return {g.west, g.east, g.south, g.north};
  } catch (Error& e) {
    e.message = "--domain " + domain + ": " + e.message;
    throw;
  }
}

Selection selection_of(const ImportOptions& o) {
  Selection s;
  s.window = window_of(o);
  if (o.region.size() == 4) {
    try {
      s.region = make_region("--region", o.region[0], o.region[1], o.region[2], o.region[3]);
    } catch (Error& e) {
      e.code = ErrorCode::usage;  // judged from the option alone
      throw;
    }
    s.has_region = true;
  } else if (!o.domain.empty()) {
    std::string dir = absolute_path(o.scale_dir);
    if (!dir.ends_with("/")) dir += '/';
    check_domain_name(dir, o.domain);
    const Region box = domain_box(dir, o.domain);
    s.region = make_region("--domain " + o.domain, box.west, box.east, box.south, box.north);
    s.has_region = true;
  }
  s.kinds = o.kind_map.empty() ? io::standard_kinds() : io::read_kind_map(o.kind_map);
  return s;
}

// Writing the list over an index or the kind map would destroy an input;
// a directory of the list's name would fail only after every index is read.
void check_output_is_no_input(const ImportOptions& o) {
  check_output("-o", o.output, true);
  if (o.output == "-") return;
  std::error_code ec;
  std::vector<std::string> inputs = o.indexes;
  if (!o.kind_map.empty()) inputs.push_back(o.kind_map);
  for (const std::string& in : inputs) {
    if (in == o.output || std::filesystem::equivalent(in, o.output, ec)) {
      fail("-o " + o.output + ": the list would replace the input file " + in);
    }
  }
}

void count_line(std::string& out, std::string_view label, std::int64_t value) {
  out += "  ";
  out += textio::padded(label, 30);
  textio::put_int(out, value, 10);
  out += '\n';
}

// What the written file cannot say: platform ids a list cannot hold, time
// series whose end a list cannot hold.
struct ListLosses {
  std::int64_t platform_ids = 0;
  std::int64_t ends = 0;
};

std::string report(const ImportOptions& o, const ImportResult& r, std::size_t files, const ListLosses& lost) {
  const ImportTally& t = r.tally;
  std::string out;
  count_line(out, "index files", static_cast<std::int64_t>(files));
  count_line(out, "lines read", t.lines_read);
  count_line(out, "header lines", t.header_lines);
  out += "records written by kind\n";
  for (int k = io::min_kind; k <= io::max_kind; ++k) {
    const std::int64_t n = t.by_kind[static_cast<std::size_t>(k)];
    if (n > 0) count_line(out, std::to_string(k) + " " + std::string(kind_name(k)).substr(0, 26), n);
  }
  count_line(out, "all kinds", static_cast<std::int64_t>(r.records.size()));
  count_line(out, "platforms", static_cast<std::int64_t>(r.platforms.size()) - 1);
  count_line(out, "twins of other files", r.twins);
  out += "lines skipped by reason\n";
  for (std::size_t f = 1; f < io::line_fate_count; ++f) count_line(out, io::line_fate_names[f], t.by_fate[f]);
  if (lost.platform_ids > 0) count_line(out, "ids not in the list", lost.platform_ids);
  if (lost.ends > 0) count_line(out, "series ends not in the list", lost.ends);
  out += "written " + o.output + "\n";
  return out;
}

void tell_unreadable(const ImportOptions& o, const ImportResult& r, textio::Console& console) {
  std::string err;
  for (const UnreadableNote& n : r.notes) {
    err += o.command + ": " + n.file + " line " + std::to_string(n.line) + ": unreadable line (" + n.problem + ")\n";
  }
  const std::int64_t all = r.tally.by_fate[static_cast<std::size_t>(LineFate::unreadable)];
  if (all > static_cast<std::int64_t>(r.notes.size())) {
    err += o.command + ": " + std::to_string(all - static_cast<std::int64_t>(r.notes.size())) +
           " more unreadable lines not shown\n";
  }
  if (!err.empty()) console.write_error(err);
}

// The index files and their formats: each told from its content; a first
// word argo or insitu asks that every file be of that format.
std::vector<io::IndexFile> index_files(const ImportOptions& o) {
  std::vector<std::string> paths = o.indexes;
  std::optional<io::ObservationFormat> wanted;
  if (!paths.empty() && (paths.front() == "argo" || paths.front() == "insitu")) {
    wanted = paths.front() == "argo" ? io::ObservationFormat::argo_index : io::ObservationFormat::insitu_index;
    paths.erase(paths.begin());
  }
  if (paths.empty()) usage_error("INDEX: give at least one index file");
  std::vector<io::IndexFile> files;
  for (const std::string& path : paths) {
    const io::ObservationFormat f = io::observation_format_of(path);
    const bool index = f == io::ObservationFormat::argo_index || f == io::ObservationFormat::insitu_index;
    if (!index && !wanted) {
      fail(path + ": neither an Argo profile index nor an in-situ index (no header line naming their columns)");
    }
    if (wanted && index && f != *wanted) {
      fail(path + ": an " + std::string(io::format_name(f)) + ", not the " + std::string(io::format_name(*wanted)) +
           " asked for");
    }
    const io::ObservationFormat as = wanted.value_or(f);
    files.push_back({as == io::ObservationFormat::argo_index ? IndexFormat::argo : IndexFormat::insitu, path});
  }
  return files;
}

bool writes_csv(const ImportOptions& o) {
  if (!o.format.empty()) return o.format == "csv";
  const std::string ext = std::filesystem::path(o.output).extension().string();
  return ext == ".csv" || ext == ".CSV";
}

std::string iso_minute(std::int64_t minutes) {
  const std::int64_t day = minutes >= 0 ? minutes / 1440 : -((-minutes + 1439) / 1440);
  const std::int64_t in_day = minutes - day * 1440;
  const CalendarDay d = civil_from_days(day, static_cast<int>(in_day / 60), static_cast<int>(in_day % 60));
  return iso_day(d, true) + "Z";
}

void put_degrees(std::string& out, float value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, static_cast<double>(value), std::chars_format::fixed, 4);
  out.append(text, ec == std::errc() ? end : text);
}

std::string csv_row(const ImportResult& result, const io::ImportedRecord& r) {
  std::string row = result.platforms[r.platform];
  row += ',' + std::to_string(r.list.kind) + ',';
  put_degrees(row, r.list.lat);
  row += ',';
  put_degrees(row, r.list.lon);
  row += ',' + iso_minute(r.start_minute) + ',';
  if (r.ends) row += iso_minute(r.end_minute);
  row += ',';
  row += r.list.temp && r.list.salt ? "TEMP PSAL" : r.list.temp ? "TEMP" : "PSAL";
  row += '\n';
  return row;
}

ListLosses write_records(const ImportOptions& o, const ImportResult& result, io::ListWriter& out) {
  ListLosses lost;
  if (writes_csv(o)) {
    out.add_text(io::observation_csv_header());
    for (const io::ImportedRecord& r : result.records) out.add_text(csv_row(result, r));
    return lost;
  }
  if (static_cast<std::int64_t>(result.records.size()) > io::max_list_lines) {
    fail(std::to_string(result.records.size()) + " records matched, more than the " +
         std::to_string(io::max_list_lines) +
         " a list can hold; nothing written. Write a CSV table (-o FILE.csv), or narrow the window (--from, --to) "
         "or the region (--region, --domain)");
  }
  for (const io::ImportedRecord& r : result.records) {
    io::ListRecord record = r.list;
    record.platform = result.platforms[r.platform];
    if (!record.platform.empty() && !io::list_can_hold_platform(record.platform)) ++lost.platform_ids;
    if (r.ends) ++lost.ends;
    out.add(record);
  }
  return lost;
}

void tell_losses(const ImportOptions& o, const ListLosses& lost, textio::Console& console) {
  std::string text;
  if (lost.ends > 0) {
    text += o.command + ": warning: " + std::to_string(lost.ends) +
            " time series are written as records that repeat every day for ever: a list cannot hold their ends "
            "(a CSV table, -o FILE.csv, keeps them)\n";
  }
  if (lost.platform_ids > 0) {
    text += o.command + ": warning: " + std::to_string(lost.platform_ids) +
            " records have a platform id that is not 1 to 10 digits, which a list cannot hold; it is left out "
            "(a CSV table keeps it)\n";
  }
  if (!text.empty() && !o.quiet) console.write_error(text);
}

void run_import(const ImportOptions& o, textio::Console& console) {
  if (!o.format.empty() && o.format != "csv" && o.format != "list") {
    usage_error("--format " + o.format + ": csv or list");
  }
  check_output_is_no_input(o);
  const std::vector<io::IndexFile> files = index_files(o);
  const Selection selection = selection_of(o);
  io::ListWriter out;
  out.create(o.output);
  const ImportResult result = io::import_indexes(files, selection);
  tell_unreadable(o, result, console);
  const ListLosses lost = write_records(o, result, out);
  out.commit();
  tell_losses(o, lost, console);
  if (o.output == "-") {  // the records went to standard output; the report goes beside the messages
    if (!o.quiet) console.write_error(report(o, result, files.size(), lost));
  } else {
    console.write(o.quiet ? o.output + "\n" : report(o, result, files.size(), lost));
  }
}

}  // namespace

void add_import_command(CLI::App& app, Context& context) {
  CLI::App* sub = app.add_subcommand(
      "import", "the observations of index files (the Argo profile index, the in-situ index files) as a CSV table or a list");
  auto o = std::make_shared<ImportOptions>();
  o->scale_dir = context.scale_dir;
  sub->add_option("INDEX", o->indexes,
                  "index files, plain text or gzip-compressed, each of either format (told from its header line); "
                  "a first word argo or insitu asks that all be of that format")
      ->required()
      ->type_name("FILE");
  sub->add_option("-o,--output", o->output,
                  "the CSV table (FILE.csv) or observation list to write (- for standard output)")
      ->required()
      ->type_name("FILE");
  sub->add_option("--format", o->format, "csv or list (default: csv for a name ending in .csv, else list)")
      ->type_name("FORMAT");
  sub->add_option("--from", o->from, "first day kept: YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC)")->type_name("DATE");
  sub->add_option("--to", o->to, "last day (all of it) or minute kept")->type_name("DATE");
  CLI::Option* region = sub->add_option("--region", o->region, "keep positions inside this box (degrees)")
                            ->type_size(4)->expected(1)
                            ->type_name("W E S N");
  sub->add_option("--domain", o->domain, "keep positions in the box of the domain's grid configuration")
      ->excludes(region)
      ->type_name("NAME");
  sub->add_option("--kind-map", o->kind_map,
                  "file of \"CODE KIND\" lines replacing the kind table of in-situ platform types")
      ->type_name("FILE");
  add_scale_dir_option(*sub, o->scale_dir);
  add_common_flags(*sub, o->quiet, o->verbose);
  set_help_footer(*sub,
                  "  -o FILE.csv: a CSV table (platform,kind,latitude,longitude,time_start,time_end,parameters) that\n"
                  "  kelvo map, series and plan read with --obs: every record, each with its platform id (an Argo\n"
                  "  float's WMO number, an in-situ platform's code) and a time series' end.\n"
                  "  -o FILE (any other name): the 52-column observation list kelvo_brino reads (at most 99,999\n"
                  "  records; a platform id of digits in columns 37-46; a time series repeats every day there).\n"
                  "  Records of different files that are the same observation (same platform, time to the minute,\n"
                  "  position to 1e-4 degree) are written once and counted as twins. The file is written whole\n"
                  "  under a temporary name, then renamed; -o - writes it to standard output (the report to\n"
                  "  standard error).",
                  "  kelvo import ar_index_global_prof.txt.gz index_history.txt -o network_2004.csv \\\n"
                  "      --from 2004-01-01 --to 2004-12-31 --region -20 13 36 65\n"
                  "  kelvo import argo ar_index_global_prof.txt.gz -o argo_2004.lst --from 2003-12-01 \\\n"
                  "      --to 2004-01-31 --domain NsBs --scale-dir sample/BRINO_S");
  sub->callback([o, &console = context.console] { run_import(*o, console); });
}

}  // namespace kelvo::cli
