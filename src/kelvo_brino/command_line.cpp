#include "kelvo_brino/command_line.hpp"

#include "kelvo_mod/legacy_messages.hpp"
#include "textio/fields.hpp"

namespace kelvo {

namespace {

// An argument as a setting: at most 100 characters, trailing blanks
// removed, then cut or padded to the setting's length.
std::string setting(std::span<const std::string> args, std::size_t n, std::size_t length) {
  const std::string_view arg = n < args.size() ? std::string_view(args[n]) : std::string_view();
  const std::string_view cut = arg.substr(0, setting_length);
  return textio::padded(textio::trim_right(cut), length);
}

std::int32_t layer_bound(Reporter& out, const std::string& text, std::string_view which) {
  std::int32_t value = 0;
  if (!textio::parse_int(text, value)) {
    const std::string reason =
        "Layer bound " + std::string(which) + " is not an integer: \"" + text + "\"";
    out.stop({stop_head("get_args"), reason});
  }
  return value;
}

void check_name(Reporter& out, std::string_view what, std::string_view value) {
  const std::string_view held = textio::trim_right(value);
  if (held.find('/') == std::string_view::npos) return;
  out.stop({stop_head("get_args"), what, " may not hold \"/\": ", held});
}

}  // namespace

void usage(Reporter& out, const std::string& program) {
  const std::string_view path = textio::trim_right(std::string_view(program).substr(0, setting_length));
  std::string text(legacy::usage_head);
  text.append(path).append(legacy::usage_tail);
  out.write(text);
  throw RunStop{exit_usage};
}

void get_args(Reporter& out, DomainState& ds, std::span<const std::string> args) {
  const std::size_t given = args.empty() ? 0 : args.size() - 1;
  if (given < 4) usage(out, args.empty() ? std::string() : args[0]);

  ds.domain = setting(args, 1, setting_length);
  ds.param = setting(args, 2, setting_length);
  std::string echo(textio::trim_right(ds.domain));
  echo.append("  ").append(textio::trim_right(ds.param)).append("\n");
  out.write(echo);

  ds.level_start_text = setting(args, 3, level_text_length);
  ds.level_end_text = setting(args, 4, level_text_length);
  ds.metadata_file = setting(args, 5, setting_length);
  ds.run_tag = setting(args, 6, run_tag_length);
}

void read_layer_bounds(Reporter& out, DomainState& ds) {
  ds.level_start = layer_bound(out, ds.level_start_text, "level_start");
  ds.level_end = layer_bound(out, ds.level_end_text, "level_end");
  std::string line(legacy::layer_range);
  textio::put_int(line, ds.level_start, 2);
  line += " to ";
  textio::put_int(line, ds.level_end, 2);
  line += '\n';
  out.write(line);
}

void check_name_settings(Reporter& out, const DomainState& ds) {
  check_name(out, "Domain", ds.domain);
  check_name(out, "Par", ds.param);
  check_name(out, "run_tag", ds.run_tag);
}

}  // namespace kelvo
