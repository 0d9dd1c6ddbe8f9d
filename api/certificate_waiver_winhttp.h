// When the WinHTTP transport may try an exchange again with the certificate checks
// waived: only when the certificate was refused before any byte of the request went
// out. A failure after that may come after the platform has the request (and, for a
// posting, has credited it), so a second attempt would post it twice.
#pragma once

namespace zendrel {

// `error`: the failed step's error code; `secure_failure_flags`: the reasons the status
// callback gave for a failed secure channel (WINHTTP_CALLBACK_STATUS_FLAG_*);
// `request_went_out`: whether the callback reported the request being sent.
bool MayWaiveCertificateChecks(unsigned long error, unsigned long secure_failure_flags, bool request_went_out);

}  // namespace zendrel
