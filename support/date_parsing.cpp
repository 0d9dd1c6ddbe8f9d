// Reading the platform's ISO 8601 dates: the calendar date is cut out by position,
// rejoined as a day/month/year text and read with the regional short-date reader.
#include "support/date_parsing.h"

#include <fmt/format.h>

#include <optional>

#include "support/errors.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

enum class DateOrder { kDayMonthYear, kMonthDayYear, kYearMonthDay };

// The order of the three numbers is decided by the first of the letters D, M, Y or E
// in the short date format (E: the era year of some calendars).
DateOrder OrderOf(std::string_view short_date_format) {
  for (const char c : short_date_format) {
    switch (c) {
      case 'd':
      case 'D': return DateOrder::kDayMonthYear;
      case 'y':
      case 'Y':
      case 'e':
      case 'E': return DateOrder::kYearMonthDay;
      case 'm':
      case 'M': return DateOrder::kMonthDayYear;
      default: break;
    }
  }
  return DateOrder::kMonthDayYear;
}

// Walks a short-date text: blanks before each number and separator are skipped.
class DateScanner {
 public:
  DateScanner(std::string_view text, char separator) : text_(text), separator_(separator) {}

  // A run of decimal digits; values too large for any date saturate, so they stay
  // invalid instead of wrapping into a valid one.
  std::optional<int> Number() {
    SkipBlanks();
    const std::size_t start = pos_;
    int value = 0;
    for (; pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9'; ++pos_) {
      if (value < kSaturated) value = value * 10 + (text_[pos_] - '0');
    }
    if (pos_ == start) return std::nullopt;
    return value;
  }

  bool Separator() {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == separator_) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool AtEnd() {
    SkipBlanks();
    return pos_ == text_.size();
  }

 private:
  static constexpr int kSaturated = 100000;

  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  std::string_view text_;
  char separator_;
  std::size_t pos_ = 0;
};

// The short-date reader: number, separator, number, separator, number, then at most
// one more separator, in the order of the regional short date format.
std::optional<DateTime> ReadShortDate(std::string_view text, const RegionalSettings& regional) {
  DateScanner scan(text, regional.date_separator);
  const std::optional<int> first = scan.Number();
  if (!first || !scan.Separator()) return std::nullopt;
  const std::optional<int> second = scan.Number();
  if (!second || !scan.Separator()) return std::nullopt;
  const std::optional<int> third = scan.Number();
  if (!third) return std::nullopt;
  scan.Separator();
  if (!scan.AtEnd()) return std::nullopt;

  const DateOrder order = OrderOf(regional.short_date_format);
  const int month = order == DateOrder::kMonthDayYear ? *first : *second;
  const int day = order == DateOrder::kDayMonthYear ? *first : order == DateOrder::kMonthDayYear ? *second : *third;
  const int year = order == DateOrder::kYearMonthDay ? *first : *third;
  if (!IsValidDate(year, month, day)) return std::nullopt;
  return DateTime::Date(year, month, day);
}

// Up to `count` characters of `text` from the 0-based character `first` on; shorter
// or empty when the text ends first.
std::string_view CharactersAt(std::string_view text, std::size_t first, std::size_t count) {
  const std::size_t skipped = Utf8Prefix(text, first).size();
  text.remove_prefix(skipped);
  return text.substr(0, Utf8Prefix(text, count).size());
}

}  // namespace

DateTime TrataData(std::string_view Data, const RegionalSettings& regional) {
  const std::string_view year = CharactersAt(Data, 0, 4);
  const std::string_view month = CharactersAt(Data, 5, 2);
  const std::string_view day = CharactersAt(Data, 8, 2);
  const char sep = regional.date_separator;
  const std::string joined = fmt::format("{}{}{}{}{}", day, sep, month, sep, year);
  if (const std::optional<DateTime> date = ReadShortDate(joined, regional)) return *date;
  throw ConversionError(fmt::format("'{}' is not a valid date", joined));
}

DateTime TrataData(std::string_view Data) { return TrataData(Data, Regional()); }

}  // namespace zendrel
