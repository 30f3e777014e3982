#include "kelvo/dates.hpp"

#include <charconv>
#include <string>
#include <vector>

#include "kelvo/cli.hpp"

namespace kelvo::cli {

namespace {

bool separator_at(std::string_view text, std::size_t at, char c) { return at < text.size() && text[at] == c; }

// YYYY-MM-DD, then nothing or THH:MM; false on anything else.
bool read_date_form(std::string_view text, OptionDate& d) {
  if (!read_digits(text, 0, 4, d.year) || !separator_at(text, 4, '-') || !read_digits(text, 5, 2, d.month) ||
      !separator_at(text, 7, '-') || !read_digits(text, 8, 2, d.day)) {
    return false;
  }
  if (text.size() == 10) return true;
  d.has_time = true;
  return text.size() == 16 && separator_at(text, 10, 'T') && read_digits(text, 11, 2, d.hour) &&
         separator_at(text, 13, ':') && read_digits(text, 14, 2, d.minute);
}

[[noreturn]] void bad_date(std::string_view option, std::string_view text, std::string_view why) {
  std::string message(option);
  message.append(" \"").append(text).append("\": ").append(why);
  throw Failure{message};
}

}  // namespace

bool read_digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size() || count > 9) return false;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  std::from_chars(text.data() + at, text.data() + at + count, value);
  return true;
}

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && is_leap_year(year)) return 29;
  return days[month - 1];
}

bool is_valid_date(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= days_in_month(year, month);
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

std::int64_t seconds_of(int year, int month, int day, int hour, int minute, int second) {
  return days_from_civil(year, month, day) * 86400 + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 +
         second;
}

std::int64_t first_second(const OptionDate& d) { return seconds_of(d.year, d.month, d.day, d.hour, d.minute, 0); }

std::int64_t end_second(const OptionDate& d) { return first_second(d) + (d.has_time ? 60 : 86400); }

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

OptionDate parse_option_date(std::string_view option, std::string_view text) {
  OptionDate d;
  if (!read_date_form(text, d)) bad_date(option, text, "not a date of the form YYYY-MM-DD or YYYY-MM-DDTHH:MM");
  if (!is_valid_date(d.year, d.month, d.day)) bad_date(option, text, "no such day in the calendar");
  if (d.hour > 23 || d.minute > 59) bad_date(option, text, "no such time of day (00:00 to 23:59)");
  return d;
}

std::vector<CalendarDay> series_days(const std::string& from_text, const std::string& to_text, int step) {
  if (step < 1) throw Failure{"--step " + std::to_string(step) + ": must be a whole number of days, 1 or more"};
  const OptionDate from = parse_option_date("--from", from_text);
  const OptionDate to = parse_option_date("--to", to_text);
  if (first_second(from) >= end_second(to)) throw Failure{"--to " + to_text + ": before --from " + from_text};
  std::vector<CalendarDay> days;
  const std::int64_t first = days_from_civil(from.year, from.month, from.day);
  for (std::int64_t d = first;; d += step) {
    const CalendarDay day = civil_from_days(d, from.hour, from.minute);
    const OptionDate as_option{day.year, day.month, day.day, day.hour, day.minute, from.has_time};
    if (first_second(as_option) >= end_second(to)) break;
    days.push_back(day);
  }
  return days;
}

}  // namespace kelvo::cli
