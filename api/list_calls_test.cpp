// The calls that read lists from the platform: the product list and the two reset
// calls, against the fake platform.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "api/brindex_calls.h"
#include "api/testing/api_call_fixture.h"
#include "support/errors.h"

namespace zendrel {

// Found by argument-dependent lookup from the matchers below.
bool operator==(const TItemClass& a, const TItemClass& b) { return a.ean == b.ean && a.produto == b.produto; }

void PrintTo(const TItemClass& item, std::ostream* out) { *out << "{" << item.ean << ", " << item.produto << "}"; }

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kFalha[] = "Falha na Comunicação com o Servidor da Brindex!!!";

class ListCallsTest : public ApiCallTest {};

// ---- ObterProdutosTopVendas ----

TEST_F(ListCallsTest, ProductListIsAGetWithItsQueryString) {
  platform_->Script("/v2/produtos", {ScriptedReply::Json(200, "[]")});
  EXPECT_THAT(ObterProdutosTopVendas(Base() + "/"), IsEmpty());
  const RecordedRequest sent = OnlyRequest();
  EXPECT_EQ(sent.method, "GET");
  EXPECT_EQ(sent.path, "/v2/produtos");
  EXPECT_EQ(sent.query, "software=quimero&versao=9.0&cnpj=12345678000190");
  EXPECT_EQ(sent.body, "");
  EXPECT_FALSE(sent.Header("Content-Type").has_value());
}

struct ProductCase {
  const char* name;
  std::string body;
  std::vector<TItemClass> expected;
};

TEST_F(ListCallsTest, ProductListReadsTheReplyOf200) {
  const ProductCase cases[] = {
      {"empty array", "[]", {}},
      {"two items in order",
       R"([{"ean": "789", "produto": "Leite"}, {"EAN": "123", "Produto": "Pão"}])",
       {{"789", "Leite"}, {"123", "Pão"}}},
      {"missing member", R"([{"ean": "789"}])", {{"789", ""}}},
      {"number for a text member", R"([{"ean": 7891000, "produto": "x", "outro": 1}])", {{"7891000", "x"}}},
      {"single object", R"({"ean": "789", "produto": "Leite"})", {}},
      {"null element left out", R"([null, {"ean": "1", "produto": "a"}, null])", {{"1", "a"}}},
  };
  for (const ProductCase& c : cases) {
    SCOPED_TRACE(c.name);
    platform_->Script("/v2/produtos", {ScriptedReply::Json(200, c.body)});
    EXPECT_EQ(ObterProdutosTopVendas(Base()), c.expected);
  }
  EXPECT_THAT(LogMessages(), IsEmpty());
}

TEST_F(ListCallsTest, ProductListLeavesOutItemsWithoutEanWithOneLogLineEach) {
  platform_->Script(
      "/v2/produtos",
      {ScriptedReply::Json(200, R"([{"ean": "789", "produto": "Leite"}, {"produto": "Sem código"},)"
                                R"( {"ean": "", "produto": "Vazio"}, {"ean": " \t", "produto": "Branco"},)"
                                R"( {"ean": null, "produto": "Nulo"}, {"ean": "123", "produto": "Pão"}])")});
  EXPECT_THAT(ObterProdutosTopVendas(Base()), ElementsAre(TItemClass{"789", "Leite"}, TItemClass{"123", "Pão"}));
  EXPECT_THAT(LogMessages(), ElementsAre("ProdutosTopVendas: produto sem EAN ignorado: Sem código",
                                         "ProdutosTopVendas: produto sem EAN ignorado: Vazio",
                                         "ProdutosTopVendas: produto sem EAN ignorado: Branco",
                                         "ProdutosTopVendas: produto sem EAN ignorado: Nulo"));
}

TEST_F(ListCallsTest, ProductListUnreadable200ReachesTheCallerWithoutALogEntry) {
  platform_->Script("/v2/produtos", {ScriptedReply::Json(200, "")});
  try {
    ObterProdutosTopVendas(Base());
    ADD_FAILURE() << "no ConversionError";
  } catch (const ConversionError& error) {
    EXPECT_STREQ(error.what(), "The input value is not a valid Object");
  }

  platform_->Script("/v2/produtos", {ScriptedReply::Json(200, "42")});
  EXPECT_THROW(ObterProdutosTopVendas(Base()), ConversionError);
  EXPECT_THAT(LogMessages(), IsEmpty());
}

TEST_F(ListCallsTest, ProductListOtherRepliesGiveAnEmptyListAndTheirLogEntry) {
  const std::pair<ScriptedReply, std::string> cases[] = {
      {ScriptedReply::Json(404, R"({"erro": "não há"})"), "ProdutosTopVendas: {\"erro\": \"não há\"}"},
      {ScriptedReply::Text(204, "", ""), "ProdutosTopVendas: "},
      {ScriptedReply::Text(400, "recusado"), "ProdutosTopVendas: recusado"},
      {ScriptedReply::Text(503, "indisponível"), "indisponível"},  // failure branch: no prefix
      {ScriptedReply::CloseWithoutReply(), ""},
  };
  std::vector<std::string> expected_log;
  for (const auto& [reply, log_line] : cases) {
    platform_->Script("/v2/produtos", {reply});
    EXPECT_THAT(ObterProdutosTopVendas(Base()), IsEmpty()) << log_line;
    expected_log.push_back(log_line);
  }
  EXPECT_EQ(LogMessages(), expected_log);
}

TEST_F(ListCallsTest, ProductListOverHttpsAndFromTheUnscriptedPlatform) {
  const std::vector<TItemClass> products = ObterProdutosTopVendas(platform_->HttpsBaseUrl());
  EXPECT_EQ(products.size(), 2u);
  EXPECT_EQ(OnlyRequest().scheme, "https");
}

// ---- StatusReset ----

TEST_F(ListCallsTest, StatusResetIsAGetWithTheCnpjAlone) {
  const TStatusReset record = StatusReset(Base());
  EXPECT_EQ(record.CodRetorno, 200);
  const RecordedRequest sent = OnlyRequest();
  EXPECT_EQ(sent.method, "GET");
  EXPECT_EQ(sent.path, "/v1/reset");
  EXPECT_EQ(sent.query, "cnpj=12345678000190");
}

struct ResetStatusCase {
  const char* name;
  std::string body;
  std::string uri;
  DateTime data;
  std::vector<std::string> log;
};

TEST_F(ListCallsTest, StatusResetWalksTheItemsOfA200Reply) {
  const DateTime kZero = DateTime::Zero();
  const ResetStatusCase cases[] = {
      {"empty array", "[]", "", kZero, {}},
      {"one item", R"([{"uri": "abc", "data": "2021-09-23T10:00:00"}])", "abc", DateTime::Date(2021, 9, 23), {}},
      {"last uri empty keeps the earlier date",
       R"([{"uri": "abc", "data": "2021-09-23"}, {"uri": "", "data": "2021-10-01"}])",
       "",
       DateTime::Date(2021, 9, 23),
       {}},
      {"two pending: the second wins",
       R"([{"uri": "a", "data": "2021-09-23"}, {"URI": "b", "Data": "2021-10-01T08:00:00"}])",
       "b",
       DateTime::Date(2021, 10, 1),
       {}},
      {"blank uri: its date is not read", R"([{"uri": " \t", "data": "não é data"}])", " \t", kZero, {}},
      {"uri kept with its blanks", R"([{"uri": " x ", "data": "2021-09-23"}])", " x ", DateTime::Date(2021, 9, 23), {}},
      {"number for uri", R"([{"uri": 123, "data": "2021-09-23"}])", "123", DateTime::Date(2021, 9, 23), {}},
      {"single object", R"({"uri": "abc", "data": "2021-09-23"})", "", kZero, {}},
      {"number body",
       "42",
       "",
       kZero,
       {"StatusReset: Internal: Value 42 cannot be converted to be assigned to field Items in type "
        "TRetornoResetClass"}},
      {"empty body", "", "", kZero, {"StatusReset: The input value is not a valid Object"}},
      {"not JSON", "<html>", "", kZero, {"StatusReset: The input value is not a valid Object"}},
      {"bad date",
       R"([{"uri": "abc", "data": "2021-02-30"}])",
       "",
       kZero,
       {"StatusReset: '30/02/2021' is not a valid date"}},
      {"null element",
       R"([{"uri": "abc", "data": "2021-09-23"}, null])",
       "",
       kZero,
       {"StatusReset: Item vazio na lista de resets!!!"}},
  };
  for (const ResetStatusCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    platform_->Script("/v1/reset", {ScriptedReply::Json(200, c.body)});
    const TStatusReset record = StatusReset(Base());
    EXPECT_EQ(record.CodRetorno, 200);
    EXPECT_EQ(record.DescRetorno, "");
    EXPECT_EQ(record.MensagemErro, "");
    EXPECT_EQ(record.Uri, c.uri);
    EXPECT_EQ(record.Data, c.data);
    EXPECT_EQ(LogMessages(), c.log);
  }
}

TEST_F(ListCallsTest, StatusResetOtherStatusesAreNotRead) {
  platform_->Script("/v1/reset", {ScriptedReply::Json(204, R"([{"uri": "abc", "data": "2021-09-23"}])")});
  TStatusReset record = StatusReset(Base());
  EXPECT_EQ(record.CodRetorno, 204);
  EXPECT_EQ(record.DescRetorno, "Não existe conteúdo!!!");
  EXPECT_EQ(record.Uri, "");
  EXPECT_TRUE(record.Data.IsZero());

  platform_->Script("/v1/reset", {ScriptedReply::Json(400, R"({"errors": ["CNPJ não cadastrado"]})")});
  record = StatusReset(Base());
  EXPECT_EQ(record.CodRetorno, 400);
  EXPECT_EQ(record.DescRetorno, "CNPJ não cadastrado");
  EXPECT_THAT(LogMessages(), IsEmpty());
}

TEST_F(ListCallsTest, StatusResetTransportFailuresGiveStatus0AndTwoLogEntries) {
  platform_->Script("/v1/reset", {ScriptedReply::Text(503, "em manutenção")});
  TStatusReset record = StatusReset(Base());
  EXPECT_EQ(record.CodRetorno, 0);
  EXPECT_EQ(record.DescRetorno, kFalha);
  EXPECT_EQ(record.Uri, "");
  EXPECT_TRUE(record.Data.IsZero());
  EXPECT_THAT(LogMessages(), ElementsAre("em manutenção", kFalha));

  TearDown();
  SetUp();
  UseTimeouts(1000);
  platform_->Script("/v1/reset", {ScriptedReply::NeverAnswer()});
  record = StatusReset(Base());
  EXPECT_EQ(record.CodRetorno, 0);
  EXPECT_EQ(record.DescRetorno, kFalha);
  EXPECT_THAT(LogMessages(), ElementsAre("", kFalha));
}

TEST_F(ListCallsTest, StatusResetLogFailureReachesTheCaller) {
  UseUnwritableLog();
  platform_->Script("/v1/reset", {ScriptedReply::Json(200, "")});
  EXPECT_THROW(StatusReset(Base()), LogWriteError);
  platform_->Script("/v1/reset", {ScriptedReply::Json(200, R"([{"uri": "a", "data": "2021-09-23"}])")});
  EXPECT_EQ(StatusReset(Base()).Uri, "a");  // nothing to log, nothing thrown
}

// A reply whose reading fails after an item set the identifier: when the log line for
// it cannot be written, the outer branch must still see no identifier, or the caller
// would acknowledge a reset dated 30/12/1899 and rewind to the start.
TEST_F(ListCallsTest, StatusResetHalfReadListLeavesNoIdentifierWhenItsLogLineFails) {
  const char* const bodies[] = {
      R"([{"uri": "abc", "data": "2021-02-30"}])",                           // the date of the item fails
      R"([{"uri": "a", "data": "2021-09-23"}, {"uri": "b", "data": "x"}])",  // an earlier date is left
      R"([{"uri": "abc", "data": "2021-09-23"}, null])",                     // an empty entry after it
  };
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    TearDown();
    SetUp();
    UseLogThatFailsOnce();
    platform_->Script("/v1/reset", {ScriptedReply::Json(200, body)});
    const TStatusReset record = StatusReset(Base());
    EXPECT_EQ(record.Uri, "");
    EXPECT_TRUE(record.Data.IsZero());
    // The outer failure branch took over and could write its line.
    EXPECT_EQ(record.CodRetorno, 200);
    EXPECT_EQ(record.MensagemErro, record.DescRetorno);
    ASSERT_EQ(LogMessages().size(), 1u);
    EXPECT_TRUE(LogMessages()[0].starts_with("StatusReset: ")) << LogMessages()[0];
  }
}

// ---- Reset ----

TEST_F(ListCallsTest, ResetPostsTheIdentifierUntrimmed) {
  platform_->Script("POST", "/v1/reset", {ScriptedReply::Json(202, "{}")});
  const TReset record = Reset(Base(), "  id 7&x ");
  EXPECT_EQ(record.CodRetorno, 202);
  EXPECT_EQ(record.DescRetorno, "");
  EXPECT_EQ(record.Uri, "");
  const RecordedRequest sent = OnlyRequest();
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.path, "/v1/reset");
  EXPECT_EQ(sent.body, "cnpj=12345678000190&uri=  id 7&x ");
  EXPECT_THAT(LogMessages(), IsEmpty());
}

TEST_F(ListCallsTest, ResetRepliesAndFailures) {
  const struct {
    ScriptedReply reply;
    std::int32_t cod_retorno;
    std::string desc_retorno;
    std::vector<std::string> log;
  } cases[] = {
      {ScriptedReply::Json(200, "{}"), 200, "", {}},
      {ScriptedReply::Json(404, "{}"), 404, "Não encontrado, verifique a URL!!!", {}},
      {ScriptedReply::Text(500, "falhou"), 0, kFalha, {"falhou", kFalha}},
      {ScriptedReply::Text(503, "manutenção"), 0, kFalha, {"manutenção", kFalha}},
      {ScriptedReply::CloseWithoutReply(), 0, kFalha, {"", kFalha}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cod_retorno);
    TearDown();
    SetUp();
    platform_->Script("POST", "/v1/reset", {c.reply});
    const TReset record = Reset(Base(), "abc");
    EXPECT_EQ(record.CodRetorno, c.cod_retorno);
    EXPECT_EQ(record.DescRetorno, c.desc_retorno);
    EXPECT_EQ(LogMessages(), c.log);
  }
}

TEST_F(ListCallsTest, ResetCallsAfterSixRedirectsReport0) {
  platform_->ScriptRedirectChain("/v1/reset", 6, 302, "/v1/reset2");
  EXPECT_EQ(StatusReset(Base()).CodRetorno, 0);
  EXPECT_EQ(Reset(Base(), "abc").CodRetorno, 0);
  EXPECT_THAT(LogMessages(), ElementsAre("", kFalha, "", kFalha));
}

}  // namespace
}  // namespace zendrel
