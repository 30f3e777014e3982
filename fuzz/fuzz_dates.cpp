// Fuzz target: the dates of the command line.
// Input: "FROM TO STEP" (parts split at the first two blanks);
// FROM (the whole input when it has no blank) and TO are each the value
// of one date option. Checked: a date is refused (an Error) or a day of the calendar
// whose ISO text is the input and reads back the same; its day number and
// civil_from_days go back and forth; the days of a series FROM..TO every
// STEP % 40 days (40 for 0, 1 without STEP; the low 4 bits of each byte are
// its digits) start at FROM, step by that many and end before TO does.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "kelvo/cli.hpp"
#include "kelvo/dates.hpp"

namespace {
using namespace kelvo::cli;
using kelvo::CalendarDay;
using kelvo::civil_from_days;
using kelvo::days_from_civil;
using Failure = kelvo::Error;

// Parses `text`; false on an Error; checks what the date it gives must hold.
bool date_of(std::string_view text, OptionDate& d) {
  try { d = parse_option_date("--day", text); } catch (const Failure&) { return false; }
  const bool leap = d.year % 4 == 0 && (d.year % 100 != 0 || d.year % 400 == 0);
  const int month_days = d.month == 2 ? 28 + leap : 30 + ((d.month + d.month / 8) & 1);
  char iso[40];
  std::snprintf(iso, sizeof iso, d.has_time ? "%04d-%02d-%02dT%02d:%02d" : "%04d-%02d-%02d", d.year, d.month, d.day,
                d.hour, d.minute);
  const CalendarDay c = civil_from_days(days_from_civil(d.year, d.month, d.day), d.hour, d.minute);
  FUZZ_CHECK(d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= month_days &&
                 d.hour >= 0 && d.hour <= 23 && d.minute >= 0 && d.minute <= 59 && (d.has_time || d.hour + d.minute == 0),
             "not a day of the calendar: " + fuzz::shown(text));
  // The ISO text of the value is the text read: reading it back gives the same value.
  FUZZ_CHECK(text == iso, "read-back " + fuzz::shown(text) + " as " + iso);
  FUZZ_CHECK(c.year == d.year && c.month == d.month && c.day == d.day, "day number " + fuzz::shown(text));
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  OptionDate from, to;  // FROM is the whole input when it has no blank
  const std::size_t a = std::min(in.find(' '), in.size()), b = std::min(in.find(' ', a + 1), in.size());
  const std::string f(in.substr(0, a)), t(in.substr(std::min(a + 1, in.size()), b - std::min(a + 1, in.size())));
  int step = 0;
  for (const char c : in.substr(std::min(b + 1, in.size()))) step = (step * 10 + (c & 15)) % 40;
  step = b + 1 >= in.size() ? 1 : step == 0 ? 40 : step;
  if (!date_of(f, from) || !date_of(t, to)) return 0;
  const std::int64_t first = days_from_civil(from.year, from.month, from.day);
  if ((days_from_civil(to.year, to.month, to.day) - first) / step > 20000) return 0;  // long series: slow, not new
  std::vector<CalendarDay> days;
  try { days = series_days(f, t, step); } catch (const Failure&) {
    FUZZ_CHECK(first_second(from) >= end_second(to) || from.year < first_assessment_year ||
                   to.year < first_assessment_year,
               "series refused: " + fuzz::shown(in));
    return 0;
  }
  for (std::size_t n = 0; n <= days.size(); ++n) {
    const CalendarDay c = civil_from_days(first + std::int64_t{step} * static_cast<std::int64_t>(n), from.hour, from.minute);
    const std::int64_t s = first_second(OptionDate{c.year, c.month, c.day, c.hour, c.minute, from.has_time});
    FUZZ_CHECK((n < days.size()) == (s < end_second(to)), "series ends wrong: " + fuzz::shown(in));
    if (n == days.size()) break;
    FUZZ_CHECK(days[n].year == c.year && days[n].month == c.month && days[n].day == c.day && days[n].hour == c.hour &&
                   days[n].minute == c.minute && s >= first_second(from), "series day " + fuzz::shown(in));
  }
  return 0;
}
