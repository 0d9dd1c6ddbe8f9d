// Reading list replies into the record classes: each landing rule and each error,
// through the path the list calls take (reply JSON text, wrapped under Items) and
// through FromJsonString on its own.
#include "api/json_records.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "api/reply_json_text.h"
#include "support/errors.h"

namespace zendrel {
namespace {

using testing::StrEq;
using testing::ThrowsMessage;

// An entry as the tests spell it: no value for an empty entry, else its two texts.
using Entry = std::optional<std::pair<std::string, std::string>>;

std::vector<Entry> EntriesOf(const TRootClass& root) {
  std::vector<Entry> entries;
  for (const auto& item : root.Items) {
    entries.push_back(item ? Entry({item->ean, item->produto}) : std::nullopt);
  }
  return entries;
}

std::vector<Entry> EntriesOf(const TRetornoResetClass& root) {
  std::vector<Entry> entries;
  for (const auto& item : root.Items) {
    entries.push_back(item ? Entry({item->data, item->uri}) : std::nullopt);
  }
  return entries;
}

// What ObterProdutosTopVendas and StatusReset do with a 200 reply's body.
template <class Root>
std::optional<Root> ReadBody(const std::string& body) {
  return Root::FromJsonString(WrapItems(ReplyJsonText(body)));
}

struct ReadCase {
  const char* what;
  std::string body;
  std::vector<Entry> expected;
};

class ProductListBody : public testing::TestWithParam<ReadCase> {};

TEST_P(ProductListBody, LandsInTheRecords) {
  const ReadCase& c = GetParam();
  std::optional<TRootClass> root = ReadBody<TRootClass>(c.body);
  ASSERT_TRUE(root.has_value()) << c.what;
  EXPECT_EQ(EntriesOf(*root), c.expected) << c.what;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Bodies, ProductListBody,
    testing::Values(
        ReadCase{"empty array", "[]", {}},
        ReadCase{"two items in order",
                 R"([{"ean":"789","produto":"Leite"},{"ean":"123","produto":"Café"}])",
                 {Entry({"789", "Leite"}), Entry({"123", "Café"})}},
        ReadCase{"single object gives no items", R"({"ean":"789","produto":"Leite"})", {}},
        ReadCase{"empty object", "{}", {}},
        ReadCase{"literal null", "null", {}},
        ReadCase{"member names in any case", R"([{"EAN":"123","Produto":"leite"}])",
                 {Entry({"123", "leite"})}},
        ReadCase{"number lands as written, missing member stays empty", R"([{"ean":123}])",
                 {Entry({"123", ""})}},
        ReadCase{"number text kept", R"([{"ean":1.50,"produto":-1E+5}])",
                 {Entry({"1.50", "-1E+5"})}},
        ReadCase{"number beyond a double's range kept",
                 R"([{"ean":12345678901234567890123456789e400}])",
                 {Entry({"12345678901234567890123456789e400", ""})}},
        ReadCase{"null gives empty text, unknown member ignored",
                 R"([{"ean":null,"x":[true],"produto":"p"}])", {Entry({"", "p"})}},
        ReadCase{"non-ASCII letters do not fold", R"([{"eAn":"1","EÁN":"2","ean ":"3"}])",
                 {Entry({"1", ""})}},
        ReadCase{"later duplicate wins", R"([{"ean":"1","ean":"2"}])", {Entry({"2", ""})}},
        ReadCase{"null after a value clears it", R"([{"ean":"1","EAN":null}])",
                 {Entry({"", ""})}},
        ReadCase{"object is ignored", R"([{"ean":{"a":1}}])", {Entry({"", ""})}},
        ReadCase{"object keeps the earlier value", R"([{"ean":"a","ean":{}}])",
                 {Entry({"a", ""})}},
        ReadCase{"null element gives an empty entry", "[null]", {std::nullopt}},
        ReadCase{"null among items", R"([{"ean":"1"},null,{"ean":"2"}])",
                 {Entry({"1", ""}), std::nullopt, Entry({"2", ""})}},
        ReadCase{"escapes resolved", R"([{"ean":"a\"b\/c\\d\u00e9\n\t"}])",
                 {Entry({"a\"b/c\\dé\n\t", ""})}},
        ReadCase{"control characters survive the reply text", R"([{"ean":"a\u0001b\u0000"}])",
                 {Entry({std::string("a\x01" "b\0", 4), ""})}},
        ReadCase{"byte-order mark before the body", "\xEF\xBB\xBF[{\"ean\":\"1\"}]",
                 {Entry({"1", ""})}}),
    [](const testing::TestParamInfo<ReadCase>& info) {
      return "Case" + std::to_string(info.index);
    });
// clang-format on

class ResetStatusBody : public testing::TestWithParam<ReadCase> {};

TEST_P(ResetStatusBody, LandsInTheRecords) {
  const ReadCase& c = GetParam();
  std::optional<TRetornoResetClass> root = ReadBody<TRetornoResetClass>(c.body);
  ASSERT_TRUE(root.has_value()) << c.what;
  EXPECT_EQ(EntriesOf(*root), c.expected) << c.what;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Bodies, ResetStatusBody,
    testing::Values(
        ReadCase{"empty array", "[]", {}},
        ReadCase{"one reset", R"([{"data":"2021-09-23T10:00:00","uri":"abc"}])",
                 {Entry({"2021-09-23T10:00:00", "abc"})}},
        ReadCase{"two resets, names in any case, blanks kept",
                 R"([{"DATA":"2021-09-23","Uri":" a "},{"data":"x","uri":""}])",
                 {Entry({"2021-09-23", " a "}), Entry({"x", ""})}},
        ReadCase{"uri as a number", R"([{"uri":7}])", {Entry({"", "7"})}},
        ReadCase{"single object gives no items", R"({"data":"2021-09-23","uri":"abc"})", {}}),
    [](const testing::TestParamInfo<ReadCase>& info) {
      return "Case" + std::to_string(info.index);
    });
// clang-format on

struct ErrorCase {
  const char* what;
  std::string body;
  std::string message;
};

class ProductListBodyError : public testing::TestWithParam<ErrorCase> {};

TEST_P(ProductListBodyError, RaisesTheMappingsMessage) {
  const ErrorCase& c = GetParam();
  EXPECT_THAT([&] { ReadBody<TRootClass>(c.body); }, ThrowsMessage<ConversionError>(StrEq(c.message))) << c.what;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Bodies, ProductListBodyError,
    testing::Values(
        ErrorCase{"empty body", "", "The input value is not a valid Object"},
        ErrorCase{"body that is not JSON", "<html></html>",
                  "The input value is not a valid Object"},
        ErrorCase{"number", "42",
                  "Internal: Value 42 cannot be converted to be assigned to field Items in "
                  "type TRootClass"},
        ErrorCase{"number as written", "-1.50e+3",
                  "Internal: Value -1.50e+3 cannot be converted to be assigned to field Items "
                  "in type TRootClass"},
        ErrorCase{"string shows its content", R"("a/b \"c\"")",
                  "Internal: Value a/b \"c\" cannot be converted to be assigned to field Items "
                  "in type TRootClass"},
        ErrorCase{"true", "true", "Invalid class typecast"},
        ErrorCase{"false", "false", "Invalid class typecast"},
        ErrorCase{"text member holding an array", R"([{"ean":["1"]}])",
                  "Cannot set value for field ean as it is expected to be an array instead of "
                  "string"},
        ErrorCase{"message names the member as written", R"([{"Produto":[]}])",
                  "Cannot set value for field Produto as it is expected to be an array "
                  "instead of string"},
        ErrorCase{"text member holding true", R"([{"ean":true}])", "Invalid class typecast"},
        ErrorCase{"text member holding false", R"([{"produto":false}])",
                  "Invalid class typecast"},
        ErrorCase{"string element", R"(["x"])",
                  "Value x cannot be converted into TItemClass. You may use a user-defined "
                  "reverter"},
        ErrorCase{"number element", R"([{"ean":"1"},7.0])",
                  "Value 7.0 cannot be converted into TItemClass. You may use a user-defined "
                  "reverter"},
        ErrorCase{"array element shows no text", R"([[1]])",
                  "Value  cannot be converted into TItemClass. You may use a user-defined "
                  "reverter"},
        ErrorCase{"boolean element", "[null,true]", "Invalid class typecast"},
        ErrorCase{"first error in text order", R"([{"ean":true},"x"])",
                  "Invalid class typecast"},
        ErrorCase{"error even when a later item is fine", R"([{"ean":[]},{"ean":"1"}])",
                  "Cannot set value for field ean as it is expected to be an array instead of "
                  "string"}));
// clang-format on

class ResetStatusBodyError : public testing::TestWithParam<ErrorCase> {};

TEST_P(ResetStatusBodyError, RaisesTheMappingsMessage) {
  const ErrorCase& c = GetParam();
  EXPECT_THAT([&] { ReadBody<TRetornoResetClass>(c.body); }, ThrowsMessage<ConversionError>(StrEq(c.message)))
      << c.what;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Bodies, ResetStatusBodyError,
    testing::Values(
        ErrorCase{"empty body", "", "The input value is not a valid Object"},
        ErrorCase{"string", R"("abc")",
                  "Internal: Value abc cannot be converted to be assigned to field Items in "
                  "type TRetornoResetClass"},
        ErrorCase{"string element", R"(["x"])",
                  "Value x cannot be converted into TItemRetornoResetClass. You may use a "
                  "user-defined reverter"},
        ErrorCase{"uri holding an array", R"([{"uri":[]}])",
                  "Cannot set value for field uri as it is expected to be an array instead of "
                  "string"}));
// clang-format on

// FromJsonString on texts that the wrapping never produces: the outer rules.
struct DirectCase {
  const char* what;
  std::string text;
  std::optional<std::vector<Entry>> expected;  // no value: no instance
};

class FromJsonStringDirect : public testing::TestWithParam<DirectCase> {};

TEST_P(FromJsonStringDirect, ReadsTheText) {
  const DirectCase& c = GetParam();
  std::optional<TRootClass> root = TRootClass::FromJsonString(c.text);
  ASSERT_EQ(root.has_value(), c.expected.has_value()) << c.what;
  if (root) {
    EXPECT_EQ(EntriesOf(*root), *c.expected) << c.what;
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Texts, FromJsonStringDirect,
    testing::Values(
        DirectCase{"empty text", "", std::nullopt},
        DirectCase{"blanks and control characters only", " \r\n\t\x01 ", std::nullopt},
        DirectCase{"literal null", "null", std::nullopt},
        DirectCase{"literal null with blanks", " null\r\n", std::nullopt},
        DirectCase{"object without Items", R"({"Other":5,"x":[true]})",
                   std::vector<Entry>{}},
        DirectCase{"lower-case items", R"({"items":[{"ean":"1"}]})",
                   std::vector<Entry>{Entry({"1", ""})}},
        DirectCase{"Items null", R"({"Items":null})", std::vector<Entry>{}},
        DirectCase{"later null clears the list", R"({"Items":[{"ean":"1"}],"ITEMS":null})",
                   std::vector<Entry>{}},
        DirectCase{"later array replaces the list",
                   R"({"Items":[{"ean":"1"},{"ean":"2"}],"Items":[{"ean":"3"}]})",
                   std::vector<Entry>{Entry({"3", ""})}},
        DirectCase{"later object keeps the list", R"({"Items":[{"ean":"1"}],"Items":{}})",
                   std::vector<Entry>{Entry({"1", ""})}}),
    [](const testing::TestParamInfo<DirectCase>& info) {
      return "Case" + std::to_string(info.index);
    });
// clang-format on

class FromJsonStringDirectError : public testing::TestWithParam<ErrorCase> {};

TEST_P(FromJsonStringDirectError, Raises) {
  const ErrorCase& c = GetParam();
  EXPECT_THAT([&] { TRootClass::FromJsonString(c.body); }, ThrowsMessage<ConversionError>(StrEq(c.message))) << c.what;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Texts, FromJsonStringDirectError,
    testing::Values(
        ErrorCase{"array", "[]", "The input value is not a valid Object"},
        ErrorCase{"number", "42", "The input value is not a valid Object"},
        ErrorCase{"string", R"("s")", "The input value is not a valid Object"},
        ErrorCase{"true", "true", "The input value is not a valid Object"},
        ErrorCase{"wrapped empty reply", R"({"Items": })", "The input value is not a valid Object"},
        ErrorCase{"whole text parsed before mapping", R"({"Items":[true]} x)",
                  "The input value is not a valid Object"},
        ErrorCase{"Items as written in the message", R"({"items":5})",
                  "Internal: Value 5 cannot be converted to be assigned to field items in type "
                  "TRootClass"},
        ErrorCase{"Items true", R"({"Items":true})", "Invalid class typecast"},
        ErrorCase{"error before a later duplicate", R"({"Items":[true],"Items":null})",
                  "Invalid class typecast"},
        ErrorCase{"nesting beyond the limit", "{\"Items\":" + std::string(600, '[') +
                                                  std::string(600, ']') + "}",
                  "The input value is not a valid Object"}));
// clang-format on

TEST(WrapItems, PutsTheTextUnderItems) {
  EXPECT_EQ(WrapItems("[\r\n]"), "{\"Items\": [\r\n]}");
  EXPECT_EQ(WrapItems(""), "{\"Items\": }");
}

}  // namespace
}  // namespace zendrel
