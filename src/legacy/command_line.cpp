#include "legacy/command_line.hpp"

#include "legacy/messages.hpp"
#include "textio/fields.hpp"

namespace kelvo::legacy {

namespace {

// An argument as a setting: at most 100 characters, trailing blanks
// removed, then cut or padded to the setting's length.
std::string setting(std::span<const std::string> args, std::size_t n, std::size_t length) {
  const std::string_view arg = n < args.size() ? std::string_view(args[n]) : std::string_view();
  const std::string_view cut = arg.substr(0, setting_length);
  return textio::padded(textio::trim_right(cut), length);
}

std::int32_t layer_bound(const std::string& text, std::string_view which) {
  std::int32_t value = 0;
  if (!textio::parse_int(text, value)) {
    Error e(ErrorCode::not_a_number, "get_args",
            "layer bound " + std::string(which) + " is not an integer: \"" + text + "\"");
    e.items = {std::string(which), text};
    throw e;
  }
  return value;
}

void check_name(std::string_view what, std::string_view value) {
  const std::string_view held = textio::trim_right(value);
  if (held.find('/') == std::string_view::npos) return;
  Error e(ErrorCode::bad_request, "get_args", std::string(what) + " may not hold \"/\": " + std::string(held));
  e.items = {std::string(what), std::string(held)};
  throw e;
}

}  // namespace

void get_args(Printer& out, Settings& s, std::span<const std::string> args) {
  const std::size_t given = args.empty() ? 0 : args.size() - 1;
  if (given < 4) {
    Error e(ErrorCode::usage, "usage", "fewer than four arguments");
    e.file = args.empty() ? std::string() : args[0];
    throw e;
  }
  s.domain = setting(args, 1, setting_length);
  s.param = setting(args, 2, setting_length);
  out.echo(s);
  s.level_start_text = setting(args, 3, level_text_length);
  s.level_end_text = setting(args, 4, level_text_length);
  s.metadata_file = setting(args, 5, setting_length);
  s.run_tag = setting(args, 6, run_tag_length);
}

void read_layer_bounds(Printer& out, Settings& s) {
  s.level_start = layer_bound(s.level_start_text, "level_start");
  s.level_end = layer_bound(s.level_end_text, "level_end");
  out.layer_range(s);
}

void check_name_settings(const Settings& s) {
  check_name("Domain", s.domain);
  check_name("Par", s.param);
  check_name("run_tag", s.run_tag);
}

}  // namespace kelvo::legacy
