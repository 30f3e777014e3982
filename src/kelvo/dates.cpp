#include "kelvo/dates.hpp"

#include <cstdio>
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

[[noreturn]] void bad_date(std::string_view option, std::string_view text, const std::string& why) {
  std::string message(option);
  message.append(" \"").append(text).append("\": ").append(why);
  usage_error(message);
}

}  // namespace

CalendarDay calendar_day(const OptionDate& d) { return CalendarDay{d.year, d.month, d.day, d.hour, d.minute}; }

std::string iso_day(const CalendarDay& d, bool with_time) {
  char buf[32];
  if (with_time) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d", d.year, d.month, d.day, d.hour, d.minute);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  }
  return buf;
}

std::string compact_day(const CalendarDay& d, bool with_time) {
  std::string text = iso_day(d, with_time);
  std::erase_if(text, [](char c) { return c == '-' || c == ':'; });
  return text;
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

OptionDate parse_assessment_date(std::string_view option, std::string_view text) {
  const OptionDate d = parse_option_date(option, text);
  if (d.year < first_assessment_year) {
    bad_date(option, text, "kelvo assesses days from " + std::to_string(first_assessment_year) +
                               "-01-01 on (earlier days come near the time that marks an observation absent)");
  }
  return d;
}

std::vector<CalendarDay> series_days(const std::string& from_text, const std::string& to_text, int step) {
  if (step < 1) usage_error("--step " + std::to_string(step) + ": must be a whole number of days, 1 or more");
  const OptionDate from = parse_assessment_date("--from", from_text);
  const OptionDate to = parse_assessment_date("--to", to_text);
  if (first_second(from) >= end_second(to)) usage_error("--to " + to_text + ": before --from " + from_text);
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
