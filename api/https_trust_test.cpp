// The libcurl transport's certificate checks against the fake platform's two https
// listeners: a certificate signed by an authority the client trusts is verified on
// the first connection; an untrusted or wrong-name one fails verification and the
// request goes again, with the checks waived, on a second connection; a CA file that
// cannot be read is a transport failure; and a CA file rewritten between two calls
// is what the next call trusts. The platform counts the connections it accepts,
// which is what tells a verified exchange (one) from a waived one (two).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "api/api_settings.h"
#include "api/http_transport.h"
#include "api/testing/fake_platform.h"
#include "api/testing/fake_platform_suite.h"

namespace zendrel {
namespace {

namespace fs = std::filesystem;

constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";

class HttpsTrustTest : public FakePlatformSuite {
 protected:
  void SetUp() override {
    platform_->Reset();
    folder_ = fs::temp_directory_path() / ("zendrel_https_trust_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // One GET of the reset question with a new transport trusting `ca_file`.
  static HttpExchange Get(const std::string& base_url, const std::string& ca_file) {
    HttpRequest request;
    request.method = "GET";
    request.url = base_url + "/v1/reset";
    return NewHostHttpTransport(HttpTimeouts{10000, 10000, 10000, 10000}, HttpsTrust{ca_file})->Exchange(request);
  }

  // The connections the listeners accepted since the last call (then forgotten, with
  // the recorded requests).
  static AcceptedConnections TakeConnections() {
    const AcceptedConnections counts = platform_->Connections();
    platform_->Reset();
    return counts;
  }

  static void CopyFile(const fs::path& from, const fs::path& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  }

  fs::path folder_;
};

TEST_F(HttpsTrustTest, CertificateOfATrustedAuthorityIsVerifiedOnTheFirstConnection) {
  const HttpExchange exchange = Get(platform_->TrustedHttpsBaseUrl(), platform_->CaFile());
  ASSERT_TRUE(exchange.replied()) << exchange.failure;
  EXPECT_EQ(exchange.reply->status, 200);
  EXPECT_EQ(exchange.certificate_waived, CertificateProblem::kNone);
  const AcceptedConnections connections = TakeConnections();
  EXPECT_EQ(connections.https_trusted, 1) << "the verified exchange was retried with the checks waived";
}

TEST_F(HttpsTrustTest, ApiSettingsHandTheirAuthoritiesToTheHostTransport) {
  HttpRequest request;
  request.method = "GET";
  request.url = platform_->TrustedHttpsBaseUrl() + "/v1/reset";
  ApiSettings settings;
  settings.trust.ca_file = platform_->CaFile();
  ASSERT_TRUE(settings.NewTransport()->Exchange(request).replied());
  EXPECT_EQ(TakeConnections().https_trusted, 1);
  ASSERT_TRUE(ApiSettings().NewTransport()->Exchange(request).replied());
  EXPECT_EQ(TakeConnections().https_trusted, 2) << "the default settings trusted the test authority";
}

enum class Listener { kSelfSignedWrongName, kTrusted, kTrustedWrongName };

struct WaiverCase {
  const char* name;
  Listener listener;
  bool test_authority;        // false: the system's store
  CertificateProblem reason;  // what the waived exchange says was wrong
};

class HttpsWaiverTest : public HttpsTrustTest, public ::testing::WithParamInterface<WaiverCase> {};

TEST_P(HttpsWaiverTest, FailedVerificationIsRetriedWithTheChecksWaived) {
  const WaiverCase& c = GetParam();
  const std::string base_url = c.listener == Listener::kTrusted            ? platform_->TrustedHttpsBaseUrl()
                               : c.listener == Listener::kTrustedWrongName ? platform_->TrustedWrongNameHttpsBaseUrl()
                                                                           : platform_->HttpsBaseUrl();
  const HttpExchange exchange = Get(base_url, c.test_authority ? platform_->CaFile() : std::string());
  ASSERT_TRUE(exchange.replied()) << exchange.failure;
  EXPECT_EQ(exchange.reply->status, 200);
  // The waiver is never silent: the exchange names the reason.
  EXPECT_EQ(exchange.certificate_waived, c.reason);
  EXPECT_EQ(platform_->Requests().size(), 1U);
  const AcceptedConnections connections = TakeConnections();
  const int attempts = c.listener == Listener::kTrusted            ? connections.https_trusted
                       : c.listener == Listener::kTrustedWrongName ? connections.https_trusted_wrong_name
                                                                   : connections.https;
  EXPECT_EQ(attempts, 2) << "expected a rejected first connection and the waived second one";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Certificates, HttpsWaiverTest,
    ::testing::Values(WaiverCase{"SelfSignedWrongNameWithTheTestAuthority", Listener::kSelfSignedWrongName, true,
                                 CertificateProblem::kUnknownAuthority},
                      WaiverCase{"SelfSignedWrongNameWithTheSystemStore", Listener::kSelfSignedWrongName, false,
                                 CertificateProblem::kUnknownAuthority},
                      WaiverCase{"TestAuthorityUnknownToTheSystemStore", Listener::kTrusted, false,
                                 CertificateProblem::kUnknownAuthority},
                      WaiverCase{"WrongNameSignedByTheTestAuthority", Listener::kTrustedWrongName, true,
                                 CertificateProblem::kNameMismatch}),
    [](const ::testing::TestParamInfo<WaiverCase>& info) { return std::string(info.param.name); });
// clang-format on

// Why no reply came, told apart for the operator: what to do about each differs.
struct FailureKindCase {
  const char* name;
  const char* path;  // scripted to fail; empty: the address alone fails
  ScriptedReply reply;
  HttpFailureKind kind;
};

class HttpFailureKinds : public HttpsTrustTest, public ::testing::WithParamInterface<FailureKindCase> {};

TEST_P(HttpFailureKinds, AnExchangeWithoutReplyNamesItsKind) {
  const FailureKindCase& c = GetParam();
  HttpRequest request;
  request.method = "GET";
  const std::string name = c.name;
  if (name == "refused") {
    request.url = "http://127.0.0.1:9/v1/reset";  // nothing listens on port 9
  } else if (name == "plain_text_as_https") {
    request.url = "https://127.0.0.1:" + std::to_string(platform_->port()) + "/v1/reset";
  } else {
    platform_->Script("GET", c.path, {c.reply});
    request.url = platform_->BaseUrl() + c.path;
  }
  const HttpExchange exchange = NewHostHttpTransport(HttpTimeouts{10000, 10000, 10000, 1000})->Exchange(request);
  ASSERT_FALSE(exchange.replied());
  EXPECT_EQ(exchange.failure_kind, c.kind) << exchange.failure;
  EXPECT_EQ(exchange.certificate_waived, CertificateProblem::kNone);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, HttpFailureKinds,
    ::testing::Values(FailureKindCase{"refused", "", ScriptedReply{}, HttpFailureKind::kConnectionRefused},
                      FailureKindCase{"plain_text_as_https", "", ScriptedReply{}, HttpFailureKind::kTls},
                      FailureKindCase{"no_answer_within_the_receive_wait", "/v1/reset", ScriptedReply::NeverAnswer(),
                                      HttpFailureKind::kTimeout},
                      FailureKindCase{"closed_without_reply", "/v1/reset", ScriptedReply::CloseWithoutReply(),
                                      HttpFailureKind::kOther}),
    [](const ::testing::TestParamInfo<FailureKindCase>& info) { return std::string(info.param.name); });

TEST_F(HttpsTrustTest, UnreadableCaFileIsATransportFailureWithoutRetry) {
  std::ofstream(folder_ / "empty.pem").flush();
  for (const fs::path& ca_file : {folder_ / "missing.pem", folder_ / "empty.pem"}) {
    const HttpExchange exchange = Get(platform_->TrustedHttpsBaseUrl(), ca_file.string());
    EXPECT_FALSE(exchange.replied()) << ca_file;
    EXPECT_NE(exchange.failure.find("certificate"), std::string::npos) << exchange.failure;
    EXPECT_EQ(platform_->Requests().size(), 0U) << ca_file << ": the request was sent with the checks waived";
  }
}

TEST_F(HttpsTrustTest, RewrittenCaFileIsTrustedByTheNextCall) {
  // The same path, rewritten between calls: without the test authority, with it, and
  // without it again (an authority taken out must stop being trusted).
  const fs::path ca_file = folder_ / "authorities.pem";
  const fs::path test_authority = platform_->CaFile();
  const struct Step {
    fs::path content;
    int connections;  // 1: verified; 2: rejected, then waived
  } steps[] = {{kSystemBundle, 2}, {test_authority, 1}, {kSystemBundle, 2}, {test_authority, 1}};
  for (const Step& step : steps) {
    CopyFile(step.content, ca_file);
    const HttpExchange exchange = Get(platform_->TrustedHttpsBaseUrl(), ca_file.string());
    ASSERT_TRUE(exchange.replied()) << step.content << ": " << exchange.failure;
    EXPECT_EQ(TakeConnections().https_trusted, step.connections) << "CA file holding " << step.content;
  }
}

TEST_F(HttpsTrustTest, CaFileReplacedByRenameIsTrustedByTheNextCall) {
  // Package updates write a new file and rename it over the old one.
  const fs::path ca_file = folder_ / "authorities.pem";
  CopyFile(platform_->CaFile(), ca_file);
  ASSERT_TRUE(Get(platform_->TrustedHttpsBaseUrl(), ca_file.string()).replied());
  EXPECT_EQ(TakeConnections().https_trusted, 1);

  CopyFile(kSystemBundle, folder_ / "authorities.pem.new");
  fs::rename(folder_ / "authorities.pem.new", ca_file);
  ASSERT_TRUE(Get(platform_->TrustedHttpsBaseUrl(), ca_file.string()).replied());
  EXPECT_EQ(TakeConnections().https_trusted, 2) << "the replaced file's authority is still trusted";
}

}  // namespace
}  // namespace zendrel
