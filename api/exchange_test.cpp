// The request layer over real sockets: the exact HTTP request, redirects, cookies
// of one call, time-outs, lost connections, HTTPS with a wrong-name certificate,
// and the outcome classification with the reply text.
#include "api/exchange.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "api/testing/api_call_fixture.h"
#include "api/testing/test_authority.h"

namespace zendrel {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

class ExchangeTest : public ApiCallTest {
 protected:
  ApiRequest Post(std::string_view path = "v1/lancador") const {
    ApiRequest request(HttpMethod::kPost, Base(), path);
    request.AddHeader("Authorization", "Bearer abc");
    request.AddField("cpf", "123");
    request.AddField("dtocorrencia", "2021-09-23 14:05:09");
    return request;
  }
  ApiRequest Get(std::string_view path = "v1/reset") const {
    ApiRequest request(HttpMethod::kGet, Base(), path);
    request.AddHeader("Authorization", "Bearer abc");
    request.AddField("software", "quimero");
    request.AddField("versao", "9.0");
    return request;
  }

  static std::set<std::string> HeaderNames(const RecordedRequest& request) {
    std::set<std::string> names;
    for (const auto& header : request.headers) names.insert(header.first);
    return names;
  }
};

TEST_F(ExchangeTest, PostCarriesExactlyTheHeaderTableAndAnUnencodedBody) {
  const ExchangeOutcome outcome = SendRequest(Post());
  EXPECT_TRUE(outcome.completed());
  EXPECT_EQ(outcome.status, 200);

  const RecordedRequest sent = OnlyRequest();
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.path, "/v1/lancador");
  EXPECT_EQ(sent.query, "");
  EXPECT_EQ(sent.body, "cpf=123&dtocorrencia=2021-09-23 14:05:09");
  EXPECT_EQ(HeaderNames(sent), (std::set<std::string>{"Host", "Authorization", "Accept", "Accept-Charset", "User-Agent",
                                                      "Content-Type", "Content-Length"}));
  EXPECT_EQ(sent.Header("Authorization"), "Bearer abc");
  EXPECT_EQ(sent.Header("Accept"), "application/json, text/plain; q=0.9, text/html;q=0.8,");
  EXPECT_EQ(sent.Header("Accept-Charset"), "utf-8, *;q=0.8");
  EXPECT_EQ(sent.Header("User-Agent"), "Zendrel/1.0");
  EXPECT_EQ(sent.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(sent.Header("Content-Length"), "40");
}

TEST_F(ExchangeTest, GetCarriesItsParametersAsARawQueryStringAndNoBody) {
  ApiRequest request = Get();
  request.AddField("cnpj", "12.345/0001-90&x=1");
  SendRequest(request);

  const RecordedRequest sent = OnlyRequest();
  EXPECT_EQ(sent.method, "GET");
  EXPECT_EQ(sent.path, "/v1/reset");
  EXPECT_EQ(sent.query, "software=quimero&versao=9.0&cnpj=12.345/0001-90&x=1");
  EXPECT_EQ(sent.body, "");
  EXPECT_EQ(HeaderNames(sent),
            (std::set<std::string>{"Host", "Authorization", "Accept", "Accept-Charset", "User-Agent"}));
}

TEST_F(ExchangeTest, FormBodyIsWindows1252) {
  ApiRequest request(HttpMethod::kPost, Base(), "v1/lancador");
  request.AddField("ean", "Pão & açúcar = 1+1 €");
  request.AddField("x", "日本");
  request.AddField("vazio", "");
  SendRequest(request);

  // clang-format off
  EXPECT_EQ(OnlyRequest().body, "ean=P\xE3o & a\xE7\xFA" "car = 1+1 \x80&x=??&vazio=");
  // clang-format on
}

TEST_F(ExchangeTest, PostAnswered301302Or303GoesOnAsGetWithoutBody) {
  for (const int status : {301, 302, 303}) {
    SCOPED_TRACE(status);
    platform_->Reset();
    platform_->Script("/v1/lancador", {ScriptedReply::Redirect(status, "/final")});
    platform_->Script("/final", {ScriptedReply::Json(200, "[]")});

    const ExchangeOutcome outcome = SendRequest(Post());
    EXPECT_TRUE(outcome.completed());
    EXPECT_EQ(outcome.status, 200);
    EXPECT_EQ(outcome.reply_text, "[]");

    const std::vector<RecordedRequest> sent = platform_->Requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].method, "GET");
    EXPECT_EQ(sent[1].path, "/final");
    EXPECT_EQ(sent[1].body, "");
    EXPECT_FALSE(sent[1].Header("Content-Type").has_value());
    EXPECT_FALSE(sent[1].Header("Content-Length").has_value());
    // Every header of the table is sent again.
    EXPECT_EQ(sent[1].Header("Authorization"), "Bearer abc");
    EXPECT_EQ(sent[1].Header("User-Agent"), "Zendrel/1.0");
  }
}

TEST_F(ExchangeTest, PostAnswered307Or308KeepsMethodAndBody) {
  for (const int status : {307, 308}) {
    SCOPED_TRACE(status);
    platform_->Reset();
    platform_->Script("/v1/lancador", {ScriptedReply::Redirect(status, "/outro/lugar")});

    EXPECT_EQ(SendRequest(Post()).status, 404);  // nothing scripted there

    const std::vector<RecordedRequest> sent = platform_->Requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].method, "POST");
    EXPECT_EQ(sent[1].path, "/outro/lugar");
    EXPECT_EQ(sent[1].body, sent[0].body);
    EXPECT_EQ(sent[1].Header("Content-Type"), "application/x-www-form-urlencoded");
  }
}

TEST_F(ExchangeTest, GetStaysGetAndRelativeLocationsResolveAgainstTheCurrentAddress) {
  platform_->Script("/api/v1/reset", {ScriptedReply::Redirect(301, "../novo/reset?a=1")});
  platform_->Script("/api/novo/reset",
                    {ScriptedReply::Redirect(300, "http://127.0.0.1:" + std::to_string(platform_->port()) + "/fim")});
  ApiRequest request(HttpMethod::kGet, Base() + "/api/v1/", "reset");
  EXPECT_EQ(SendRequest(request).status, 404);

  const std::vector<RecordedRequest> sent = platform_->Requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].path, "/api/novo/reset");
  EXPECT_EQ(sent[1].query, "a=1");
  EXPECT_EQ(sent[2].path, "/fim");
  for (const RecordedRequest& each : sent) EXPECT_EQ(each.method, "GET");
}

TEST_F(ExchangeTest, FiveRedirectsAreFollowedASixthIsATransportFailure) {
  platform_->ScriptRedirectChain("/v1/reset", 5, 302, "/final");
  platform_->Script("/final", {ScriptedReply::Json(200, "{}")});
  const ExchangeOutcome five = SendRequest(Get());
  EXPECT_TRUE(five.completed());
  EXPECT_EQ(five.status, 200);
  EXPECT_EQ(platform_->Requests().size(), 6u);

  platform_->Reset();
  platform_->ScriptRedirectChain("/v1/reset", 6, 307, "/final");
  platform_->Script("/final", {ScriptedReply::Json(200, "{}")});
  const ExchangeOutcome six = SendRequest(Get());
  EXPECT_FALSE(six.completed());
  EXPECT_EQ(six.status, 0);
  EXPECT_EQ(six.reply_text, "");
  EXPECT_EQ(platform_->Requests().size(), 6u);  // the sixth redirect is not followed
}

TEST_F(ExchangeTest, RedirectStatusWithoutLocationIsTheFinalReply) {
  platform_->Script("/v1/reset", {ScriptedReply::Text(302, "sem destino")});
  const ExchangeOutcome outcome = SendRequest(Get());
  EXPECT_TRUE(outcome.completed());
  EXPECT_EQ(outcome.status, 302);
  EXPECT_EQ(outcome.reply_text, "sem destino");
}

TEST_F(ExchangeTest, CookiesOfARedirectGoWithTheSameCallOnly) {
  platform_->Script("/v1/reset",
                    {ScriptedReply::Redirect(302, "/passo2").With("Set-Cookie", "sessao=abc; Path=/; HttpOnly")});
  platform_->Script("/passo2", {ScriptedReply::Redirect(302, "/passo3").With("Set-Cookie", "lado=b")});
  platform_->Script("/passo3", {ScriptedReply::Json(200, "[]")});

  EXPECT_EQ(SendRequest(Get()).status, 200);
  EXPECT_EQ(SendRequest(Get()).status, 200);  // a second call starts without cookies

  const std::vector<RecordedRequest> sent = platform_->Requests();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_FALSE(sent[0].Header("Cookie").has_value());
  EXPECT_EQ(sent[1].Header("Cookie"), "sessao=abc");
  EXPECT_EQ(sent[2].Header("Cookie"), "sessao=abc; lado=b");
  EXPECT_FALSE(sent[3].Header("Cookie").has_value());
  EXPECT_EQ(sent[4].Header("Cookie"), "sessao=abc");
}

TEST_F(ExchangeTest, ServerThatNeverAnswersEndsAfterTheIdleTimeOut) {
  UseTimeouts(1000);
  platform_->Script("/v1/reset", {ScriptedReply::NeverAnswer()});
  const auto started = std::chrono::steady_clock::now();
  const ExchangeOutcome outcome = SendRequest(Get());
  const auto waited = std::chrono::steady_clock::now() - started;

  EXPECT_FALSE(outcome.completed());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.reply_text, "");
  EXPECT_GE(waited, std::chrono::milliseconds(1000));
  EXPECT_LT(waited, std::chrono::seconds(15));  // the shortened limit held, not the default
}

TEST_F(ExchangeTest, TheTimeOutIsAnIdleWaitNotACapOnTheWholeExchange) {
  UseTimeouts(2000);
  // Headers after 600 ms, then one byte every 400 ms: about 3.4 s in all, never
  // 2000 ms without a byte (room for a loaded machine's stalls).
  ScriptedReply slow = ScriptedReply::Json(200, "[1,2,3]");
  slow.delay_ms = 600;
  slow.trickle_ms = 400;
  platform_->Script("/v1/reset", {slow});
  const auto started = std::chrono::steady_clock::now();
  const ExchangeOutcome outcome = SendRequest(Get());
  EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
  EXPECT_TRUE(outcome.completed()) << outcome.failure;
  EXPECT_EQ(outcome.reply_text, "[1,2,3]");

  // A body that stops moving half-way is a transport failure.
  ScriptedReply stalled = ScriptedReply::Json(200, "[1,2,3]");
  stalled.trickle_ms = 3000;
  platform_->Script("/v1/reset", {stalled});
  EXPECT_FALSE(SendRequest(Get()).completed());
}

// A reply is read into memory: past its cap (headers and body together) the
// exchange is a transport failure, whether the body announced its length or not.
TEST_F(ExchangeTest, AReplyPastItsSizeCapIsATransportFailure) {
  HttpTimeouts limits{5000, 5000, 5000, 5000};
  limits.max_reply_bytes = 256 * 1024;
  UseLimits(limits);
  const std::string chunk(16 * 1024, 'x');
  for (const bool content_length : {true, false}) {
    SCOPED_TRACE(content_length ? "with Content-Length" : "ending with the connection");
    ScriptedReply small = ScriptedReply::Text(200, chunk);
    small.repeat = 8;  // 128 KiB
    small.content_length = content_length;
    platform_->Script("/v1/reset", {small});
    const ExchangeOutcome fits = SendRequest(Get());
    EXPECT_TRUE(fits.completed()) << fits.failure;
    EXPECT_EQ(fits.reply_text.size(), 8 * chunk.size());

    ScriptedReply huge = small;
    huge.repeat = 17;  // 272 KiB
    platform_->Script("/v1/reset", {huge});
    const ExchangeOutcome cut = SendRequest(Get());
    EXPECT_FALSE(cut.completed());
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.failure, "reply larger than 262144 bytes");
  }
}

TEST_F(ExchangeTest, TheDefaultReplyCapIs32MiB) {
  HttpTimeouts limits{10000, 10000, 10000, 10000};
  UseLimits(limits);
  EXPECT_EQ(limits.max_reply_bytes, 32u * 1024 * 1024);
  ScriptedReply huge = ScriptedReply::Text(200, std::string(1024 * 1024, 'x'));
  huge.repeat = 33;
  platform_->Script("/v1/reset", {huge});
  const ExchangeOutcome cut = SendRequest(Get());
  EXPECT_FALSE(cut.completed());
  EXPECT_EQ(cut.failure, "reply larger than 33554432 bytes");
}

// A peer that keeps sending a byte now and then, never idle for the receive limit,
// still cannot hold the cycle: the whole exchange has its cap.
TEST_F(ExchangeTest, ATricklingReplyEndsAtTheCapOnTheWholeExchange) {
  HttpTimeouts limits{5000, 5000, 5000, 5000};
  limits.exchange_ms = 1500;
  UseLimits(limits);
  ScriptedReply trickle = ScriptedReply::Json(200, std::string(100, ' ') + "[]");
  trickle.trickle_ms = 200;  // 20 s for the body, one byte every 200 ms
  platform_->Script("/v1/reset", {trickle});
  const ExchangeOutcome outcome = SendRequest(Get());
  EXPECT_FALSE(outcome.completed());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.failure, "time-out: the exchange took longer than 1500 ms");
  EXPECT_EQ(HttpTimeouts{}.exchange_ms, 10 * 60 * 1000);
}

// The connection's wait (here a TLS handshake that never comes) is its own limit,
// not the sum of the name look-up's and its own.
TEST_F(ExchangeTest, TheConnectWaitDoesNotBorrowTheResolveWait) {
  HttpTimeouts limits{5000, 5000, 5000, 5000};
  limits.resolve_ms = 120000;
  limits.connect_ms = 1000;
  UseLimits(limits);
  platform_->StallHandshakes(true);
  const auto started = std::chrono::steady_clock::now();
  const ExchangeOutcome outcome = SendRequest(ApiRequest(HttpMethod::kGet, platform_->HttpsBaseUrl(), "v1/reset"));
  const auto waited = std::chrono::steady_clock::now() - started;
  platform_->StallHandshakes(false);
  EXPECT_FALSE(outcome.completed());
  EXPECT_FALSE(outcome.failure.empty());
  EXPECT_LT(waited, std::chrono::seconds(60));  // far below the look-up's 120 s
}

TEST_F(ExchangeTest, ClosedConnectionOrRefusedConnectIsATransportFailure) {
  platform_->Script("/v1/lancador", {ScriptedReply::CloseWithoutReply()});
  const ExchangeOutcome closed = SendRequest(Post());
  EXPECT_FALSE(closed.completed());
  EXPECT_EQ(closed.status, 0);
  EXPECT_FALSE(closed.failure.empty());

  // Port 9 on loopback: nothing listens there.
  const ExchangeOutcome refused = SendRequest(ApiRequest(HttpMethod::kGet, "127.0.0.1:9", "v1/reset"));
  EXPECT_FALSE(refused.completed());
  EXPECT_EQ(refused.status, 0);
}

TEST_F(ExchangeTest, StatusesFrom500To599TakeTheFailureBranchWithTheirBody) {
  for (const int status : {500, 502, 503, 599}) {
    SCOPED_TRACE(status);
    platform_->Script("/v1/reset", {ScriptedReply::Text(status, "fora do ar")});
    const ExchangeOutcome outcome = SendRequest(Get());
    EXPECT_FALSE(outcome.completed());
    EXPECT_EQ(outcome.status, status);
    EXPECT_EQ(outcome.reply_text, "fora do ar");
  }
  for (const int status : {201, 204, 400, 404, 499}) {
    SCOPED_TRACE(status);
    platform_->Script("/v1/reset", {ScriptedReply::Text(status, "")});
    const ExchangeOutcome outcome = SendRequest(Get());
    EXPECT_TRUE(outcome.completed());
    EXPECT_EQ(outcome.status, status);
  }
}

TEST_F(ExchangeTest, HttpsWithAWrongNameSelfSignedCertificateCompletes) {
  platform_->Script("/v1/lancador", {ScriptedReply::Json(200, "{\"ok\": true}")});
  const ExchangeOutcome outcome = SendRequest(ApiRequest(HttpMethod::kPost, platform_->HttpsBaseUrl(), "v1/lancador"));
  EXPECT_TRUE(outcome.completed());
  EXPECT_EQ(outcome.status, 200);
  EXPECT_EQ(outcome.reply_text, "{\"ok\": true}");
  const RecordedRequest sent = OnlyRequest();
  EXPECT_EQ(sent.scheme, "https");
  EXPECT_EQ(sent.method, "POST");
}

// A secure channel that breaks once the request has gone out (an HTTPS-scanning
// antivirus cutting into the reply): the platform may have the request, and credits a
// posting on receipt, so it is never sent again in that exchange, with or without the
// certificate checks; the exchange is a transport failure, tried again next cycle.
TEST_F(ExchangeTest, AChannelBrokenAfterTheRequestWentOutIsNeverSentAgain) {
  struct Case {
    const char* name;
    std::string base;
  };
  std::vector<Case> cases{
      // Refused before anything went out, then sent with the checks waived.
      {"a wrong-name self-signed certificate", platform_->HttpsBaseUrl()},
  };
  // Verified on the first attempt, so the break is that attempt's failure (where the
  // host's transport can be told to trust the test authority).
  if (const auto trust = testing::TrustForTestAuthority(platform_->CaFile())) {
    UseTrust(*trust);
    cases.push_back({"a certificate the client trusts", platform_->TrustedHttpsBaseUrl()});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform_->Reset();
    platform_->Script("/v1/lancador", {ScriptedReply::BreakTlsChannel()});
    ApiRequest request(HttpMethod::kPost, c.base, "v1/lancador");
    request.AddField("legado", "601");
    const ExchangeOutcome outcome = SendRequest(request);
    EXPECT_FALSE(outcome.completed());
    EXPECT_EQ(outcome.status, 0);
    EXPECT_FALSE(outcome.failure.empty());
    const std::vector<RecordedRequest> received = platform_->Requests();
    ASSERT_EQ(received.size(), 1u) << outcome.failure;
    EXPECT_EQ(received[0].body, "legado=601");
  }
}

TEST_F(ExchangeTest, HttpsPlainTextServerIsATransportFailure) {
  // A TLS failure other than the certificate checks: the peer does not speak TLS.
  const std::string address = "https://127.0.0.1:" + std::to_string(platform_->port());
  const ExchangeOutcome outcome = SendRequest(ApiRequest(HttpMethod::kGet, address, "v1/reset"));
  EXPECT_FALSE(outcome.completed());
  EXPECT_EQ(outcome.status, 0);
}

struct ReplyTextCase {
  int status;
  const char* content_type;
  std::string body;
  std::string expected;
};

TEST_F(ExchangeTest, ReplyTextIsDecodedByTheCharsetOfContentType) {
  const ReplyTextCase cases[] = {
      {200, "application/json; charset=utf-8", "\"ação\"", "\"ação\""},
      {200, "text/plain; charset=ISO-8859-1", "a\xE7\xE3o", "ação"},
      {200, "text/plain; charset=windows-1252", "\x80", "€"},
      {200, "application/json", "\"ação\"", "\"ação\""},                      // no charset: UTF-8
      {200, "text/plain; charset=x-desconhecido", "a\xFF", "a\xEF\xBF\xBD"},  // unknown: UTF-8, replaced
      // No MIME type counts as binary: a platform that leaves out the Content-Type,
      // or names a wrong one, is still read.
      {200, "", "[1]", "[1]"},
      {200, "application/octet-stream", "[1]", "[1]"},
      {404, "", "sem tipo", "sem tipo"},
  };
  for (const ReplyTextCase& c : cases) {
    SCOPED_TRACE(c.content_type);
    platform_->Script("/v1/reset", {ScriptedReply::Text(c.status, c.body, c.content_type)});
    const ExchangeOutcome outcome = SendRequest(Get());
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.reply_text, c.expected);
  }
}

}  // namespace
}  // namespace zendrel
