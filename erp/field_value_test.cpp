#include "erp/field_value.h"

#include <gtest/gtest.h>

#include "support/errors.h"

namespace zendrel {
namespace {

TEST(FieldValue, NullReadsAsZeroEmptyAndZeroDate) {
  for (const FieldValue::Kind kind :
       {FieldValue::Kind::Text, FieldValue::Kind::Integer, FieldValue::Kind::Date, FieldValue::Kind::Timestamp}) {
    const FieldValue value = FieldValue::Null(kind, "C");
    EXPECT_TRUE(value.IsNull());
    EXPECT_EQ(value.AsString(), "");
    EXPECT_EQ(value.AsDateTime(), DateTime::Zero());
    if (kind != FieldValue::Kind::Date && kind != FieldValue::Kind::Timestamp) {
      EXPECT_EQ(value.AsInteger(), 0);
      EXPECT_EQ(value.AsCurrency(), Currency());
    }
  }
}

TEST(FieldValue, IntegersReadAsTextAndRefuseFractionsAndOverflow) {
  EXPECT_EQ(FieldValue::Integer(0, 0).AsString(), "0");
  EXPECT_FALSE(FieldValue::Integer(0, 0).IsNull());
  EXPECT_EQ(FieldValue::Integer(-42, 0).AsString(), "-42");
  EXPECT_EQ(FieldValue::Integer(15075, -2).AsString(), "150,75");
  EXPECT_EQ(FieldValue::Integer(-5, -3).AsString(), "-0,005");
  EXPECT_EQ(FieldValue::Integer(1500, -2).AsInteger(), 15);
  EXPECT_THROW(FieldValue::Integer(1501, -2).AsInteger(), ConversionError);
  EXPECT_THROW(FieldValue::Integer(2147483648LL, 0).AsInteger(), ConversionError);
  EXPECT_EQ(FieldValue::Integer(-2147483648LL, 0).AsInteger(), -2147483647 - 1);
  EXPECT_EQ(FieldValue::Integer(15075, -2).AsCurrency(), Currency::FromRaw(1507500));
  EXPECT_EQ(FieldValue::Text(" 12").AsString(), " 12");
  EXPECT_EQ(FieldValue::Text("12").AsInteger(), 12);
  EXPECT_THROW(FieldValue::Text("12a").AsInteger(), ConversionError);
}

TEST(FieldValue, DatesAndTimesRoundTripThroughFirebirdNumbers) {
  int y = 0, m = 0, d = 0;
  FromIscDate(0, y, m, d);
  EXPECT_EQ((std::tuple{y, m, d}), (std::tuple{1858, 11, 17}));
  EXPECT_EQ(ToIscDate(1899, 12, 30), 15018);
  const DateTime moment{2024, 2, 29, 23, 59, 58, 999};
  const FieldValue stamp = FieldValue::FromDateTime(FieldValue::Kind::Timestamp, moment);
  EXPECT_EQ(stamp.AsDateTime(), moment);
  EXPECT_EQ(stamp.AsString(), "29/02/2024 23:59:58");
  EXPECT_EQ(FieldValue::FromDateTime(FieldValue::Kind::Date, moment).AsDateTime(), DateTime::Date(2024, 2, 29));
  EXPECT_EQ(FieldValue::FromDateTime(FieldValue::Kind::Timestamp, DateTime::Date(2024, 2, 29)).AsString(),
            "29/02/2024");
  // A time of day alone lies on the zero day; ten-thousandths are cut, not rounded.
  const DateTime time = FieldValue::Time(ToIscTime(14, 30, 59, 0) + 9999).AsDateTime();
  EXPECT_EQ(time, (DateTime{1899, 12, 30, 14, 30, 59, 999}));
  EXPECT_THROW(FieldValue::Integer(1, 0).AsDateTime(), ConversionError);
  EXPECT_THROW(stamp.AsInteger(), ConversionError);
}

TEST(FieldValue, EmptyTextCountsAsNullButZeroDoesNot) {
  EXPECT_TRUE(FieldValue::Text("").IsNull());
  EXPECT_FALSE(FieldValue::Text("Y").IsNull());
  EXPECT_FALSE(FieldValue::Text("").is_sql_null());
}

}  // namespace
}  // namespace zendrel
