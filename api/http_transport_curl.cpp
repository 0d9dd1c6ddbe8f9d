// The HTTP transport on libcurl (Linux). One easy handle per exchange: HTTP/1.1
// only, no redirects followed, no cookie engine, no compression asked for, no
// "Expect: 100-continue". The receive and send limits are idle waits watched from
// the transfer callbacks, so a slow but steady reply is never cut off; the same
// callbacks hold the caps on the whole exchange and on the reply's size. A verified
// https attempt takes the process's parsed store of trusted authorities
// (tls_trust_store_curl.h) instead of parsing the CA bundle again.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "api/http_transport.h"
#include "api/tls_trust_store_curl.h"
#include "support/text.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct EasyHandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHeaders = std::unique_ptr<curl_slist, HeaderListDeleter>;

void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw std::runtime_error("curl_global_init failed");
    }
  });
}

std::string CurlFailure(CURLcode code, const char* detail) {
  return fmt::format("curl error {}: {}", static_cast<int>(code),
                     (detail != nullptr && *detail != '\0') ? detail : curl_easy_strerror(code));
}

// Everything the callbacks of one attempt share. The callbacks run inside libcurl's
// C frames: nothing may be thrown through them, so a failure there is kept here and
// the callback asks libcurl to end the transfer instead.
struct Transfer {
  HttpReply reply;
  HttpTimeouts limits;
  CURL* easy = nullptr;
  bool connected = false;
  SteadyClock::time_point started = SteadyClock::now();
  SteadyClock::time_point last_activity = started;
  curl_off_t last_uploaded = 0;
  std::size_t reply_bytes = 0;  // headers and body received so far
  std::string abort_reason;     // set when a callback ended the transfer

  void Touch() { last_activity = SteadyClock::now(); }

  // Counts `count` more bytes of the reply. False, with the reason kept, past the cap.
  bool Receive(std::size_t count) {
    if (count > limits.max_reply_bytes - std::min(reply_bytes, limits.max_reply_bytes)) {
      abort_reason = fmt::format("reply larger than {} bytes", limits.max_reply_bytes);
      return false;
    }
    reply_bytes += count;
    Touch();
    return true;
  }
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  try {
    if (!transfer->Receive(bytes)) return CURL_WRITEFUNC_ERROR;
    transfer->reply.body.append(data, bytes);
  } catch (const std::exception& e) {
    transfer->abort_reason = std::string("reply body not kept: ") + e.what();
    return CURL_WRITEFUNC_ERROR;
  }
  return bytes;
}

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  try {
    if (!transfer->Receive(bytes)) return CURL_WRITEFUNC_ERROR;
    std::string_view line(data, bytes);
    // An interim reply (1xx) is followed by another status line: only the final
    // reply's headers count.
    if (line.starts_with("HTTP/")) {
      transfer->reply.headers.clear();
      return bytes;
    }
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos && colon > 0) {
      transfer->reply.headers.emplace_back(std::string(TrimSpacesTabsAndTrailingLineEnds(line.substr(0, colon))),
                                           std::string(TrimSpacesTabsAndTrailingLineEnds(line.substr(colon + 1))));
    }
  } catch (const std::exception& e) {
    transfer->abort_reason = std::string("reply headers not kept: ") + e.what();
    return CURL_WRITEFUNC_ERROR;
  }
  return bytes;
}

// Called once the connection (and its secure channel) stands: from here on the
// idle limits apply; before it the resolve and connect limits do.
int OnConnected(void* user, char*, char*, int, int) {
  auto* transfer = static_cast<Transfer*>(user);
  transfer->connected = true;
  transfer->Touch();
  return CURL_PREREQFUNC_OK;
}

// Before the connection stands: the name look-up has its own limit from the start,
// and the connection (with its handshake) its own from the moment the name was
// found, so neither wait borrows from the other.
bool ConnectPhaseExpired(Transfer& transfer, SteadyClock::time_point now) {
  curl_off_t lookup_us = 0;
  if (curl_easy_getinfo(transfer.easy, CURLINFO_NAMELOOKUP_TIME_T, &lookup_us) != CURLE_OK) lookup_us = 0;
  if (lookup_us <= 0) {
    if (now - transfer.started < std::chrono::milliseconds(transfer.limits.resolve_ms)) return false;
    transfer.abort_reason =
        fmt::format("time-out: the host name was not resolved within {} ms", transfer.limits.resolve_ms);
    return true;
  }
  const auto resolved = transfer.started + std::chrono::microseconds(lookup_us);
  if (now - resolved < std::chrono::milliseconds(transfer.limits.connect_ms)) return false;
  transfer.abort_reason = fmt::format("time-out: no connection within {} ms", transfer.limits.connect_ms);
  return true;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t upload_total, curl_off_t uploaded) {
  auto* transfer = static_cast<Transfer*>(user);
  const auto now = SteadyClock::now();
  if (now - transfer->started >= std::chrono::milliseconds(transfer->limits.exchange_ms)) {
    transfer->abort_reason = fmt::format("time-out: the exchange took longer than {} ms", transfer->limits.exchange_ms);
    return 1;  // aborts the transfer
  }
  if (!transfer->connected) return ConnectPhaseExpired(*transfer, now) ? 1 : 0;
  if (uploaded != transfer->last_uploaded) {
    transfer->last_uploaded = uploaded;
    transfer->Touch();
    return 0;
  }
  const bool sending = upload_total > 0 && uploaded < upload_total;
  const auto limit = std::chrono::milliseconds(sending ? transfer->limits.send_ms : transfer->limits.receive_ms);
  if (now - transfer->last_activity >= limit) {
    transfer->abort_reason = "time-out: no data moved within the idle limit";
    return 1;
  }
  return 0;
}

bool IsCertificateVerificationFailure(CURLcode code) {
  // With OpenSSL an unknown authority, expired dates, a wrong name and a wrong
  // usage all end here; every other TLS failure has its own code.
  return code == CURLE_PEER_FAILED_VERIFICATION;
}

HttpFailureKind FailureKindOf(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST: return HttpFailureKind::kHostNotFound;
    case CURLE_COULDNT_CONNECT: return HttpFailureKind::kConnectionRefused;
    case CURLE_OPERATION_TIMEDOUT: return HttpFailureKind::kTimeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED: return HttpFailureKind::kTls;
    default: return HttpFailureKind::kOther;
  }
}

// OpenSSL's verification result (X509_V_ERR_*) of a refused certificate. libcurl
// checks the host name itself after OpenSSL passed the chain, so a refusal with a
// passing chain is a name that does not match.
CertificateProblem CertificateProblemOf(long verify_result, std::string_view error_text) {
  constexpr long kVerifyOk = 0;
  constexpr long kUnableToGetIssuerCert = 2;
  constexpr long kNotYetValid = 9;
  constexpr long kExpired = 10;
  constexpr long kDepthZeroSelfSigned = 18;
  constexpr long kSelfSignedInChain = 19;
  constexpr long kUnableToGetIssuerLocally = 20;
  constexpr long kUnableToVerifyLeaf = 21;
  constexpr long kHostnameMismatch = 62;
  switch (verify_result) {
    case kVerifyOk:
    case kHostnameMismatch: return CertificateProblem::kNameMismatch;
    case kNotYetValid:
    case kExpired: return CertificateProblem::kExpired;
    case kUnableToGetIssuerCert:
    case kDepthZeroSelfSigned:
    case kSelfSignedInChain:
    case kUnableToGetIssuerLocally:
    case kUnableToVerifyLeaf: return CertificateProblem::kUnknownAuthority;
    default: break;
  }
  if (error_text.find("subject name") != std::string_view::npos) return CertificateProblem::kNameMismatch;
  return CertificateProblem::kOther;
}

template <typename T>
void SetOption(CURL* handle, CURLoption option, T value) {
  const CURLcode code = curl_easy_setopt(handle, option, value);
  if (code != CURLE_OK) {
    throw std::runtime_error(
        fmt::format("curl_easy_setopt({}) failed: {}", static_cast<int>(option), curl_easy_strerror(code)));
  }
}

class CurlHttpTransport final : public HttpTransport {
 public:
  CurlHttpTransport(const HttpTimeouts& timeouts, HttpsTrust trust) : timeouts_(timeouts), trust_(std::move(trust)) {
    InitialiseCurlOnce();
  }

  HttpExchange Exchange(const HttpRequest& request) override {
    HttpExchange first = Attempt(request, /*verify_certificate=*/true);
    if (first.replied() || !certificate_rejected_) return first;
    const CertificateProblem problem = certificate_problem_;
    HttpExchange second = Attempt(request, /*verify_certificate=*/false);
    second.certificate_waived = problem;
    return second;
  }

 private:
  HttpExchange Attempt(const HttpRequest& request, bool verify_certificate) {
    certificate_rejected_ = false;
    EasyHandle handle(curl_easy_init());
    if (!handle)
      return HttpExchange{std::nullopt, "curl_easy_init failed", HttpFailureKind::kOther, CertificateProblem::kNone};
    CURL* easy = handle.get();

    Transfer transfer;
    transfer.limits = timeouts_;
    transfer.easy = easy;

    // libcurl adds its own Accept, and a Content-Type to every POST: the request's
    // headers replace them, and "Expect:" with no value suppresses 100-continue.
    CurlHeaders headers;
    auto append = [&headers](const std::string& line) {
      curl_slist* extended = curl_slist_append(headers.get(), line.c_str());
      if (extended == nullptr) throw std::bad_alloc();
      headers.release();
      headers.reset(extended);
    };
    bool has_accept = false;
    bool has_content_type = false;
    for (const auto& [name, value] : request.headers) {
      append(value.empty() ? name + ";" : name + ": " + value);
      has_accept = has_accept || AsciiLower(name) == "accept";
      has_content_type = has_content_type || AsciiLower(name) == "content-type";
    }
    if (!has_accept) append("Accept:");
    if (!has_content_type) append("Content-Type:");
    append("Expect:");

    char error_text[CURL_ERROR_SIZE] = {};
    SetOption(easy, CURLOPT_ERRORBUFFER, error_text);
    SetOption(easy, CURLOPT_URL, request.url.c_str());
    SetOption(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    SetOption(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    SetOption(easy, CURLOPT_FOLLOWLOCATION, 0L);
    SetOption(easy, CURLOPT_NOSIGNAL, 1L);
    SetOption(easy, CURLOPT_FORBID_REUSE, 1L);
    SetOption(easy, CURLOPT_HTTPHEADER, headers.get());
    // The two waits before the connection stands are watched one by one from the
    // progress callback; libcurl's own limit only backs them up, and the whole
    // exchange has its cap from the same callback.
    SetOption(easy, CURLOPT_CONNECTTIMEOUT_MS,
              static_cast<long>(timeouts_.resolve_ms) + static_cast<long>(timeouts_.connect_ms));
    SetOption(easy, CURLOPT_WRITEFUNCTION, OnBody);
    SetOption(easy, CURLOPT_WRITEDATA, &transfer);
    SetOption(easy, CURLOPT_HEADERFUNCTION, OnHeaderLine);
    SetOption(easy, CURLOPT_HEADERDATA, &transfer);
    SetOption(easy, CURLOPT_PREREQFUNCTION, OnConnected);
    SetOption(easy, CURLOPT_PREREQDATA, &transfer);
    SetOption(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
    SetOption(easy, CURLOPT_XFERINFODATA, &transfer);
    SetOption(easy, CURLOPT_NOPROGRESS, 0L);
    SetOption(easy, CURLOPT_SSL_VERIFYPEER, verify_certificate ? 1L : 0L);
    SetOption(easy, CURLOPT_SSL_VERIFYHOST, verify_certificate ? 2L : 0L);
    // The authorities parsed once for the process, not once per handle.
    const TrustStoreReference trust_store =
        verify_certificate ? UseSharedTrustStore(easy, request.url, trust_.ca_file) : nullptr;

    if (request.method == "GET") {
      SetOption(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "POST") {
      SetOption(easy, CURLOPT_POST, 1L);
      SetOption(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
      SetOption(easy, CURLOPT_POSTFIELDS, request.body.data());
    } else {
      SetOption(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    const CURLcode code = curl_easy_perform(easy);
    if (code != CURLE_OK) {
      if (!transfer.abort_reason.empty()) {
        const bool timeout = transfer.abort_reason.starts_with("time-out");
        return HttpExchange{std::nullopt, transfer.abort_reason,
                            timeout ? HttpFailureKind::kTimeout : HttpFailureKind::kOther, CertificateProblem::kNone};
      }
      certificate_rejected_ = verify_certificate && IsCertificateVerificationFailure(code);
      if (certificate_rejected_) {
        long verify_result = 0;
        if (curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify_result) != CURLE_OK) verify_result = -1;
        certificate_problem_ = CertificateProblemOf(verify_result, error_text);
      }
      return HttpExchange{std::nullopt, CurlFailure(code, error_text), FailureKindOf(code), CertificateProblem::kNone};
    }

    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    transfer.reply.status = static_cast<int>(status);
    return HttpExchange{std::move(transfer.reply), std::string(), HttpFailureKind::kNone, CertificateProblem::kNone};
  }

  HttpTimeouts timeouts_;
  HttpsTrust trust_;
  bool certificate_rejected_ = false;
  CertificateProblem certificate_problem_ = CertificateProblem::kNone;
};

}  // namespace

std::unique_ptr<HttpTransport> NewHostHttpTransport(const HttpTimeouts& timeouts, const HttpsTrust& trust) {
  return std::make_unique<CurlHttpTransport>(timeouts, trust);
}

}  // namespace zendrel
