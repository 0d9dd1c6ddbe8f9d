#include "support/date_parsing.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string_view>

#include "support/errors.h"

namespace zendrel {
namespace {

// A case's text, quoted, with anything but printable ASCII as \xNN.
void PrintData(std::string_view data, std::ostream* os) {
  *os << '\'';
  for (const char c : data) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      *os << c;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      *os << "\\x" << kHex[byte >> 4] << kHex[byte & 0xF];
    }
  }
  *os << '\'';
}

struct AcceptedCase {
  const char* data;
  DateTime date;
};

void PrintTo(const AcceptedCase& c, std::ostream* os) { PrintData(c.data, os); }

class TrataDataAcceptsTest : public testing::TestWithParam<AcceptedCase> {};

TEST_P(TrataDataAcceptsTest, GivesTheDateAtTimeZero) { EXPECT_EQ(TrataData(GetParam().data), GetParam().date); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, TrataDataAcceptsTest,
    testing::Values(AcceptedCase{"2021-09-23T14:30:00.000Z", DateTime::Date(2021, 9, 23)},
                    AcceptedCase{"2021-09-23T23:59:59-03:00", DateTime::Date(2021, 9, 23)},
                    AcceptedCase{"2021-09-23", DateTime::Date(2021, 9, 23)},
                    AcceptedCase{"2021/09/23", DateTime::Date(2021, 9, 23)},
                    AcceptedCase{"2021x09y23", DateTime::Date(2021, 9, 23)},
                    AcceptedCase{"2020-02-29", DateTime::Date(2020, 2, 29)},
                    AcceptedCase{"2021- 9- 5", DateTime::Date(2021, 9, 5)},
                    AcceptedCase{"0001-01-01", DateTime::Date(1, 1, 1)},
                    AcceptedCase{"9999-12-31", DateTime::Date(9999, 12, 31)},
                    // Joined to "23/09/21 /": one trailing separator with blanks is allowed.
                    AcceptedCase{"21 /-09-23", DateTime::Date(21, 9, 23)},
                    AcceptedCase{"21/ -09-23", DateTime::Date(21, 9, 23)},
                    AcceptedCase{"2021-09- 2 ", DateTime::Date(2021, 9, 2)},
                    AcceptedCase{" 021-09-23", DateTime::Date(21, 9, 23)}));
// clang-format on

struct RejectedCase {
  const char* data;
  const char* message;
};

void PrintTo(const RejectedCase& c, std::ostream* os) { PrintData(c.data, os); }

class TrataDataRejectsTest : public testing::TestWithParam<RejectedCase> {};

TEST_P(TrataDataRejectsTest, NamesTheJoinedText) {
  try {
    const DateTime date = TrataData(GetParam().data);
    ADD_FAILURE() << "accepted as " << date.year << "-" << date.month << "-" << date.day;
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, TrataDataRejectsTest,
    testing::Values(RejectedCase{"", "'//' is not a valid date"},
                    RejectedCase{"2021-02-29", "'29/02/2021' is not a valid date"},
                    RejectedCase{"2021-9-23", "'3/9-/2021' is not a valid date"},
                    RejectedCase{"23/09/2021", "'21//2/23/0' is not a valid date"},
                    RejectedCase{"2021", "'//2021' is not a valid date"},
                    RejectedCase{"2021-09", "'/09/2021' is not a valid date"},
                    RejectedCase{"2021-09-", "'/09/2021' is not a valid date"},
                    RejectedCase{"2021-13-01", "'01/13/2021' is not a valid date"},
                    RejectedCase{"2021-00-10", "'10/00/2021' is not a valid date"},
                    RejectedCase{"2021-04-31", "'31/04/2021' is not a valid date"},
                    RejectedCase{"0000-01-01", "'01/01/0000' is not a valid date"},
                    RejectedCase{"abcd-ef-gh", "'gh/ef/abcd' is not a valid date"},
                    RejectedCase{"2021-09-2x", "'2x/09/2021' is not a valid date"},
                    RejectedCase{"2021-0 -23", "'23/0 /2021' is not a valid date"},
                    // After the third number, one separator and blanks at most.
                    RejectedCase{"21//-09-23", "'23/09/21//' is not a valid date"},
                    RejectedCase{"21 x-09-23", "'23/09/21 x' is not a valid date"},
                    // Only the blank is skipped, not other white space.
                    RejectedCase{"2021-09-2\t", "'2\t/09/2021' is not a valid date"},
                    RejectedCase{"2021-+9-23", "'23/+9/2021' is not a valid date"},
                    RejectedCase{"2021-09-//", "'///09/2021' is not a valid date"}));
// clang-format on

TEST(TrataDataTest, MonthFirstSettingsReadTheJoinedTextMonthFirst) {
  RegionalSettings month_first;
  month_first.short_date_format = "M/d/yyyy";
  EXPECT_EQ(TrataData("2021-09-05", month_first), DateTime::Date(2021, 5, 9));
  try {
    TrataData("2021-09-23", month_first);
    ADD_FAILURE() << "month 23 accepted";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'23/09/2021' is not a valid date");
  }
}

TEST(TrataDataTest, TheOrderComesFromTheFirstDateLetterOfTheFormat) {
  struct Case {
    const char* format;
    DateTime date;  // of the joined text "05/09/2021"
  };
  const Case cases[] = {
      {"dd/MM/yyyy", DateTime::Date(2021, 9, 5)}, {"D/M/Y", DateTime::Date(2021, 9, 5)},
      {"MM/dd/yyyy", DateTime::Date(2021, 5, 9)}, {"", DateTime::Date(2021, 5, 9)},
      {"x/z", DateTime::Date(2021, 5, 9)},
  };
  for (const Case& c : cases) {
    RegionalSettings regional;
    regional.short_date_format = c.format;
    EXPECT_EQ(TrataData("2021-09-05", regional), c.date) << c.format;
  }
  // Year first: the joined text "20/09/0012" is year 20, month 9, day 12.
  for (const char* format : {"yyyy/MM/dd", "gg ee/MM/dd", "Y-M-D"}) {
    RegionalSettings year_first;
    year_first.short_date_format = format;
    EXPECT_EQ(TrataData("0012-09-20", year_first), DateTime::Date(20, 9, 12)) << format;
    EXPECT_THROW(TrataData("2021-09-05", year_first), ConversionError) << format;  // day 2021
  }
}

TEST(TrataDataTest, JoinsWithTheRegionalSeparator) {
  RegionalSettings dotted;
  dotted.date_separator = '.';
  EXPECT_EQ(TrataData("2021-09-23", dotted), DateTime::Date(2021, 9, 23));
  try {
    TrataData("2021-02-30", dotted);
    ADD_FAILURE();
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'30.02.2021' is not a valid date");
  }
  // A "/" in the text is no separator under these settings.
  EXPECT_THROW(TrataData("2021/9/ 23", dotted), ConversionError);
}

TEST(TrataDataTest, CutsByCharactersNotBytes) {
  try {
    TrataData("2021-\xC3\xA9\xC3\xA9-23");
    ADD_FAILURE();
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'23/\xC3\xA9\xC3\xA9/2021' is not a valid date");
  }
}

}  // namespace
}  // namespace zendrel
