#include "support/date_time.h"

#include <gtest/gtest.h>

#include "support/regional_settings.h"

namespace zendrel {
namespace {

TEST(IsValidDateTest, FollowsTheGregorianCalendar) {
  struct Case {
    int year, month, day;
    bool valid;
  };
  const Case cases[] = {
      {2021, 9, 23, true},  {2021, 2, 28, true},  {2021, 2, 29, false}, {2020, 2, 29, true},  {1900, 2, 29, false},
      {2000, 2, 29, true},  {2021, 4, 30, true},  {2021, 4, 31, false}, {2021, 12, 31, true}, {2021, 13, 1, false},
      {2021, 0, 1, false},  {2021, 1, 0, false},  {1, 1, 1, true},      {9999, 12, 31, true}, {0, 1, 1, false},
      {10000, 1, 1, false}, {2021, -1, 1, false}, {2021, 1, -1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidDate(c.year, c.month, c.day), c.valid) << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST(DateTimeFormatTest, WritesFixedWidthFields) {
  const DateTime moment{2021, 9, 3, 4, 5, 9, 999};
  EXPECT_EQ(FormatPostingMoment(moment), "2021-09-03 04:05:09");
  EXPECT_EQ(FormatLogTimestamp(moment), "03/09/2021 04:05:09");
  const DateTime evening{987, 12, 31, 23, 59, 58, 0};
  EXPECT_EQ(FormatPostingMoment(evening), "0987-12-31 23:59:58");
  EXPECT_EQ(FormatLogTimestamp(evening), "31/12/0987 23:59:58");
}

TEST(DateTimeFormatTest, TakesTheSeparatorsFromTheRegionalSettings) {
  RegionalSettings other;
  other.date_separator = '.';
  other.time_separator = '-';
  const DateTime moment{2021, 9, 23, 14, 5, 9, 0};
  EXPECT_EQ(FormatLogTimestamp(moment, other), "23.09.2021 14-05-09");
  EXPECT_EQ(FormatPostingMoment(moment, other), "2021-09-23 14-05-09");
}

TEST(DateTimeTest, ZeroIsTheEmptyValueAndDatePartDropsTheTime) {
  EXPECT_TRUE(DateTime{}.IsZero());
  EXPECT_FALSE(DateTime::Date(2021, 9, 23).IsZero());
  EXPECT_EQ((DateTime{2021, 9, 23, 14, 30, 1, 5}.DatePart()), DateTime::Date(2021, 9, 23));
  EXPECT_EQ(DateTime::Combine(DateTime::Date(2021, 9, 23), DateTime{1899, 12, 30, 8, 7, 6, 5}),
            (DateTime{2021, 9, 23, 8, 7, 6, 5}));
}

TEST(RegionalTest, IsBrazilianPortuguese) {
  const RegionalSettings& r = Regional();
  EXPECT_EQ(r.date_separator, '/');
  EXPECT_EQ(r.time_separator, ':');
  EXPECT_EQ(r.decimal_separator, ',');
  EXPECT_EQ(r.thousand_separator, '.');
  EXPECT_EQ(r.short_date_format, "dd/MM/yyyy");
}

}  // namespace
}  // namespace zendrel
