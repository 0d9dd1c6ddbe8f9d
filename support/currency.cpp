// Fixed-point arithmetic of Currency: exact conversions from the database's scaled
// integers and the two roundings the platform's parameters need.
#include "support/currency.h"

#include <cstdint>

#include <fmt/format.h>

#include "support/errors.h"

namespace zendrel {
namespace {

// Everything is worked out on 64-bit magnitudes (unsigned, so that INT64_MIN's has
// room), which every build has: a 32-bit compiler has no 128-bit integer.
constexpr int kDecimals = 4;

// 10^exponent for 0 <= exponent <= 19 (the largest power of ten that fits).
std::uint64_t PowerOfTen(int exponent) {
  std::uint64_t result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

// The magnitude of a value as an unsigned number, safe for INT64_MIN.
std::uint64_t Magnitude(std::int64_t value) {
  return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// The value of `magnitude` with the sign `negative`; false when it does not fit.
bool Signed(std::uint64_t magnitude, bool negative, std::int64_t& value) {
  const std::uint64_t limit = static_cast<std::uint64_t>(INT64_MAX) + (negative ? 1 : 0);
  if (magnitude > limit) return false;
  // Two's complement: the negation of 2^63 is INT64_MIN itself.
  value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

// numerator / divisor rounded half-even; divisor > 1, so the result always fits.
std::int64_t DivideHalfEven(std::int64_t numerator, std::uint64_t divisor) {
  const std::uint64_t magnitude = Magnitude(numerator);
  std::uint64_t quotient = magnitude / divisor;
  const std::uint64_t remainder = magnitude % divisor;
  const std::uint64_t to_next = divisor - remainder;
  if (remainder > to_next || (remainder == to_next && quotient % 2 != 0)) ++quotient;
  std::int64_t result = 0;
  Signed(quotient, numerator < 0, result);
  return result;
}

}  // namespace

Currency Currency::FromScaled(std::int64_t unscaled, int scale) {
  const int shift = scale + kDecimals;  // power of ten from `unscaled` to the raw value
  auto does_not_fit = [&] {
    return ConversionError(fmt::format("{}E{} does not fit in a currency value", unscaled, scale));
  };
  if (shift == 0 || unscaled == 0) return FromRaw(shift >= 0 ? unscaled : 0);
  if (shift > 0) {
    // 10^19 already exceeds int64, so any larger shift of a non-zero value overflows.
    std::uint64_t magnitude = 0;
    if (shift > 18 || __builtin_mul_overflow(Magnitude(unscaled), PowerOfTen(shift), &magnitude)) throw does_not_fit();
    std::int64_t raw = 0;
    if (!Signed(magnitude, unscaled < 0, raw)) throw does_not_fit();
    return FromRaw(raw);
  }
  // Any int64 is below half of 10^20: from there on every value rounds to zero.
  if (-shift > 19) return FromRaw(0);
  return FromRaw(DivideHalfEven(unscaled, PowerOfTen(-shift)));
}

Currency Currency::Parse(std::string_view text) {
  auto invalid = [text] { return ConversionError(fmt::format("'{}' is not a valid currency value", text)); };
  std::size_t pos = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++pos;

  // Magnitude x 10^4, plus the fifth decimal and whether anything non-zero follows it,
  // which is all that half-even rounding to four decimals needs.
  std::uint64_t magnitude = 0;
  int integer_digits = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++integer_digits) {
    if (__builtin_mul_overflow(magnitude, 10U, &magnitude) ||
        __builtin_add_overflow(magnitude, static_cast<unsigned>(text[pos] - '0'), &magnitude)) {
      throw invalid();
    }
  }
  if (integer_digits == 0) throw invalid();
  if (__builtin_mul_overflow(magnitude, static_cast<std::uint64_t>(Currency::kScale), &magnitude)) throw invalid();

  int fifth_decimal = 0;
  bool sticky = false;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    int decimals = 0;
    std::uint64_t place = Currency::kScale / 10;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++decimals) {
      const unsigned digit = static_cast<unsigned>(text[pos] - '0');
      if (decimals < kDecimals) {
        if (__builtin_add_overflow(magnitude, digit * place, &magnitude)) throw invalid();
        place /= 10;
      } else if (decimals == kDecimals) {
        fifth_decimal = static_cast<int>(digit);
      } else if (digit != 0) {
        sticky = true;
      }
    }
    if (decimals == 0) throw invalid();
  }
  if (pos != text.size()) throw invalid();

  if (fifth_decimal > 5 || (fifth_decimal == 5 && (sticky || magnitude % 2 != 0))) {
    if (__builtin_add_overflow(magnitude, 1U, &magnitude)) throw invalid();
  }
  std::int64_t raw = 0;
  if (!Signed(magnitude, negative, raw)) throw invalid();
  return FromRaw(raw);
}

std::int64_t Currency::RoundToWhole() const { return DivideHalfEven(raw_, kScale); }

Currency Currency::RoundToCents() const {
  // The product wraps only for the few values within 100 of either end of the range,
  // far beyond any amount.
  return FromRaw(static_cast<std::int64_t>(static_cast<std::uint64_t>(DivideHalfEven(raw_, 100)) * 100U));
}

std::string Currency::FormatTwoDecimals() const {
  const std::int64_t cents = RoundToCents().Raw() / 100;
  const std::uint64_t magnitude = Magnitude(cents);
  // "0.00" carries no sign: a value that rounds to zero is written as plain zero.
  return fmt::format("{}{}.{:02}", cents < 0 ? "-" : "", magnitude / 100, magnitude % 100);
}

std::string Currency::FormatWhole() const { return fmt::format("{}", RoundToWhole()); }

}  // namespace zendrel
