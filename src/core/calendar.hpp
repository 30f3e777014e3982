// Calendar arithmetic, the one place times become numbers:
// - day numbers, the single-precision day count on which observation times
//   and assessment days are compared (day 1.0 is 1 January 2001, 00:00),
//   with the Julian calendar before 15 October 1582;
// - the proleptic Gregorian calendar of ISO dates: days and seconds counted
//   from 1970-01-01T00:00 UTC, and back.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelvo {

// A calendar date and time of day.
struct CalendarDay {
  std::int32_t year = 2004;
  std::int32_t month = 1;
  std::int32_t day = 1;
  std::int32_t hour = 0;
  std::int32_t minute = 0;
};

// ------------------------------------------------------------ day numbers

// Julian Day Number of a date (Julian calendar before 15 October 1582,
// Gregorian from then on; historical years, so -1 is 1 BC). Year 0 does not
// exist and is computed as year -1.
std::int32_t julian_day(std::int32_t month, std::int32_t day, std::int32_t year);

// Day count of a date and time of day, in single precision. Near day 2.45
// million the time of day survives only to the nearest quarter day.
float day_number(std::int32_t month, std::int32_t day, std::int32_t year, std::int32_t hour, std::int32_t minute);
// The same from the date's Julian Day Number `j`.
float day_number_of_julian_day(std::int32_t j, std::int32_t hour, std::int32_t minute);
// The Julian Day Number of the Gregorian date `days` after 1970-01-01.
inline std::int32_t julian_day_of_civil(std::int64_t days) { return static_cast<std::int32_t>(days + 2440588); }

// The time slot of an assessment on `d`: its day number, shifted by one day
// and back in single precision as the tool's one-entry time axis is built.
float assessment_slot(const CalendarDay& d);

// The assessment day of the replaced tool, fixed in it: 1 January 2004.
inline constexpr CalendarDay legacy_assessment_day{2004, 1, 1, 0, 0};

// Days from 2001-01-01 00:00 of a day number (day 1.0), the unit of the
// time variables of the NetCDF files.
inline float days_since_2001(float day) { return day - 1.0f; }

// ------------------------------------------------------------ ISO calendar

bool is_leap_year(int year);
int days_in_month(int year, int month);
// Year 1 to 9999, a month of the year and a day of the month.
bool is_valid_date(int year, int month, int day);

// Days from 1970-01-01 to the date (negative before it).
std::int64_t days_from_civil(int year, int month, int day);

// The date `days` after 1970-01-01 (the inverse of days_from_civil), at
// the given time of day.
CalendarDay civil_from_days(std::int64_t days, int hour, int minute);

// Seconds from 1970-01-01T00:00 to the date and time of day.
std::int64_t seconds_of(int year, int month, int day, int hour, int minute, int second);

// `count` (at most 9) digits of `text` from `at` as a number; false unless
// they are all there and all digits.
bool read_digits(std::string_view text, std::size_t at, std::size_t count, int& value);

}  // namespace kelvo
