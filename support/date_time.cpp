// Calendar checks and the two fixed text forms of a date-time.
#include "support/date_time.h"

#include <fmt/format.h>

#include "support/regional_settings.h"

namespace zendrel {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  return day >= 1 && day <= DaysInMonth(year, month);
}

std::string FormatPostingMoment(const DateTime& moment, const RegionalSettings& regional) {
  const char t = regional.time_separator;
  return fmt::format("{:04}-{:02}-{:02} {:02}{}{:02}{}{:02}", moment.year, moment.month, moment.day, moment.hour, t,
                     moment.minute, t, moment.second);
}

std::string FormatPostingMoment(const DateTime& moment) { return FormatPostingMoment(moment, Regional()); }

std::string FormatLogTimestamp(const DateTime& moment, const RegionalSettings& regional) {
  const char d = regional.date_separator;
  const char t = regional.time_separator;
  return fmt::format("{:02}{}{:02}{}{:04} {:02}{}{:02}{}{:02}", moment.day, d, moment.month, d, moment.year,
                     moment.hour, t, moment.minute, t, moment.second);
}

std::string FormatLogTimestamp(const DateTime& moment) { return FormatLogTimestamp(moment, Regional()); }

}  // namespace zendrel
