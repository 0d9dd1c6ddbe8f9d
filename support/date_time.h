// A calendar day plus a time of day, local time, as the ERP stores it. The zero
// date-time (30 December 1899, 00:00:00) is the empty value: what a NULL date reads as.
#pragma once

#include <compare>
#include <string>

namespace zendrel {

struct RegionalSettings;

struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  static constexpr DateTime Zero() { return DateTime{}; }
  static constexpr DateTime Date(int y, int m, int d) { return DateTime{y, m, d, 0, 0, 0, 0}; }

  bool IsZero() const { return *this == Zero(); }

  // The same day at 00:00:00.
  DateTime DatePart() const { return Date(year, month, day); }

  // The day of `date` with the time of day of `time`.
  static DateTime Combine(const DateTime& date, const DateTime& time) {
    return DateTime{date.year, date.month, date.day, time.hour, time.minute, time.second, time.millisecond};
  }

  friend constexpr auto operator<=>(const DateTime&, const DateTime&) = default;
};

// Whether year/month/day is a day of the Gregorian calendar (year 1 to 9999).
bool IsValidDate(int year, int month, int day);

// "YYYY-MM-DD HH:mm:ss", the form the platform takes in "dtocorrencia".
std::string FormatPostingMoment(const DateTime& moment);
// The same with the time separator of `regional` in place of the process's.
std::string FormatPostingMoment(const DateTime& moment, const RegionalSettings& regional);

// "DD/MM/YYYY HH:mm:ss", the form of the log's timestamps.
std::string FormatLogTimestamp(const DateTime& moment);
// The same with the separators of `regional` in place of the process's.
std::string FormatLogTimestamp(const DateTime& moment, const RegionalSettings& regional);

}  // namespace zendrel
