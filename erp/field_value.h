// One column value of a fetched row, read in the types the system works with.
#pragma once

#include <cstdint>
#include <string>

#include "support/currency.h"
#include "support/date_time.h"

namespace zendrel {

class FieldValue {
 public:
  enum class Kind { Text, Integer, Float, Date, Time, Timestamp };

  // A NULL text.
  FieldValue() = default;

  // Values as they come from a column. `scale` is the power of ten of an integer's
  // unit (NUMERIC(15,2) gives -2). Text is UTF-8; `declared_length` in characters.
  static FieldValue Null(Kind kind, std::string name = {});
  static FieldValue Text(std::string utf8, std::string name = {}, int declared_length = 0);
  static FieldValue Integer(std::int64_t unscaled, int scale, std::string name = {});
  static FieldValue Float(double value, std::string name = {});
  // Firebird's own day and time numbers (days since 17 November 1858, and
  // ten-thousandths of a second), so that a value can be sent back unchanged.
  static FieldValue Date(std::int32_t isc_date, std::string name = {});
  static FieldValue Time(std::uint32_t isc_time, std::string name = {});
  static FieldValue Timestamp(std::int32_t isc_date, std::uint32_t isc_time, std::string name = {});
  // `moment` as a value of `kind` (Date keeps the day, Time the time of day).
  static FieldValue FromDateTime(Kind kind, const DateTime& moment, std::string name = {});

  // NULL, or a text that is empty once CHAR padding is removed: the data layer
  // treats an empty text and NULL as the same.
  bool IsNull() const;

  // Integer columns (a NUMERIC only when it holds a whole number), and texts holding
  // a whole decimal number. NULL reads as 0. Throws ConversionError for a value that
  // does not fit 32 bits, has a fraction, or is no number.
  std::int32_t AsInteger() const;
  // Text without CHAR trailing blanks; integers in decimal; NUMERIC with "," as the
  // decimal point; dates "DD/MM/YYYY", times "HH:mm:ss". NULL gives "".
  std::string AsString() const;
  // NUMERIC and integer columns exactly. NULL reads as 0.
  Currency AsCurrency() const;
  // Date, time and timestamp columns. NULL reads as the zero date-time; a time of day
  // alone lies on the zero day.
  DateTime AsDateTime() const;

  Kind kind() const { return kind_; }
  const std::string& name() const { return name_; }
  bool is_sql_null() const { return null_; }
  int scale() const { return scale_; }
  std::int64_t unscaled() const { return integer_; }
  double float_value() const { return float_; }
  const std::string& text() const { return text_; }
  int declared_length() const { return declared_length_; }
  std::int32_t isc_date() const { return date_; }
  std::uint32_t isc_time() const { return time_; }

  // Same kind, same NULL-ness, same value.
  bool SameValue(const FieldValue& other) const;

 private:
  Kind kind_ = Kind::Text;
  bool null_ = true;
  std::string name_;
  std::string text_;
  int declared_length_ = 0;
  std::int64_t integer_ = 0;
  int scale_ = 0;
  double float_ = 0;
  std::int32_t date_ = 0;
  std::uint32_t time_ = 0;
};

// Firebird's day number (days since 17 November 1858) of a calendar day, and back.
std::int32_t ToIscDate(int year, int month, int day);
void FromIscDate(std::int32_t isc_date, int& year, int& month, int& day);
// Ten-thousandths of a second since midnight, and back.
std::uint32_t ToIscTime(int hour, int minute, int second, int millisecond);

}  // namespace zendrel
