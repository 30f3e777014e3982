#include "core/calendar.hpp"

#include <charconv>

namespace kelvo {

namespace {

// Real-to-integer conversion truncating toward zero; every argument here is
// a few million at most, well inside the 32-bit range.
std::int32_t trunc_to_int(float x) { return static_cast<std::int32_t>(x); }

// The day + 31 * (month + 12 * year) value of 15 October 1582.
constexpr std::int64_t gregorian_switch = 588829;

}  // namespace

std::int32_t julian_day(std::int32_t month, std::int32_t day, std::int32_t year) {
  std::int32_t jy = year < 0 ? year + 1 : year;
  std::int32_t jm = 0;
  if (month <= 2) {
    jy = jy - 1;
    jm = month + 13;
  } else {
    jm = month + 1;
  }
  const float month_days = 30.6001f * static_cast<float>(jm);
  const float year_days = 365.25f * static_cast<float>(jy);
  std::int32_t n = trunc_to_int(month_days) + trunc_to_int(year_days) + day + 1720995;
  // Computed in 64 bits so that no input can overflow the comparison.
  const std::int64_t stamp = std::int64_t{day} + 31 * (std::int64_t{month} + 12 * std::int64_t{year});
  if (stamp >= gregorian_switch) {
    const std::int32_t ja = trunc_to_int(0.01f * static_cast<float>(jy));
    n = n + 2 - ja + trunc_to_int(0.25f * static_cast<float>(ja));
  }
  return n;
}

float day_number(std::int32_t month, std::int32_t day, std::int32_t year, std::int32_t hour, std::int32_t minute) {
  return day_number_of_julian_day(julian_day(month, day, year), hour, minute);
}

float day_number_of_julian_day(std::int32_t j, std::int32_t hour, std::int32_t minute) {
  const float by_minute = static_cast<float>(minute) * (1.0f / 1440.0f);
  const float by_hour = static_cast<float>(hour) * (1.0f / 24.0f);
  const float f = by_minute + by_hour;
  const float s = static_cast<float>(j) + f;
  return s - 2451910.0f;
}

float assessment_slot(const CalendarDay& d) {
  const float shifted = day_number(d.month, d.day, d.year, d.hour, d.minute) + 1.0f;
  return shifted - 1.0f;
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && is_leap_year(year)) return 29;
  return days[month - 1];
}

bool is_valid_date(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

// Days of the proleptic Gregorian calendar counted in 400-year eras from
// 1 March of year 0, then moved to 1970-01-01.
std::int64_t days_from_civil(int year, int month, int day) {
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t year_of_era = y - era * 400;
  const std::int64_t month_from_march = month > 2 ? month - 3 : month + 9;
  const std::int64_t day_of_year = (153 * month_from_march + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

CalendarDay civil_from_days(std::int64_t days, int hour, int minute) {
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  return CalendarDay{static_cast<std::int32_t>(y), static_cast<std::int32_t>(m), static_cast<std::int32_t>(d), hour,
                     minute};
}

std::int64_t seconds_of(int year, int month, int day, int hour, int minute, int second) {
  return days_from_civil(year, month, day) * 86400 + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
}

bool read_digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size() || count > 9) return false;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  std::from_chars(text.data() + at, text.data() + at + count, value);
  return true;
}

}  // namespace kelvo
