#include "kelvo_mod/calendar.hpp"

#include "kelvo_mod/legacy_messages.hpp"
#include "textio/free_format.hpp"

namespace kelvo {

namespace {

// Real-to-integer conversion truncating toward zero; every argument here is
// a few million at most, well inside the 32-bit range.
std::int32_t trunc_to_int(float x) { return static_cast<std::int32_t>(x); }

// The day + 31 * (month + 12 * year) value of 15 October 1582.
constexpr std::int64_t gregorian_switch = 588829;

}  // namespace

std::int32_t julian_day(std::int32_t month, std::int32_t day, std::int32_t year,
                        textio::Console& console) {
  if (year == 0) console.write(textio::free_line({legacy::no_year_zero}));
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
  const std::int64_t stamp =
      std::int64_t{day} + 31 * (std::int64_t{month} + 12 * std::int64_t{year});
  if (stamp >= gregorian_switch) {
    const std::int32_t ja = trunc_to_int(0.01f * static_cast<float>(jy));
    n = n + 2 - ja + trunc_to_int(0.25f * static_cast<float>(ja));
  }
  return n;
}

float assessment_slot(const CalendarDay& d, textio::Console& console) {
  const float shifted = day_number(d.month, d.day, d.year, d.hour, d.minute, console) + 1.0f;
  return shifted - 1.0f;
}

float day_number(std::int32_t month, std::int32_t day, std::int32_t year, std::int32_t hour,
                 std::int32_t minute, textio::Console& console) {
  const std::int32_t j = julian_day(month, day, year, console);
  const float by_minute = static_cast<float>(minute) * (1.0f / 1440.0f);
  const float by_hour = static_cast<float>(hour) * (1.0f / 24.0f);
  const float f = by_minute + by_hour;
  const float s = static_cast<float>(j) + f;
  return s - 2451910.0f;
}

}  // namespace kelvo
