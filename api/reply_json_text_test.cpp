// The reply JSON text: its exact layout, what counts as JSON, and hostile bodies.
#include "api/reply_json_text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "api/json_reader.h"

namespace zendrel {
namespace {

// Lines joined by CR LF, without a final line end, as the layout writes them.
std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

struct LayoutCase {
  const char* what;
  std::string body;
  std::string expected;
};

class ReplyJsonTextLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(ReplyJsonTextLayout, WritesTheIndentedLayout) {
  EXPECT_EQ(ReplyJsonText(GetParam().body), GetParam().expected) << GetParam().what;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Bodies, ReplyJsonTextLayout,
    testing::Values(
        LayoutCase{"nested object and array",
                   R"({"a":1,"b":[true,false,null],"c":{"d":"x","e":{"f":[]}}})",
                   Lines({"{",
                          R"(    "a": 1,)",
                          R"(    "b": [)",
                          "        true,",
                          "        false,",
                          "        null",
                          "    ],",
                          R"(    "c": {)",
                          R"(        "d": "x",)",
                          R"(        "e": {)",
                          R"(            "f": [)",
                          "            ]",
                          "        }",
                          "    }",
                          "}"})},
        LayoutCase{"empty object", "{}", Lines({"{", "}"})},
        LayoutCase{"empty array", " [ ] ", Lines({"[", "]"})},
        LayoutCase{"empty containers as members",
                   R"({"a":{},"b":[]})",
                   Lines({"{", R"(    "a": {)", "    },", R"(    "b": [)", "    ]", "}"})},
        LayoutCase{"containers as elements", "[[1,[]],{},{\"k\":null}]",
                   Lines({"[",
                          "    [",
                          "        1,",
                          "        [",
                          "        ]",
                          "    ],",
                          "    {",
                          "    },",
                          "    {",
                          R"(        "k": null)",
                          "    }",
                          "]"})},
        LayoutCase{"numbers as written", "[1.50,-0,1E+5,0.1e-7,-12,18446744073709551616]",
                   Lines({"[", "    1.50,", "    -0,", "    1E+5,", "    0.1e-7,", "    -12,",
                          "    18446744073709551616", "]"})},
        LayoutCase{"numbers beyond the range of a double as written",
                   "[1e400,-1E-400," + std::string(400, '9') + "]",
                   Lines({"[", "    1e400,", "    -1E-400,", "    " + std::string(400, '9'),
                          "]"})},
        LayoutCase{"numbers next to strings that look like numbers",
                   R"({"1.5":-2,"-":["0.5.5",3]})",
                   Lines({"{", R"(    "1.5": -2,)", R"(    "-": [)", R"(        "0.5.5",)",
                          "        3", "    ]", "}"})},
        LayoutCase{"duplicate members kept in order", R"({"a":1,"b":2,"a":3})",
                   Lines({"{", R"(    "a": 1,)", R"(    "b": 2,)", R"(    "a": 3)", "}"})},
        LayoutCase{"the eight escaped characters",
                   R"(["\b\t\n\f\r\"\/\\"])",
                   Lines({"[", R"(    "\b\t\n\f\r\"\/\\")", "]"})},
        LayoutCase{"escapes in names too", R"({"a/b\"c":0})",
                   Lines({"{", R"(    "a\/b\"c": 0)", "}"})},
        LayoutCase{"\\u escapes of escaped characters come out short",
                   R"(["\u0008\u0009\u000A\u000C\u000D\u0022\u002F\u005C"])",
                   Lines({"[", R"(    "\b\t\n\f\r\"\/\\")", "]"})},
        LayoutCase{"non-ASCII written raw", R"(["inválido \u00e9\u20ac\ud83d\ude00"])",
                   Lines({"[", "    \"inválido é€\xF0\x9F\x98\x80\"", "]"})},
        LayoutCase{"other control characters written raw", R"(["a\u0001b\u001fc"])",
                   Lines({"[", "    \"a\x01" "b\x1f" "c\"", "]"})},
        LayoutCase{"NUL inside a string written raw", R"(["a\u0000b"])",
                   Lines({"[", std::string_view("    \"a\0b\"", 9), "]"})},
        LayoutCase{"invalid UTF-8 passes through", "[\"\xff\xfe\"]",
                   Lines({"[", "    \"\xff\xfe\"", "]"})},
        LayoutCase{"top-level string", R"("x/y")", R"("x\/y")"},
        LayoutCase{"top-level number", " 42 ", "42"},
        LayoutCase{"top-level literal", "\r\n\ttrue\n", "true"},
        LayoutCase{"top-level null", "null", "null"},
        LayoutCase{"byte-order mark skipped", "\xEF\xBB\xBF{\"a\":1}",
                   Lines({"{", R"(    "a": 1)", "}"})},
        LayoutCase{"blanks around the value", " \r\n\t{}\n ", Lines({"{", "}"})}),
    [](const testing::TestParamInfo<LayoutCase>& info) {
      return "Case" + std::to_string(info.index);
    });
// clang-format on

class ReplyJsonTextNotJson : public testing::TestWithParam<std::string> {};

TEST_P(ReplyJsonTextNotJson, GivesTheEmptyText) { EXPECT_EQ(ReplyJsonText(GetParam()), "") << GetParam(); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Bodies, ReplyJsonTextNotJson,
    testing::Values("", "   \r\n", "abc", "<html><body>Bad Request</body></html>",
                    "{} x", "{}{}", "1 2", "[1]]", R"({"a":1,})", "[1,]", "{'a':1}", "NaN",
                    "01", "1.", "[01]", "--1", "1.5.5", "[1.5.5]", "-", "1e", "1e5e", "[+1]",
                    "[.5]", "-Infinity", "0x10", "[1-2]", "[1e999.]", "\"unterminated",
                    "[\"a\x01\"]" /* raw control character */,
                    std::string("{}\0", 3), std::string("\0{}", 3),
                    "\xEF\xBB\xBF\xEF\xBB\xBF{}" /* only one mark is skipped */,
                    "\xEF\xBB{}", R"(["\ud800"])" /* lone high surrogate */,
                    "// comment\n{}", "\f{}" /* form feed is no JSON blank */));
// clang-format on

// The record reading parses the layout again: read back, it must give itself.
TEST(ReplyJsonTextReadBack, LayoutReadsBackAsItself) {
  for (const std::string body : {R"({"a":[1.50,{"b":[],"c":{}},[[null]]],"a":"x\/\"y\u00e9\t","":-0})",
                                 R"([[],{},"",0,true,false,null])", R"("\\")", "1E+5"}) {
    const std::string once = ReplyJsonText(body);
    ASSERT_FALSE(once.empty()) << body;
    EXPECT_EQ(ReplyJsonText(once), once) << body;
  }
}

std::string Nested(int depth) {
  return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']');
}

TEST(ReplyJsonTextNesting, NestingUpToTheLimitIsWritten) {
  const std::string text = ReplyJsonText(Nested(kJsonMaxDepth));
  ASSERT_FALSE(text.empty());
  // The innermost empty array sits at 511 levels of indentation.
  EXPECT_NE(text.find("\r\n" + std::string(4 * (kJsonMaxDepth - 1), ' ') + "[\r\n"), std::string::npos);
}

TEST(ReplyJsonTextNesting, DeeperNestingIsNotJson) {
  EXPECT_EQ(ReplyJsonText(Nested(kJsonMaxDepth + 1)), "");
  EXPECT_EQ(ReplyJsonText(Nested(100000)), "");
  EXPECT_EQ(ReplyJsonText(std::string(100000, '[')), "");
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_EQ(ReplyJsonText(objects), "");
}

TEST(ReplyJsonTextSize, LongArrayIsWrittenWhole) {
  std::string body = "[";
  for (int i = 0; i < 100000; ++i) body += (i == 0 ? "" : ",") + std::to_string(i);
  body += "]";
  const std::string text = ReplyJsonText(body);
  EXPECT_TRUE(text.starts_with("[\r\n    0,\r\n    1,\r\n"));
  EXPECT_TRUE(text.ends_with(",\r\n    99999\r\n]"));
}

}  // namespace
}  // namespace zendrel
