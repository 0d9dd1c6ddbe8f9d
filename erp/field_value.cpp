// Typed reads of column values.
#include "erp/field_value.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "support/errors.h"
#include "support/regional_settings.h"

namespace zendrel {
namespace {

// Days from 1 January 1970 of a civil date (proleptic Gregorian), and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

const std::int64_t kIscEpoch = DaysFromCivil(1858, 11, 17);

std::int64_t PowerOfTen(int exponent) {
  std::int64_t result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

std::int32_t CheckedInt32(std::int64_t value, const std::string& name) {
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    throw ConversionError(fmt::format("O valor {} do campo {} não cabe em um inteiro", value, name));
  }
  return static_cast<std::int32_t>(value);
}

void SetTimeOfDay(std::uint32_t isc_time, DateTime& moment) {
  moment.hour = static_cast<int>(isc_time / 36000000);
  moment.minute = static_cast<int>(isc_time / 600000 % 60);
  moment.second = static_cast<int>(isc_time / 10000 % 60);
  // Ten-thousandths cut to milliseconds, never rounded up into the next second.
  moment.millisecond = static_cast<int>(isc_time % 10000 / 10);
}

}  // namespace

std::int32_t ToIscDate(int year, int month, int day) {
  return static_cast<std::int32_t>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                                   kIscEpoch);
}

void FromIscDate(std::int32_t isc_date, int& year, int& month, int& day) {
  CivilFromDays(isc_date + kIscEpoch, year, month, day);
}

std::uint32_t ToIscTime(int hour, int minute, int second, int millisecond) {
  return static_cast<std::uint32_t>(((hour * 60 + minute) * 60 + second) * 10000 + millisecond * 10);
}

FieldValue FieldValue::Null(Kind kind, std::string name) {
  FieldValue value;
  value.kind_ = kind;
  value.name_ = std::move(name);
  return value;
}

FieldValue FieldValue::Text(std::string utf8, std::string name, int declared_length) {
  FieldValue value = Null(Kind::Text, std::move(name));
  value.null_ = false;
  value.text_ = std::move(utf8);
  value.declared_length_ = declared_length;
  return value;
}

FieldValue FieldValue::Integer(std::int64_t unscaled, int scale, std::string name) {
  FieldValue value = Null(Kind::Integer, std::move(name));
  value.null_ = false;
  value.integer_ = unscaled;
  value.scale_ = scale;
  return value;
}

FieldValue FieldValue::Float(double number, std::string name) {
  FieldValue value = Null(Kind::Float, std::move(name));
  value.null_ = false;
  value.float_ = number;
  return value;
}

FieldValue FieldValue::Date(std::int32_t isc_date, std::string name) {
  FieldValue value = Null(Kind::Date, std::move(name));
  value.null_ = false;
  value.date_ = isc_date;
  return value;
}

FieldValue FieldValue::Time(std::uint32_t isc_time, std::string name) {
  FieldValue value = Null(Kind::Time, std::move(name));
  value.null_ = false;
  value.time_ = isc_time;
  return value;
}

FieldValue FieldValue::Timestamp(std::int32_t isc_date, std::uint32_t isc_time, std::string name) {
  FieldValue value = Null(Kind::Timestamp, std::move(name));
  value.null_ = false;
  value.date_ = isc_date;
  value.time_ = isc_time;
  return value;
}

FieldValue FieldValue::FromDateTime(Kind kind, const DateTime& moment, std::string name) {
  const std::int32_t day = ToIscDate(moment.year, moment.month, moment.day);
  const std::uint32_t time = ToIscTime(moment.hour, moment.minute, moment.second, moment.millisecond);
  switch (kind) {
    case Kind::Date: return Date(day, std::move(name));
    case Kind::Time: return Time(time, std::move(name));
    default: return Timestamp(day, time, std::move(name));
  }
}

bool FieldValue::IsNull() const { return null_ || (kind_ == Kind::Text && text_.empty()); }

std::int32_t FieldValue::AsInteger() const {
  if (IsNull()) return 0;
  switch (kind_) {
    case Kind::Integer: {
      if (scale_ >= 0) {
        std::int64_t whole = 0;
        if (__builtin_mul_overflow(integer_, PowerOfTen(scale_), &whole)) {
          throw ConversionError(fmt::format("O valor do campo {} não cabe em um inteiro", name_));
        }
        return CheckedInt32(whole, name_);
      }
      const std::int64_t divisor = PowerOfTen(-scale_);
      if (integer_ % divisor != 0) {
        throw ConversionError(fmt::format("O valor {} do campo {} não é um número inteiro", AsString(), name_));
      }
      return CheckedInt32(integer_ / divisor, name_);
    }
    case Kind::Float: {
      if (std::trunc(float_) != float_ || std::abs(float_) > 2147483648.0) {
        throw ConversionError(fmt::format("O valor {} do campo {} não é um inteiro", float_, name_));
      }
      return CheckedInt32(static_cast<std::int64_t>(float_), name_);
    }
    case Kind::Text: {
      std::int64_t parsed = 0;
      std::string_view digits = text_;
      if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
      const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
      if (error != std::errc() || end != digits.data() + digits.size()) {
        throw ConversionError(fmt::format("'{}' não é um valor inteiro válido", text_));
      }
      return CheckedInt32(parsed, name_);
    }
    default: throw ConversionError(fmt::format("O campo {} não pode ser lido como inteiro", name_));
  }
}

std::string FieldValue::AsString() const {
  if (null_) return {};
  switch (kind_) {
    case Kind::Text: return text_;
    case Kind::Integer: {
      if (scale_ >= 0) return std::to_string(integer_ * PowerOfTen(scale_));
      const std::int64_t divisor = PowerOfTen(-scale_);
      const std::uint64_t magnitude =
          integer_ < 0 ? 0 - static_cast<std::uint64_t>(integer_) : static_cast<std::uint64_t>(integer_);
      return fmt::format("{}{}{}{:0{}}", integer_ < 0 ? "-" : "", magnitude / divisor, Regional().decimal_separator,
                         magnitude % divisor, -scale_);
    }
    case Kind::Float: return fmt::format("{}", float_);
    case Kind::Date:
    case Kind::Time:
    case Kind::Timestamp: {
      const DateTime moment = AsDateTime();
      const char ds = Regional().date_separator;
      const char ts = Regional().time_separator;
      const std::string date = fmt::format("{:02}{}{:02}{}{:04}", moment.day, ds, moment.month, ds, moment.year);
      const std::string time = fmt::format("{:02}{}{:02}{}{:02}", moment.hour, ts, moment.minute, ts, moment.second);
      if (kind_ == Kind::Date) return date;
      if (kind_ == Kind::Time) return time;
      // A moment at midnight is written as its day alone.
      if (moment.hour == 0 && moment.minute == 0 && moment.second == 0 && moment.millisecond == 0) return date;
      return date + " " + time;
    }
  }
  return {};
}

Currency FieldValue::AsCurrency() const {
  if (IsNull()) return Currency();
  switch (kind_) {
    case Kind::Integer: return Currency::FromScaled(integer_, scale_);
    case Kind::Float: return Currency::FromRaw(static_cast<std::int64_t>(std::llround(float_ * Currency::kScale)));
    case Kind::Text: return Currency::Parse(text_);
    default: throw ConversionError(fmt::format("O campo {} não pode ser lido como valor", name_));
  }
}

DateTime FieldValue::AsDateTime() const {
  if (null_) return DateTime::Zero();
  DateTime moment = DateTime::Zero();
  switch (kind_) {
    case Kind::Date: FromIscDate(date_, moment.year, moment.month, moment.day); return moment;
    case Kind::Time: SetTimeOfDay(time_, moment); return moment;
    case Kind::Timestamp:
      FromIscDate(date_, moment.year, moment.month, moment.day);
      SetTimeOfDay(time_, moment);
      return moment;
    default: throw ConversionError(fmt::format("O campo {} não pode ser lido como data", name_));
  }
}

bool FieldValue::SameValue(const FieldValue& other) const {
  if (kind_ != other.kind_ || null_ != other.null_) return false;
  if (null_) return true;
  switch (kind_) {
    case Kind::Text: return text_ == other.text_;
    case Kind::Integer: return integer_ == other.integer_ && scale_ == other.scale_;
    case Kind::Float: return float_ == other.float_;
    default: return date_ == other.date_ && time_ == other.time_;
  }
}

}  // namespace zendrel
