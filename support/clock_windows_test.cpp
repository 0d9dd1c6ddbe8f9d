// The system clock on Windows reads local time: it agrees with the C library's
// localtime_s of the same moment, not with UTC unless the zone is UTC.
#include "support/clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace zendrel {
namespace {

long long SecondsOfEpochDay(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<long long>(_mkgmtime(&t));
}

TEST(SystemClockWindowsTest, AgreesWithTheCLibrarysLocalTime) {
  const std::time_t moment = std::time(nullptr);
  const DateTime now = SystemClock().Now();
  std::tm local{};
  ASSERT_EQ(localtime_s(&local, &moment), 0);
  const long long expected = SecondsOfEpochDay(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                               local.tm_min, local.tm_sec);
  const long long got = SecondsOfEpochDay(now.year, now.month, now.day, now.hour, now.minute, now.second);
  EXPECT_LE(std::llabs(got - expected), 2) << "clock and localtime_s disagree";
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
}

TEST(SystemClockWindowsTest, TodayIsMidnightOfNow) {
  const DateTime today = SystemClock().Today();
  EXPECT_EQ(today.hour, 0);
  EXPECT_EQ(today.minute, 0);
  EXPECT_EQ(today.second, 0);
  EXPECT_EQ(today.millisecond, 0);
}

}  // namespace
}  // namespace zendrel
