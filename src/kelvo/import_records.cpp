#include "kelvo/import_records.hpp"

#include "kelvo/cli.hpp"
#include "textio/fields.hpp"

namespace kelvo::cli {

namespace {

bool in_window(const Window& w, const IndexObservation& obs) {
  if (obs.fixed) return obs.start.seconds < w.to_end && obs.end.seconds >= w.from;
  return obs.start.seconds >= w.from && obs.start.seconds < w.to_end;
}

[[noreturn]] void write_failure(const std::string& path, const std::string& reason) {
  throw Failure{"cannot write the list " + path + ": " + reason};
}

}  // namespace

LineFate select_record(const Selection& selection, const IndexObservation& obs, ListRecord& record) {
  if (!in_window(selection.window, obs)) return LineFate::outside_window;
  double lon = obs.lon;
  if (selection.has_region) {
    lon = shift_longitude(obs.lon, selection.region.west);
    if (!in_region(selection.region, obs.lat, lon)) return LineFate::outside_region;
  }
  if (!obs.temp && !obs.salt) return LineFate::no_parameter;
  const int kind = kind_of(selection.kinds, obs.platform);
  if (kind == 0) return LineFate::unknown_platform;
  record.lat = static_cast<float>(obs.lat);
  record.lon = static_cast<float>(lon);
  record.year = obs.start.year;
  record.month = obs.start.month;
  record.day = obs.start.day;
  record.hour = obs.start.hour;
  record.frequency = obs.fixed ? daily_repeat : 0;
  record.temp = obs.temp;
  record.salt = obs.salt;
  record.kind = kind;
  return LineFate::record;
}

std::string list_line(const ListRecord& r) {
  std::string line;
  line.reserve(52);
  textio::put_fixed(line, r.lat, 8, 4);
  textio::put_fixed(line, r.lon, 9, 4);
  textio::put_int(line, r.hour, 2, 2);
  textio::put_int(line, r.day, 2, 2);
  textio::put_int(line, r.month, 2, 2);
  textio::put_int(line, r.year, 4, 4);
  textio::put_int(line, r.frequency, 5);
  textio::put_skip(line, 14);
  textio::put_int(line, r.temp ? 1 : 0, 2);
  textio::put_int(line, r.salt ? 1 : 0, 2);
  textio::put_int(line, r.kind, 2);
  return line;
}

void create_list(textio::AtomicFile& file, const std::string& path) {
  std::string reason;
  if (!file.create(path, reason)) write_failure(path, reason);
}

void write_list(textio::AtomicFile& file, std::span<const ListRecord> records) {
  const std::string& path = file.path();
  std::string reason;
  constexpr std::size_t block = std::size_t{64} * 1024;
  std::string text;
  text.reserve(block + 64);
  for (const ListRecord& r : records) {
    text += list_line(r);
    text += '\n';
    if (text.size() >= block) {
      if (!file.write(text, reason)) write_failure(path, reason);
      text.clear();
    }
  }
  if (!file.write(text, reason) || !file.commit(reason)) write_failure(path, reason);
}

}  // namespace kelvo::cli
