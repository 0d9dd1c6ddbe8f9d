#include "support/text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

namespace zendrel {
namespace {

constexpr bool kGone = true;
constexpr bool kKept = false;

// One character and, for each trim, whether it is removed at an end. Every trim
// keeps every character between the first and the last one it keeps.
struct EdgeCharacter {
  const char* name;
  char c;
  bool controls_and_spaces;
  bool spaces_and_tabs;
  bool spaces_tabs_and_cr;
  bool spaces_tabs_and_line_ends;
  bool trailing_line_ends_at_front;  // TrimSpacesTabsAndTrailingLineEnds
  bool trailing_line_ends_at_back;
};

void PrintTo(const EdgeCharacter& c, std::ostream* os) { *os << c.name; }

class TrimTest : public testing::TestWithParam<EdgeCharacter> {};

// `trim` applied to `c` in front of, behind and inside a word.
void ExpectTrim(std::string_view (*trim)(std::string_view), const char* trim_name, char c, bool gone_at_front,
                bool gone_at_back) {
  const std::string ch(1, c);
  EXPECT_EQ(trim(ch + "ab"), gone_at_front ? "ab" : ch + "ab") << trim_name << " at the front";
  EXPECT_EQ(trim("ab" + ch), gone_at_back ? "ab" : "ab" + ch) << trim_name << " at the back";
  EXPECT_EQ(trim("a" + ch + "b"), "a" + ch + "b") << trim_name << " inside";
  if (gone_at_front && gone_at_back) {
    EXPECT_EQ(trim(ch + ch + ch), "") << trim_name << " alone";
  }
}

TEST_P(TrimTest, RemovesItsOwnCharactersFromTheEndsOnly) {
  const EdgeCharacter& e = GetParam();
  ExpectTrim(TrimControlsAndSpaces, "TrimControlsAndSpaces", e.c, e.controls_and_spaces, e.controls_and_spaces);
  ExpectTrim(TrimSpacesAndTabs, "TrimSpacesAndTabs", e.c, e.spaces_and_tabs, e.spaces_and_tabs);
  ExpectTrim(TrimSpacesTabsAndCr, "TrimSpacesTabsAndCr", e.c, e.spaces_tabs_and_cr, e.spaces_tabs_and_cr);
  ExpectTrim(TrimSpacesTabsAndLineEnds, "TrimSpacesTabsAndLineEnds", e.c, e.spaces_tabs_and_line_ends,
             e.spaces_tabs_and_line_ends);
  ExpectTrim(TrimSpacesTabsAndTrailingLineEnds, "TrimSpacesTabsAndTrailingLineEnds", e.c, e.trailing_line_ends_at_front,
             e.trailing_line_ends_at_back);
}

// Columns: controls and spaces; spaces and tabs; spaces, tabs and CR; spaces, tabs
// and line ends; trailing line ends (front, back).
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Characters, TrimTest,
    testing::Values(EdgeCharacter{"space", ' ', kGone, kGone, kGone, kGone, kGone, kGone},
                    EdgeCharacter{"tab", '\t', kGone, kGone, kGone, kGone, kGone, kGone},
                    EdgeCharacter{"CR", '\r', kGone, kKept, kGone, kGone, kKept, kGone},
                    EdgeCharacter{"LF", '\n', kGone, kKept, kKept, kGone, kKept, kGone},
                    EdgeCharacter{"NUL", '\0', kGone, kKept, kKept, kKept, kKept, kKept},
                    EdgeCharacter{"vertical tab", '\v', kGone, kKept, kKept, kKept, kKept, kKept},
                    EdgeCharacter{"form feed", '\f', kGone, kKept, kKept, kKept, kKept, kKept},
                    EdgeCharacter{"code 31", '\x1f', kGone, kKept, kKept, kKept, kKept, kKept},
                    EdgeCharacter{"'!', code 33", '!', kKept, kKept, kKept, kKept, kKept, kKept},
                    EdgeCharacter{"letter", 'x', kKept, kKept, kKept, kKept, kKept, kKept},
                    EdgeCharacter{"DEL, code 127", '\x7f', kKept, kKept, kKept, kKept, kKept, kKept},
                    // Bytes above 127 are negative as char: they must not count as "up to 32".
                    EdgeCharacter{"byte 0xA0", '\xa0', kKept, kKept, kKept, kKept, kKept, kKept},
                    EdgeCharacter{"byte 0xFF", '\xff', kKept, kKept, kKept, kKept, kKept, kKept}));
// clang-format on

TEST(TrimRuns, StopAtTheFirstKeptCharacterFromEachEnd) {
  using namespace std::string_view_literals;
  EXPECT_EQ(TrimControlsAndSpaces(""), "");
  EXPECT_EQ(TrimSpacesAndTabs(""), "");
  EXPECT_EQ(TrimControlsAndSpaces("\r\n \t\0ab c\t\r\n\0"sv), "ab c");
  EXPECT_EQ(TrimSpacesAndTabs(" \t\r \tab\t \r\t "), "\r \tab\t \r");
  EXPECT_EQ(TrimSpacesTabsAndCr("\r \nkey = v\r\n"), "\nkey = v\r\n");
  EXPECT_EQ(TrimSpacesTabsAndLineEnds("\n\r\t SET TERM ^ \r\n\t"), "SET TERM ^");
  EXPECT_EQ(TrimSpacesTabsAndTrailingLineEnds(" \tvalue \r\n \t\r\n"), "value");
  EXPECT_EQ(TrimSpacesTabsAndTrailingLineEnds("\r\n value"), "\r\n value");
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

struct EncodeCase {
  const char* text;
  const char* encoded;
};

void PrintTo(const EncodeCase& c, std::ostream* os) { *os << '"' << c.encoded << '"'; }

class PercentEncodeTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(PercentEncodeTest, EscapesEveryByteNotKeptWithUpperCaseHex) {
  EXPECT_EQ(PercentEncode(GetParam().text, IsLetter), GetParam().encoded);
}

INSTANTIATE_TEST_SUITE_P(Table, PercentEncodeTest,
                         testing::Values(EncodeCase{"", ""}, EncodeCase{"Abc", "Abc"}, EncodeCase{"a b", "a%20b"},
                                         EncodeCase{"a/b?c", "a%2Fb%3Fc"}, EncodeCase{"%A", "%25A"},
                                         EncodeCase{"\x01\x1f", "%01%1F"}, EncodeCase{"\x7f", "%7F"},
                                         // UTF-8 text byte by byte; high bytes are not sign-extended.
                                         EncodeCase{"p\xc3\xa9", "p%C3%A9"}, EncodeCase{"\xff", "%FF"}));

TEST(PercentEncode, EscapesNul) {
  using namespace std::string_view_literals;
  EXPECT_EQ(PercentEncode("a\0b"sv, IsLetter), "a%00b");
}

}  // namespace
}  // namespace zendrel
