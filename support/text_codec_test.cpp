#include "support/text_codec.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace zendrel {
namespace {

using namespace std::string_literals;

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Latin1Test, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = Latin1ToUtf8(all);
  EXPECT_EQ(Utf8Length(utf8), 256u);
  EXPECT_EQ(Utf8ToLatin1(utf8), all);
  EXPECT_EQ(Latin1ToUtf8("Jo\xE3o"), "Jo\xC3\xA3o");
}

TEST(Latin1Test, CharactersOutsideLatin1AndMalformedBytesBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToLatin1("\xE2\x82\xAC 5"), "? 5");  // euro sign
  // clang-format off
  EXPECT_EQ(Utf8ToLatin1("a\xF0\x9F\x98\x80" "b"), "a?b");    // one character, one '?'
  EXPECT_EQ(Utf8ToLatin1("a\xC3" "b"), "a?b");                // truncated sequence
  // clang-format on
  EXPECT_EQ(Utf8ToLatin1("\xC3\xA7\xC3\xA3o"), "\xE7\xE3o");  // "ção"
}

TEST(Windows1252Test, DecodesTheHighControlRange) {
  struct Case {
    char byte;
    const char* utf8;
  };
  const Case cases[] = {
      {'\x80', "\xE2\x82\xAC"}, {'\x8A', "\xC5\xA0"}, {'\x93', "\xE2\x80\x9C"}, {'\x96', "\xE2\x80\x93"},
      {'\x99', "\xE2\x84\xA2"}, {'\x9F', "\xC5\xB8"}, {'\x81', "\xC2\x81"},     {'\x8D', "\xC2\x8D"},
      {'\x8F', "\xC2\x8F"},     {'\x90', "\xC2\x90"}, {'\x9D', "\xC2\x9D"},     {'\xE9', "\xC3\xA9"},
      {'\xA0', "\xC2\xA0"},     {'A', "A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Windows1252ToUtf8(std::string(1, c.byte)), c.utf8)
        << static_cast<int>(static_cast<unsigned char>(c.byte));
  }
}

TEST(Windows1252Test, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(all)), all);
}

TEST(Windows1252Test, CharactersItLacksBecomeQuestionMarks) {
  // clang-format off
  EXPECT_EQ(Utf8ToWindows1252("\xE2\x82\xAC" "10"), "\x80" "10");
  // clang-format on
  EXPECT_EQ(Utf8ToWindows1252("\xC2\x80"), "?");  // U+0080: the byte 0x80 is the euro sign
  EXPECT_EQ(Utf8ToWindows1252("\xCE\xA9 \xE4\xB8\xAD"), "? ?");
  EXPECT_EQ(Utf8ToWindows1252("\xFF\xFE"), "??");
  EXPECT_EQ(Utf8ToWindows1252("Concei\xC3\xA7\xC3\xA3o"), "Concei\xE7\xE3o");
}

TEST(Utf16Test, RoundTripsInBothByteOrders) {
  const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A, é, €, U+1F600
  const std::string le = Utf8ToUtf16(text, false);
  const std::string be = Utf8ToUtf16(text, true);
  EXPECT_EQ(le, "A\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE"s);
  EXPECT_EQ(be, "\0A\0\xE9\x20\xAC\xD8\x3D\xDE\x00"s);
  EXPECT_EQ(Utf16ToUtf8(le, false), text);
  EXPECT_EQ(Utf16ToUtf8(be, true), text);
  EXPECT_EQ(Utf8ToUtf16("", true), "");
}

TEST(Utf16Test, MalformedUnitsBecomeReplacementCharacters) {
  struct Case {
    std::string le_bytes;
    std::string utf8;
  };
  const Case cases[] = {
      // clang-format off
      {"\x3D\xD8" "A\0"s, kFffd + "A"},           // high surrogate followed by a letter
      // clang-format on
      {"\x3D\xD8"s, kFffd},  // high surrogate at the end
      // clang-format off
      {"\x00\xDE" "B\0"s, kFffd + "B"},           // low surrogate alone
      // clang-format on
      {"\x00\xDE\x3D\xD8"s, kFffd + kFffd},  // the pair in the wrong order
      {"A\0B"s, "A" + kFffd},                // odd byte count
      {"\xFF\xFE"s, "\xEF\xBB\xBF"},         // a mark inside is just U+FEFF
  };
  for (const Case& c : cases) EXPECT_EQ(Utf16ToUtf8(c.le_bytes, false), c.utf8);
  EXPECT_EQ(Utf8ToUtf16("a\xC3", false), "a\0\xFD\xFF"s);
}

struct MalformedCase {
  const char* name;
  std::string bytes;
  std::string sanitized;
  std::size_t length;
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class SanitizeUtf8Test : public testing::TestWithParam<MalformedCase> {};

TEST_P(SanitizeUtf8Test, ReplacesEachMalformedByte) {
  EXPECT_EQ(SanitizeUtf8(GetParam().bytes), GetParam().sanitized);
  EXPECT_EQ(Utf8Length(GetParam().bytes), GetParam().length);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, SanitizeUtf8Test,
    testing::Values(
        MalformedCase{"valid", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 4},
        MalformedCase{"empty", "", "", 0},
        MalformedCase{"nul_kept", "a\0b"s, "a\0b"s, 3},
        MalformedCase{"lone_continuation", "\x80" "a", kFffd + "a", 2},
        MalformedCase{"overlong_slash", "\xC0\xAF", kFffd + kFffd, 2},
        MalformedCase{"overlong_three_bytes", "\xE0\x80\xAF", kFffd + kFffd + kFffd, 3},
        MalformedCase{"overlong_four_bytes", "\xF0\x80\x80\xAF", kFffd + kFffd + kFffd + kFffd, 4},
        MalformedCase{"surrogate", "\xED\xA0\x80", kFffd + kFffd + kFffd, 3},
        MalformedCase{"beyond_10ffff", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd, 4},
        MalformedCase{"last_valid_f4", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF", 1},
        MalformedCase{"truncated_at_end", "ab\xE2\x82", "ab" + kFffd + kFffd, 4},
        MalformedCase{"truncated_before_ascii", "\xE2\x82" "c", kFffd + kFffd + "c", 3},
        MalformedCase{"invalid_lead_bytes", "\xFE\xFF\xF8", kFffd + kFffd + kFffd, 3}));
// clang-format on

TEST(Utf8PrefixTest, NeverCutsACharacter) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  EXPECT_EQ(Utf8Prefix(text, 0), "");
  EXPECT_EQ(Utf8Prefix(text, 1), "a");
  EXPECT_EQ(Utf8Prefix(text, 2), "a\xC3\xA9");
  EXPECT_EQ(Utf8Prefix(text, 3), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Utf8Prefix(text, 4), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8Prefix(text, 99), text);
  // clang-format off
  EXPECT_EQ(Utf8Prefix("\xE2\x82" "x", 1), "\xE2");  // a malformed byte counts as one
  // clang-format on
}

TEST(DecodeBodyTest, FollowsTheCharsetParameter) {
  struct Case {
    const char* content_type;
    std::string body;
    std::string utf8;
  };
  const Case cases[] = {
      {"application/json; charset=utf-8", "\xC3\xA9", "\xC3\xA9"},
      {"application/json; charset=UTF-8", "\xC3\xA9", "\xC3\xA9"},
      {"application/json", "\xC3\xA9", "\xC3\xA9"},
      {"", "\xE9", kFffd},
      {"text/plain; charset=ISO-8859-1", "\xE9\x80", "\xC3\xA9\xC2\x80"},
      {"text/plain; charset=latin1", "\xE9", "\xC3\xA9"},
      {"text/plain;charset=\"iso-8859-1\"", "\xE9", "\xC3\xA9"},
      {"text/plain; format=flowed; Charset = \"Windows-1252\" ; q=1", "\x80\xE9", "\xE2\x82\xAC\xC3\xA9"},
      {"text/plain; charset=cp1252", "\x93x\x94", "\xE2\x80\x9Cx\xE2\x80\x9D"},
      {"text/plain; charset=us-ascii", "a\xE9", "a" + kFffd},
      {"text/plain; charset=koi8-r", "a\xE9", "a" + kFffd},
      {"text/plain; charset=", "\xC3\xA9", "\xC3\xA9"},
      {"text/plain; charset=\"latin1", "\xE9", "\xC3\xA9"},      // unterminated quote
      {"text/plain; name=\"a;charset=latin1\"", "\xE9", kFffd},  // inside another value
      {"text/plain; bogus; charset=latin1", "\xE9", "\xC3\xA9"},
      {"text/plain; charset=\"lat\\in1\"", "\xE9", "\xC3\xA9"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeBody(c.body, c.content_type), c.utf8) << c.content_type;
}

TEST(AsciiCaseTest, ChangesOnlyAsciiLetters) {
  EXPECT_EQ(AsciiUpper("abc xyz 09 \xC3\xA7\xC3\xA3o"), "ABC XYZ 09 \xC3\xA7\xC3\xA3O");
  EXPECT_EQ(AsciiLower("ABC XYZ @[ \xC3\x87\xC3\x83O"), "abc xyz @[ \xC3\x87\xC3\x83o");
  EXPECT_EQ(AsciiUpper("`{"), "`{");
}

}  // namespace
}  // namespace zendrel
