// Dates of the command line (--from, --to, --day, ...) and the calendar
// arithmetic the subcommands compare times with: proleptic Gregorian days
// and seconds counted from 1970-01-01T00:00 UTC.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kelvo_mod/calendar.hpp"

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

// Parses the value of `option`; throws Failure naming the option and the
// value when it is not one of the two forms or not a date of the calendar
// (year 1 to 9999, the month's days, hour 0-23, minute 0-59).
OptionDate parse_option_date(std::string_view option, std::string_view text);

// `count` (at most 9) digits of `text` from `at` as a number; false unless
// they are all there and all digits.
bool read_digits(std::string_view text, std::size_t at, std::size_t count, int& value);

bool is_leap_year(int year);
int days_in_month(int year, int month);
bool is_valid_date(int year, int month, int day);

// Days from 1970-01-01 to the date (negative before it).
std::int64_t days_from_civil(int year, int month, int day);

// The date `days` after 1970-01-01 (the inverse of days_from_civil), at
// the given time of day.
CalendarDay civil_from_days(std::int64_t days, int hour, int minute);

// Seconds from 1970-01-01T00:00 to the date and time of day.
std::int64_t seconds_of(int year, int month, int day, int hour, int minute, int second);

// The first second of the option's date and time.
std::int64_t first_second(const OptionDate& d);
// The first second after the option: the next day for a date alone, the
// next minute for a date and time.
std::int64_t end_second(const OptionDate& d);

// The days of a series: from --from (at its time of day) every `step` days
// while before the end of --to. Throws Failure on a bad date, a step below 1
// or --to before --from.
std::vector<CalendarDay> series_days(const std::string& from_text, const std::string& to_text, int step);

}  // namespace kelvo::cli
