// Fixed-point arithmetic of Currency: exact conversions from the database's scaled
// integers and the two roundings the platform's parameters need.
#include "support/currency.h"

#include <fmt/format.h>

#include "support/errors.h"

namespace zendrel {
namespace {

using Wide = __int128;

constexpr int kDecimals = 4;

// 10^exponent for 0 <= exponent <= 38 (the largest power of ten that fits).
Wide PowerOfTen(int exponent) {
  Wide result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

// numerator / divisor rounded half-even; divisor > 0.
Wide DivideHalfEven(Wide numerator, Wide divisor) {
  Wide quotient = numerator / divisor;
  Wide remainder = numerator % divisor;
  Wide twice = 2 * (remainder < 0 ? -remainder : remainder);
  if (twice > divisor || (twice == divisor && quotient % 2 != 0)) {
    quotient += numerator < 0 ? -1 : 1;
  }
  return quotient;
}

bool FitsInt64(Wide value) { return value >= INT64_MIN && value <= INT64_MAX; }

// The magnitude of a value as an unsigned number, safe for INT64_MIN.
std::uint64_t Magnitude(std::int64_t value) {
  return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

}  // namespace

Currency Currency::FromScaled(std::int64_t unscaled, int scale) {
  const int shift = scale + kDecimals;  // power of ten from `unscaled` to the raw value
  Wide raw = 0;
  if (shift >= 0) {
    // 10^19 already exceeds int64, so any larger shift of a non-zero value overflows.
    if (unscaled != 0 && shift > 18) {
      throw ConversionError(fmt::format("{}E{} does not fit in a currency value", unscaled, scale));
    }
    raw = unscaled == 0 ? 0 : Wide{unscaled} * PowerOfTen(shift);
  } else if (-shift > 38) {
    raw = 0;  // below half of the smallest step whatever the unscaled value
  } else {
    raw = DivideHalfEven(Wide{unscaled}, PowerOfTen(-shift));
  }
  if (!FitsInt64(raw)) {
    throw ConversionError(fmt::format("{}E{} does not fit in a currency value", unscaled, scale));
  }
  return FromRaw(static_cast<std::int64_t>(raw));
}

Currency Currency::Parse(std::string_view text) {
  auto invalid = [text] { return ConversionError(fmt::format("'{}' is not a valid currency value", text)); };
  std::size_t pos = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++pos;

  // Magnitude x 10^4, plus the fifth decimal and whether anything non-zero follows it,
  // which is all that half-even rounding to four decimals needs.
  Wide magnitude = 0;
  int integer_digits = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++integer_digits) {
    magnitude = magnitude * 10 + (text[pos] - '0');
    if (magnitude > Wide{INT64_MAX}) throw invalid();
  }
  if (integer_digits == 0) throw invalid();
  magnitude *= Currency::kScale;

  int fifth_decimal = 0;
  bool sticky = false;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    int decimals = 0;
    Wide place = Currency::kScale / 10;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++decimals) {
      const int digit = text[pos] - '0';
      if (decimals < kDecimals) {
        magnitude += digit * place;
        place /= 10;
      } else if (decimals == kDecimals) {
        fifth_decimal = digit;
      } else if (digit != 0) {
        sticky = true;
      }
    }
    if (decimals == 0) throw invalid();
  }
  if (pos != text.size()) throw invalid();

  if (fifth_decimal > 5 || (fifth_decimal == 5 && (sticky || magnitude % 2 != 0))) ++magnitude;
  const Wide raw = negative ? -magnitude : magnitude;
  if (!FitsInt64(raw)) throw invalid();
  return FromRaw(static_cast<std::int64_t>(raw));
}

std::int64_t Currency::RoundToWhole() const { return static_cast<std::int64_t>(DivideHalfEven(raw_, kScale)); }

Currency Currency::RoundToCents() const {
  // Cannot overflow: the rounded value lies between the raw value's neighbouring
  // multiples of 100, which both fit in int64 at either end of the range.
  return FromRaw(static_cast<std::int64_t>(DivideHalfEven(raw_, 100) * 100));
}

std::string Currency::FormatTwoDecimals() const {
  const std::int64_t cents = RoundToCents().Raw() / 100;
  const std::uint64_t magnitude = Magnitude(cents);
  // "0.00" carries no sign: a value that rounds to zero is written as plain zero.
  return fmt::format("{}{}.{:02}", cents < 0 ? "-" : "", magnitude / 100, magnitude % 100);
}

std::string Currency::FormatWhole() const { return fmt::format("{}", RoundToWhole()); }

}  // namespace zendrel
