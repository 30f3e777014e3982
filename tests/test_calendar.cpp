// Calendar day numbers: the Julian Day Number of a date, and the
// single-precision day count on which 1 January 2001 at 00:00 is day 1.0
// (Julian Day Number 2451910 is day 0.0).
//
// Hand computation, for the record. julian_day takes jy = year (+1 when
// negative), moves January and February to months 13 and 14 of the year
// before (jm = month + 13, else month + 1), sums trunc(30.6001 jm) +
// trunc(365.25 jy) + day + 1720995 and, from 15 October 1582 on, adds
// 2 - ja + trunc(ja / 4) with ja = trunc(0.01 jy). For example 1 January
// 2001: jy = 2000, jm = 14, 428 + 730500 + 1 + 1720995 = 2451924, ja = 20,
// 2451924 + 2 - 20 + 5 = 2451911.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/calendar.hpp"

namespace {


TEST(JulianDay, DayNumbersOfDates) {
  struct Case {
    std::int32_t month, day, year;
    std::int32_t jdn;
    bool year0_message;
    const char* why;
  };
  const std::vector<Case> cases = {
      {1, 1, 2001, 2451911, false, "day 1.0 of the day count"},
      {12, 31, 2000, 2451910, false, "day 0.0: 397 + 730500 + 31 + 1720995 - 13"},
      // 4 October 1582 (Julian): jm = 11, 336 + 577825 + 4 + 1720995, and
      // 4 + 31 x (10 + 12 x 1582) = 588818 is below the switch.
      {10, 4, 1582, 2299160, false, "last Julian day"},
      // 15 October 1582: 2299171 + 2 - 15 + 3, the very next day.
      {10, 15, 1582, 2299161, false, "first Gregorian day"},
      // Year 1: jy = 0 after the January shift, 428 + 0 + 1 + 1720995.
      {1, 1, 1, 1721424, false, "1 January of year 1"},
      // Year -1: jy = 0, then -1; trunc(-365.25) = -365: 428 - 365 + 1 + 1720995.
      {1, 1, -1, 1721059, false, "1 January 1 BC"},
      // Year 0 does not exist: reported, then computed with jy = 0 like -1.
      {1, 1, 0, 1721059, true, "year 0"},
      // Inputs are not range-checked: month 13 of 2000 enters as jm = 14 of
      // jy = 2000, exactly the numbers of 1 January 2001.
      {13, 1, 2000, 2451911, false, "month 13"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.day) + "/" + std::to_string(c.month) + "/" + std::to_string(c.year) +
                 ": " + c.why);
    EXPECT_EQ(kelvo::julian_day(c.month, c.day, c.year), c.jdn);
  }
}

TEST(DayNumber, DatesAtMidnight) {
  struct Case {
    std::int32_t month, day, year;
    float expected;
    bool year0_message;
  };
  const std::vector<Case> cases = {
      {1, 1, 2001, 1.0f, false},
      {12, 31, 2000, 0.0f, false},
      // 1 January 2004: JDN 2453006 (731595 + 428 + 1 + 1720995 - 13).
      {1, 1, 2004, 1096.0f, false},
      // 31 December 2006: JDN 2454101 (732691 + 397 + 31 + 1720995 - 13).
      {12, 31, 2006, 2191.0f, false},
      // 2000 is a leap year: 29 February and 1 March are consecutive days.
      {2, 29, 2000, -306.0f, false},
      {3, 1, 2000, -305.0f, false},
      // 1721059 - 2451910, with one year-0 line per call.
      {1, 1, 0, -730851.0f, true},
      {1, 1, -1, -730851.0f, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.day) + "/" + std::to_string(c.month) + "/" + std::to_string(c.year));
    EXPECT_EQ(kelvo::day_number(c.month, c.day, c.year, 0, 0), c.expected);
  }
}

TEST(DayNumber, TimeOfDayKeepsOnlyTheNearestQuarterDay) {
  // 15 June 2005 at 00:00 is day 1627: 1 January 2005 is day
  // 1 + 4 x 365 + 1 = 1462, and 15 June is 31+28+31+30+31+14 = 165 days later.
  // Near JDN 2.45 million a single-precision value is a multiple of 0.25, so
  // the time of day rounds to the nearest quarter; of the midpoints, 03:00
  // and 15:00 go down to an even quarter, 09:00 and 21:00 up.
  const float midnight = 1627.0f;
  struct Case {
    std::int32_t hour, minute;
    float added;
  };
  std::vector<Case> cases;
  for (std::int32_t h = 0; h <= 3; ++h) cases.push_back({h, 0, 0.0f});
  for (std::int32_t h = 4; h <= 8; ++h) cases.push_back({h, 0, 0.25f});
  for (std::int32_t h = 9; h <= 15; ++h) cases.push_back({h, 0, 0.5f});  // 13:00 is 0.5, not 13/24
  for (std::int32_t h = 16; h <= 20; ++h) cases.push_back({h, 0, 0.75f});
  for (std::int32_t h = 21; h <= 23; ++h) cases.push_back({h, 0, 1.0f});
  cases.push_back({24, 0, 1.0f});   // hour 24 enters the formula as it stands
  cases.push_back({2, 59, 0.0f});   // 0.1243 of a day
  cases.push_back({3, 1, 0.25f});   // 0.1264 of a day
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.hour) + ":" + std::to_string(c.minute));
    EXPECT_EQ(kelvo::day_number(6, 15, 2005, c.hour, c.minute), midnight + c.added);
  }
}

}  // namespace

// From the Gregorian reform on, a date's day count from 1970 gives its
// Julian Day Number, and so the same day number as the date itself.
TEST(DayNumber, FromTheDayCountOfAGregorianDate) {
  for (int year = 1583; year <= 9999; year += 7) {
    for (int month = 1; month <= 12; month += 5) {
      const int day = 1 + (year * 7 + month) % kelvo::days_in_month(year, month);
      const std::int32_t j = kelvo::julian_day_of_civil(kelvo::days_from_civil(year, month, day));
      EXPECT_EQ(j, kelvo::julian_day(month, day, year)) << year << "-" << month << "-" << day;
      EXPECT_EQ(kelvo::day_number_of_julian_day(j, year % 24, year % 60), kelvo::day_number(month, day, year, year % 24, year % 60));
    }
  }
}
