#include "support/currency.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>

#include "support/errors.h"

namespace zendrel {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

struct TwoDecimalsCase {
  const char* value;
  const char* ponto;
};

void PrintTo(const TwoDecimalsCase& c, std::ostream* os) { *os << c.value; }

class FormatTwoDecimalsTest : public testing::TestWithParam<TwoDecimalsCase> {};

TEST_P(FormatTwoDecimalsTest, RoundsHalfEvenAndWritesDotDecimals) {
  EXPECT_EQ(Currency::Parse(GetParam().value).FormatTwoDecimals(), GetParam().ponto);
}

INSTANTIATE_TEST_SUITE_P(Table, FormatTwoDecimalsTest,
                         testing::Values(TwoDecimalsCase{"12.345", "12.34"}, TwoDecimalsCase{"12.355", "12.36"},
                                         TwoDecimalsCase{"0.125", "0.12"}, TwoDecimalsCase{"0.135", "0.14"},
                                         TwoDecimalsCase{"12.3451", "12.35"}, TwoDecimalsCase{"12.3449", "12.34"},
                                         TwoDecimalsCase{"1234567.8", "1234567.80"}, TwoDecimalsCase{"-5", "-5.00"},
                                         TwoDecimalsCase{"-0.004", "0.00"}, TwoDecimalsCase{"-0.005", "0.00"},
                                         TwoDecimalsCase{"-0.0051", "-0.01"}, TwoDecimalsCase{"-12.345", "-12.34"},
                                         TwoDecimalsCase{"-12.355", "-12.36"}, TwoDecimalsCase{"0", "0.00"},
                                         TwoDecimalsCase{"10", "10.00"}, TwoDecimalsCase{"0.995", "1.00"},
                                         TwoDecimalsCase{"0.05", "0.05"}, TwoDecimalsCase{"-0.05", "-0.05"}));

TEST(CurrencyExtremesTest, FormatsTheEndsOfTheRangeWithoutOverflow) {
  EXPECT_EQ(Currency::FromRaw(kMax).FormatTwoDecimals(), "922337203685477.58");
  EXPECT_EQ(Currency::FromRaw(kMin).FormatTwoDecimals(), "-922337203685477.58");
  EXPECT_EQ(Currency::FromRaw(kMax).FormatWhole(), "922337203685478");
  EXPECT_EQ(Currency::FromRaw(kMin).FormatWhole(), "-922337203685478");
  EXPECT_EQ(Currency::FromRaw(kMin).RoundToCents(), Currency::FromRaw(kMin + 8));
}

struct WholeCase {
  const char* value;
  std::int64_t whole;
  const char* quantidade;
};

void PrintTo(const WholeCase& c, std::ostream* os) { *os << c.value; }

class FormatWholeTest : public testing::TestWithParam<WholeCase> {};

TEST_P(FormatWholeTest, RoundsHalfToEven) {
  const Currency value = Currency::Parse(GetParam().value);
  EXPECT_EQ(value.RoundToWhole(), GetParam().whole);
  EXPECT_EQ(value.FormatWhole(), GetParam().quantidade);
}

INSTANTIATE_TEST_SUITE_P(Table, FormatWholeTest,
                         testing::Values(WholeCase{"2.5", 2, "2"}, WholeCase{"3.5", 4, "4"}, WholeCase{"0.5", 0, "0"},
                                         WholeCase{"1.4999", 1, "1"}, WholeCase{"1.5001", 2, "2"},
                                         WholeCase{"-2.5", -2, "-2"}, WholeCase{"-3.5", -4, "-4"},
                                         WholeCase{"-0.5", 0, "0"}, WholeCase{"-0.4", 0, "0"},
                                         WholeCase{"-0.6", -1, "-1"}, WholeCase{"12", 12, "12"},
                                         WholeCase{"0", 0, "0"}));

struct ScaledCase {
  std::int64_t unscaled;
  int scale;
  std::int64_t raw;
};

void PrintTo(const ScaledCase& c, std::ostream* os) { *os << c.unscaled << "E" << c.scale; }

class FromScaledTest : public testing::TestWithParam<ScaledCase> {};

TEST_P(FromScaledTest, IsExactAndRoundsBeyondFourDecimalsHalfEven) {
  EXPECT_EQ(Currency::FromScaled(GetParam().unscaled, GetParam().scale).Raw(), GetParam().raw);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, FromScaledTest,
    testing::Values(ScaledCase{12345, -3, 123450}, ScaledCase{12345, -4, 12345}, ScaledCase{10, 0, 100000},
                    ScaledCase{-5, 0, -50000}, ScaledCase{7, 2, 7000000}, ScaledCase{123455, -5, 12346},
                    ScaledCase{123445, -5, 12344}, ScaledCase{123445001, -8, 12345},
                    ScaledCase{-123455, -5, -12346}, ScaledCase{-123445, -5, -12344},
                    ScaledCase{5, -5, 0}, ScaledCase{15, -5, 2}, ScaledCase{kMax, -18, 92234},
                    ScaledCase{kMin, -18, -92234}, ScaledCase{kMax, -30, 0}, ScaledCase{kMin, -60, 0},
                    ScaledCase{kMax, -4, kMax}, ScaledCase{kMin, -4, kMin}, ScaledCase{0, 30, 0},
                    // 10^-23 x 9.22e18 is 0.0000922..., exactly representable as 1 after rounding.
                    ScaledCase{kMax, -23, 1}, ScaledCase{kMin, -23, -1}));
// clang-format on

TEST(FromScaledTest, RejectsValuesThatDoNotFit) {
  const ScaledCase cases[] = {{kMax, -3, 0}, {kMin, -3, 0}, {kMax, 0, 0}, {1, 15, 0}, {-1, 15, 0}, {1, 40, 0}};
  for (const ScaledCase& c : cases) {
    EXPECT_THROW(Currency::FromScaled(c.unscaled, c.scale), ConversionError) << c.unscaled << "E" << c.scale;
  }
  EXPECT_EQ(Currency::FromScaled(1, 14).Raw(), 1'000'000'000'000'000'000);
}

TEST(CurrencyParseTest, ReadsPlainDecimals) {
  EXPECT_EQ(Currency::Parse("12.345").Raw(), 123450);
  EXPECT_EQ(Currency::Parse("-0.004").Raw(), -40);
  EXPECT_EQ(Currency::Parse("10").Raw(), 100000);
  EXPECT_EQ(Currency::Parse("0.00005").Raw(), 0);
  EXPECT_EQ(Currency::Parse("0.00015").Raw(), 2);
  EXPECT_EQ(Currency::Parse("0.000050001").Raw(), 1);
  EXPECT_EQ(Currency::Parse("922337203685477.5807").Raw(), kMax);
  EXPECT_EQ(Currency::Parse("-922337203685477.5808").Raw(), kMin);
}

TEST(CurrencyParseTest, RejectsAnythingElse) {
  for (const char* text : {"", "-", "1.", ".5", "1,5", "1e3", " 1", "1 ", "+1", "--1", "1.2.3", "abc",
                           "922337203685477.5808", "-922337203685477.5809", "99999999999999999999999"}) {
    EXPECT_THROW(Currency::Parse(text), ConversionError) << text;
  }
}

TEST(CurrencyTest, OrdersByValue) {
  EXPECT_LT(Currency::Parse("-1"), Currency::Parse("0.0001"));
  EXPECT_EQ(Currency::Parse("1.50"), Currency::Parse("1.5"));
}

}  // namespace
}  // namespace zendrel
