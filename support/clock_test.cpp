#include "support/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace zendrel {
namespace {

// Sets TZ for the life of the object and restores it afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

int MinutesOfDay(const DateTime& t) { return t.hour * 60 + t.minute; }

TEST(SystemClockTest, HonoursTheTimeZone) {
  DateTime utc, brazil;
  // A minute boundary between the two readings would shift them; retry once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      ScopedTimeZone zone("UTC0");
      utc = SystemClock().Now();
    }
    {
      ScopedTimeZone zone("BRT3");  // three hours behind UTC, no daylight saving
      brazil = SystemClock().Now();
    }
    if (utc.minute == brazil.minute) break;
  }
  const int difference = (MinutesOfDay(utc) - MinutesOfDay(brazil) + 24 * 60) % (24 * 60);
  EXPECT_EQ(difference, 180);
}

TEST(SystemClockTest, GivesAValidMomentAndTodayAtMidnight) {
  const DateTime now = SystemClock().Now();
  EXPECT_TRUE(IsValidDate(now.year, now.month, now.day));
  EXPECT_GE(now.year, 2024);
  EXPECT_LT(now.hour, 24);
  EXPECT_LT(now.second, 60);
  EXPECT_LT(now.millisecond, 1000);
  const DateTime today = SystemClock().Today();
  EXPECT_EQ(today.hour + today.minute + today.second + today.millisecond, 0);
}

TEST(FixedClockTest, AnswersTheMomentItWasGiven) {
  FixedClock clock(DateTime{2021, 9, 23, 14, 5, 9, 0});
  EXPECT_EQ(clock.Now(), (DateTime{2021, 9, 23, 14, 5, 9, 0}));
  EXPECT_EQ(clock.Today(), DateTime::Date(2021, 9, 23));
  clock.Set(DateTime::Date(2022, 1, 2));
  EXPECT_EQ(clock.Now(), DateTime::Date(2022, 1, 2));
}

}  // namespace
}  // namespace zendrel
