// The WinHTTP transport's rule for a second attempt without certificate checks: the
// certificate failures before the request went out, and nothing after it.
#include "api/certificate_waiver_winhttp.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

namespace zendrel {
namespace {

TEST(CertificateWaiver, OnlyACertificateRefusedBeforeTheRequestWentOut) {
  struct Case {
    const char* name;
    DWORD error;
    DWORD flags;
    bool request_went_out;
    bool waived;
  };
  const Case cases[] = {
      {"unknown authority", ERROR_WINHTTP_SECURE_INVALID_CA, 0, false, true},
      {"expired", ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, 0, false, true},
      {"wrong name", ERROR_WINHTTP_SECURE_CERT_CN_INVALID, 0, false, true},
      {"wrong usage", ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, 0, false, true},
      {"secure failure, waivable reasons", ERROR_WINHTTP_SECURE_FAILURE,
       WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA | WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, false, true},
      {"secure failure, revoked", ERROR_WINHTTP_SECURE_FAILURE,
       WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA | WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, false, false},
      {"channel error before the request (Wine's refused certificate)", ERROR_WINHTTP_SECURE_CHANNEL_ERROR, 0, false,
       true},
      {"time-out", ERROR_WINHTTP_TIMEOUT, 0, false, false},
      // The channel broke in the middle of the reply (an HTTPS-scanning antivirus): the
      // platform may have the request.
      {"channel error after the request", ERROR_WINHTTP_SECURE_CHANNEL_ERROR, 0, true, false},
      {"secure failure without reasons after the request", ERROR_WINHTTP_SECURE_FAILURE, 0, true, false},
      {"wrong name after the request", ERROR_WINHTTP_SECURE_CERT_CN_INVALID, 0, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MayWaiveCertificateChecks(c.error, c.flags, c.request_went_out), c.waived) << c.name;
  }
}

}  // namespace
}  // namespace zendrel
