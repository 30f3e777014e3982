// kelvo import argo|insitu: a metadata list for kelvo_brino from the index
// files of an observing network, with a report of what was kept and why
// the other lines were left out.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/kinds.hpp"
#include "io/domain_tree.hpp"
#include "io/index_scan.hpp"
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
  IndexFormat format = IndexFormat::argo;
  std::string command;  // "kelvo import argo"
  std::vector<std::string> indexes;
  std::string output;
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

std::string report(const ImportOptions& o, const ImportResult& r) {
  const ImportTally& t = r.tally;
  std::string out;
  count_line(out, "index files", static_cast<std::int64_t>(o.indexes.size()));
  count_line(out, "lines read", t.lines_read);
  count_line(out, "header lines", t.header_lines);
  out += "records written by kind\n";
  for (int k = io::min_kind; k <= io::max_kind; ++k) {
    const std::int64_t n = t.by_kind[static_cast<std::size_t>(k)];
    if (n > 0) count_line(out, std::to_string(k) + " " + std::string(kind_name(k)).substr(0, 26), n);
  }
  count_line(out, "all kinds", t.matched());
  out += "lines skipped by reason\n";
  for (std::size_t f = 1; f < io::line_fate_count; ++f) count_line(out, io::line_fate_names[f], t.by_fate[f]);
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

void run_import(const ImportOptions& o, textio::Console& console) {
  check_output_is_no_input(o);
  const Selection selection = selection_of(o);
  io::ListWriter list;
  list.create(o.output);
  const ImportResult result = io::import_indexes(o.format, o.indexes, selection);
  tell_unreadable(o, result, console);
  if (result.tally.matched() > io::max_list_lines) {
    fail(std::to_string(result.tally.matched()) + " records matched, more than the " +
         std::to_string(io::max_list_lines) +
         " a list can hold; nothing written. Narrow the window (--from, --to) or the region (--region, --domain)");
  }
  for (const io::ListRecord& r : result.records) list.add(r);
  list.commit();
  if (o.output == "-") {  // the list went to standard output; the report goes beside the messages
    if (!o.quiet) console.write_error(report(o, result));
  } else {
    console.write(o.quiet ? o.output + "\n" : report(o, result));
  }
}

void add_format(CLI::App& import, Context& context, IndexFormat format, const std::string& name,
                const std::string& description) {
  CLI::App* sub = import.add_subcommand(name, description);
  auto o = std::make_shared<ImportOptions>();
  o->format = format;
  o->command = "kelvo import " + name;
  o->scale_dir = context.scale_dir;
  sub->add_option("INDEX", o->indexes, "index file, plain text or gzip-compressed")->required()->type_name("FILE");
  sub->add_option("-o,--output", o->output, "the metadata list to write (- for standard output)")
      ->required()
      ->type_name("FILE");
  sub->add_option("--from", o->from, "first day kept: YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC)")->type_name("DATE");
  sub->add_option("--to", o->to, "last day (all of it) or minute kept")->type_name("DATE");
  CLI::Option* region = sub->add_option("--region", o->region, "keep positions inside this box (degrees)")
                            ->type_size(4)->expected(1)
                            ->type_name("W E S N");
  sub->add_option("--domain", o->domain, "keep positions in the box of the domain's grid configuration")
      ->excludes(region)
      ->type_name("NAME");
  if (format == IndexFormat::insitu) {
    sub->add_option("--kind-map", o->kind_map, "file of \"CODE KIND\" lines replacing the kind table")
        ->type_name("FILE");
  }
  sub->add_option("--scale-dir", o->scale_dir, "folder of the domains' <NAME>_ASC folders")
      ->capture_default_str()
      ->type_name("DIR");
  add_common_flags(*sub, o->quiet, o->verbose);
  set_help_footer(*sub,
                  "  -o FILE: the 52-column observation list kelvo map, series and plan and kelvo_brino read\n"
                  "  (at most 99,999 records), written whole under a temporary name, then renamed; -o - writes\n"
                  "  it to standard output (and the report to standard error).",
                  name == "argo"
                      ? "  kelvo import argo ar_index_global_prof.txt.gz -o argo_2004.lst --from 2003-12-01 \\\n"
                        "      --to 2004-01-31 --domain NsBs --scale-dir sample/BRINO_S"
                      : "  kelvo import insitu index_history.txt index_monthly.txt -o insitu_2004.lst \\\n"
                        "      --from 2003-12-01 --to 2004-01-31 --region -20 13 36 65");
  sub->callback([o, &console = context.console] { run_import(*o, console); });
}

}  // namespace

void add_import_command(CLI::App& app, Context& context) {
  CLI::App* import = app.add_subcommand("import", "an observation list from the index files of Argo or the in-situ service");
  import->require_subcommand(1);
  import->set_version_flag("--version", "kelvo " KELVO_VERSION);
  set_help_footer(*import, "  see kelvo import argo --help and kelvo import insitu --help",
                  "  kelvo import argo ar_index_global_prof.txt -o argo.lst --from 2004-01-01 --to 2004-01-31");
  add_format(*import, context, IndexFormat::argo, "argo",
             "Argo profile index (ar_index_global_prof.txt, the synthetic BGC profile index)");
  add_format(*import, context, IndexFormat::insitu, "insitu",
             "in-situ index files (index_latest.txt, index_monthly.txt, index_history.txt)");
}

}  // namespace kelvo::cli
