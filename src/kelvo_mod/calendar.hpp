// Calendar day numbers: the one time scale on which observation times and the
// assessment day are compared. Day 1.0 is 1 January 2001, 00:00.
#pragma once

#include <cstdint>

#include "textio/console.hpp"

namespace kelvo {

// A calendar date and time of day.
struct CalendarDay {
  std::int32_t year = 2004;
  std::int32_t month = 1;
  std::int32_t day = 1;
  std::int32_t hour = 0;
  std::int32_t minute = 0;
};

// The one-entry time axis of an assessment on `d`: its day number, shifted
// by one day and back in single precision as the tool's own axis is built.
float assessment_slot(const CalendarDay& d, textio::Console& console);

// Julian Day Number of a date (Julian calendar before 15 October 1582,
// Gregorian from then on; historical years, so -1 is 1 BC). Year 0 does not
// exist: it is reported on the console and computed as year -1.
std::int32_t julian_day(std::int32_t month, std::int32_t day, std::int32_t year,
                        textio::Console& console);

// Day count of a date and time of day, in single precision. Near day 2.45
// million the time of day survives only to the nearest quarter day.
float day_number(std::int32_t month, std::int32_t day, std::int32_t year, std::int32_t hour,
                 std::int32_t minute, textio::Console& console);

}  // namespace kelvo
