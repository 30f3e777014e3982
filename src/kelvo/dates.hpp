// The dates of the command line (--from, --to, --day, ...): YYYY-MM-DD or
// YYYY-MM-DDTHH:MM, UTC, as days and seconds of the calendar (core/calendar).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/calendar.hpp"

namespace kelvo::cli {

// A date given as YYYY-MM-DD or YYYY-MM-DDTHH:MM. `has_time` tells the two
// forms apart (a date alone is 00:00 of that day), so that an end option can
// take in the whole day.
struct OptionDate {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  bool has_time = false;
};

// Parses the value of `option`; an Error naming the option and the value
// when it is not one of the two forms or not a date of the calendar (year 1
// to 9999, the month's days, hour 0-23, minute 0-59).
OptionDate parse_option_date(std::string_view option, std::string_view text);

// The first year of an assessment day. The tools mark an observation absent
// from a day's slot by a time in 1727; a day near it would take every absent
// observation for a present one, so kelvo assesses days from 1800-01-01 to
// 9999-12-31 (proleptic Gregorian, the calendar of the day numbers there).
inline constexpr int first_assessment_year = 1800;

// An assessment day (--day, --from, --to of map, series and plan): a date
// of the option, and a usage error before first_assessment_year.
OptionDate parse_assessment_date(std::string_view option, std::string_view text);

// The option's date as a calendar day, and its ISO text: YYYY-MM-DD, or
// YYYY-MM-DDTHH:MM when `with_time`.
CalendarDay calendar_day(const OptionDate& d);
std::string iso_day(const CalendarDay& d, bool with_time);
// The ISO text without its separators, for file names: YYYYMMDD or YYYYMMDDTHHMM.
std::string compact_day(const CalendarDay& d, bool with_time);

// The first second of the option's date and time.
std::int64_t first_second(const OptionDate& d);
// The first second after the option: the next day for a date alone, the
// next minute for a date and time.
std::int64_t end_second(const OptionDate& d);

// The days of a series: from --from (at its time of day) every `step` days
// while before the end of --to. An Error on a bad date, a step below 1 or
// --to before --from.
std::vector<CalendarDay> series_days(const std::string& from_text, const std::string& to_text, int step);

}  // namespace kelvo::cli
