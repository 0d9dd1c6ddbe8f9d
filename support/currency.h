// Signed fixed-point decimal with four decimal places: the type in which the ERP's
// values and quantities are read and posted. Exact: no binary floating point.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace zendrel {

class Currency {
 public:
  static constexpr std::int64_t kScale = 10000;

  constexpr Currency() = default;

  // The value whose internal representation (value x 10000) is `raw`.
  static constexpr Currency FromRaw(std::int64_t raw) {
    Currency c;
    c.raw_ = raw;
    return c;
  }

  // Exact conversion from a database NUMERIC/DECIMAL: value = unscaled x 10^scale
  // (Firebird gives scale <= 0). More than four decimals are rounded half-even to
  // four. Throws ConversionError when the value does not fit.
  static Currency FromScaled(std::int64_t unscaled, int scale);

  // Parses "12.345", "-0.004", "10" (a '.' decimal point, no exponent). Throws
  // ConversionError on anything else. Meant for tests and fixtures.
  static Currency Parse(std::string_view text);

  constexpr std::int64_t Raw() const { return raw_; }

  // Rounded half-even to two decimals, written "0.00" with '.' as the decimal point
  // and without a sign when the rounded value is zero ("ponto" of a points posting).
  std::string FormatTwoDecimals() const;

  // Rounded half-even to a whole number, written without decimals and without a sign
  // when it rounds to zero ("quantidade" of a top-sales posting).
  std::string FormatWhole() const;

  // Round half-even to a whole number / to hundredths.
  std::int64_t RoundToWhole() const;
  Currency RoundToCents() const;

  friend constexpr auto operator<=>(Currency, Currency) = default;

 private:
  std::int64_t raw_ = 0;
};

}  // namespace zendrel
