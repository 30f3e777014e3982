#include "kelvo/dates.hpp"

#include <charconv>
#include <string>

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

OptionDate parse_option_date(std::string_view option, std::string_view text) {
  OptionDate d;
  if (!read_date_form(text, d)) bad_date(option, text, "not a date of the form YYYY-MM-DD or YYYY-MM-DDTHH:MM");
  if (!is_valid_date(d.year, d.month, d.day)) bad_date(option, text, "no such day in the calendar");
  if (d.hour > 23 || d.minute > 59) bad_date(option, text, "no such time of day (00:00 to 23:59)");
  return d;
}

}  // namespace kelvo::cli
