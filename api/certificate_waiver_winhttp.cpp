// The WinHTTP transport's rule for a second attempt without certificate checks (see
// certificate_waiver_winhttp.h).
#include "api/certificate_waiver_winhttp.h"

#include <windows.h>
#include <winhttp.h>

namespace zendrel {
namespace {

constexpr DWORD kWaivableFailureFlags =
    WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA | WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID | WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE;

}  // namespace

bool MayWaiveCertificateChecks(unsigned long error, unsigned long secure_failure_flags, bool request_went_out) {
  // Which step failed does not tell whether the request went out (Wine reports a
  // refused certificate from WinHttpReceiveResponse too); the status callback does.
  // After it, the failure is a transport failure, tried again by the next cycle.
  if (request_went_out) return false;
  switch (error) {
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE: return true;
    case ERROR_WINHTTP_SECURE_FAILURE:
      // Not when the channel named a reason besides the four (a revoked certificate).
      return (secure_failure_flags & ~kWaivableFailureFlags) == 0;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      // Wine's WinHTTP reports a failed certificate check this way, without reasons.
      // A second attempt changes nothing but the four checks, so a channel that fails
      // for any other reason (a server that does not speak TLS) fails again, and the
      // exchange still ends as a transport failure.
      return true;
    default: return false;
  }
}

}  // namespace zendrel
