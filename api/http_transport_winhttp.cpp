// The HTTP transport on WinHTTP (Windows). One session per exchange, so nothing (no
// connection, no cookie) outlives it; WinHTTP follows no redirect and keeps no
// cookie of its own; the four waits are WinHTTP's time-outs, the receive limit being
// an idle wait between packets, and also set as the wait for the reply's headers,
// which Wine's WinHTTP otherwise leaves unbounded. The caps on the reply's size and
// on the whole exchange are checked between reads.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "api/certificate_waiver_winhttp.h"
#include "api/http_transport.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

struct InternetHandleCloser {
  void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

// WinHTTP's error texts live in winhttp.dll, not among the system's.
std::string WinHttpErrorText(DWORD code) {
  if (code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                       GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length != 0 && buffer != nullptr) {
      std::wstring text(buffer, length);
      LocalFree(buffer);
      while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
      return fmt::format("WinHTTP error {}: {}", code, Narrow(text));
    }
    return fmt::format("WinHTTP error {}", code);
  }
  return fmt::format("WinHTTP error {}: {}", code, SystemErrorText(code));
}

// The certificate checks that may be waived: an unknown authority, dates that do
// not cover the present, a name that does not match the host, a wrong usage.
constexpr DWORD kWaivedCertificateChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                                           SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;

// What the status callback learns about one attempt: why its secure channel failed,
// and whether any byte of the request went out.
struct SecureFailure {
  DWORD flags = 0;
  bool request_went_out = false;
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
  if (context == 0) return;
  auto* failure = reinterpret_cast<SecureFailure*>(context);
  if (status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || status == WINHTTP_CALLBACK_STATUS_REQUEST_SENT) {
    failure->request_went_out = true;
    return;
  }
  if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE) return;
  if (information != nullptr && length >= sizeof(DWORD)) failure->flags |= *static_cast<const DWORD*>(information);
}

bool IsWaivableCertificateFailure(DWORD error, const SecureFailure& failure) {
  return MayWaiveCertificateChecks(error, failure.flags, failure.request_went_out);
}

HttpFailureKind FailureKindOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR: return HttpFailureKind::kConnectionRefused;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return HttpFailureKind::kHostNotFound;
    case ERROR_WINHTTP_TIMEOUT: return HttpFailureKind::kTimeout;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT: return HttpFailureKind::kTls;
    default: return HttpFailureKind::kOther;
  }
}

// Why the certificate failed, from the error and the reasons the channel named.
CertificateProblem CertificateProblemOf(DWORD error, const SecureFailure& failure) {
  if (error == ERROR_WINHTTP_SECURE_CERT_CN_INVALID || (failure.flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)) {
    return CertificateProblem::kNameMismatch;
  }
  if (error == ERROR_WINHTTP_SECURE_INVALID_CA || (failure.flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA)) {
    return CertificateProblem::kUnknownAuthority;
  }
  if (error == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID ||
      (failure.flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)) {
    return CertificateProblem::kExpired;
  }
  return CertificateProblem::kOther;
}

// The raw header block ("HTTP/1.1 200 OK\r\nName: value\r\n...") as name/value pairs
// in arrival order, without the status line.
HeaderList ParseHeaderBlock(const std::string& block) {
  HeaderList headers;
  size_t begin = block.find("\r\n");
  while (begin != std::string::npos && begin + 2 < block.size()) {
    begin += 2;
    const size_t end = block.find("\r\n", begin);
    const std::string line = block.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    const size_t colon = line.find(':');
    if (colon != std::string::npos && colon > 0) {
      size_t value_begin = colon + 1;
      while (value_begin < line.size() && (line[value_begin] == ' ' || line[value_begin] == '\t')) ++value_begin;
      size_t value_end = line.size();
      while (value_end > value_begin && (line[value_end - 1] == ' ' || line[value_end - 1] == '\t')) --value_end;
      headers.emplace_back(line.substr(0, colon), line.substr(value_begin, value_end - value_begin));
    }
    begin = end;
  }
  return headers;
}

class WinHttpTransport final : public HttpTransport {
 public:
  explicit WinHttpTransport(const HttpTimeouts& timeouts) : timeouts_(timeouts) {}

  HttpExchange Exchange(const HttpRequest& request) override {
    bool certificate_rejected = false;
    HttpExchange first = Attempt(request, /*waive_certificate_checks=*/false, certificate_rejected);
    if (first.replied() || !certificate_rejected) return first;
    const CertificateProblem problem = certificate_problem_;
    HttpExchange second = Attempt(request, /*waive_certificate_checks=*/true, certificate_rejected);
    second.certificate_waived = problem;
    return second;
  }

 private:
  static HttpExchange Failure(const char* step, DWORD error) {
    return HttpExchange{std::nullopt, fmt::format("{}: {}", step, WinHttpErrorText(error)), FailureKindOf(error),
                        CertificateProblem::kNone};
  }

  HttpExchange Attempt(const HttpRequest& request, bool waive_certificate_checks, bool& certificate_rejected) {
    certificate_rejected = false;
    const auto started = std::chrono::steady_clock::now();
    const std::wstring url = Widen(request.url);

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
      return Failure("WinHttpCrackUrl", GetLastError());
    }
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
    target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.empty()) target = L"/";

    // No agent name here: the request's own User-Agent header is the only one sent.
    InternetHandle session(
        WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return Failure("WinHttpOpen", GetLastError());
    if (!WinHttpSetTimeouts(session.get(), timeouts_.resolve_ms, timeouts_.connect_ms, timeouts_.send_ms,
                            timeouts_.receive_ms)) {
      return Failure("WinHttpSetTimeouts", GetLastError());
    }

    InternetHandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return Failure("WinHttpConnect", GetLastError());

    // The address is already in its final form: WinHTTP must not escape it again.
    const DWORD open_flags =
        WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY | (secure ? WINHTTP_FLAG_SECURE : 0);
    InternetHandle handle(WinHttpOpenRequest(connection.get(), Widen(request.method).c_str(), target.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, open_flags));
    if (!handle) return Failure("WinHttpOpenRequest", GetLastError());
    HINTERNET http = handle.get();

    // No connection outlives the exchange, so none is kept alive (and no Connection
    // header is added to the request's own).
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION |
                     WINHTTP_DISABLE_KEEP_ALIVE;
    if (!WinHttpSetOption(http, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof(disabled))) {
      return Failure("WINHTTP_OPTION_DISABLE_FEATURE", GetLastError());
    }
    DWORD redirect_policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!WinHttpSetOption(http, WINHTTP_OPTION_REDIRECT_POLICY, &redirect_policy, sizeof(redirect_policy))) {
      return Failure("WINHTTP_OPTION_REDIRECT_POLICY", GetLastError());
    }
    DWORD response_timeout = static_cast<DWORD>(timeouts_.receive_ms);
    if (!WinHttpSetOption(http, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout, sizeof(response_timeout))) {
      return Failure("WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT", GetLastError());
    }
    if (secure && waive_certificate_checks) {
      DWORD security = kWaivedCertificateChecks;
      if (!WinHttpSetOption(http, WINHTTP_OPTION_SECURITY_FLAGS, &security, sizeof(security))) {
        return Failure("WINHTTP_OPTION_SECURITY_FLAGS", GetLastError());
      }
    }

    SecureFailure secure_failure;
    if (WinHttpSetStatusCallback(http, OnStatus,
                                 WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_SEND_REQUEST,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
      // Without the callback no failure could be told to come before the request.
      return Failure("WinHttpSetStatusCallback", GetLastError());
    }

    for (const auto& [name, value] : request.headers) {
      const std::wstring line = Widen(name + ": " + value);
      if (!WinHttpAddRequestHeaders(http, line.c_str(), static_cast<DWORD>(line.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
        return Failure("WinHttpAddRequestHeaders", GetLastError());
      }
    }

    const bool has_body = request.method != "GET" && !request.body.empty();
    const DWORD body_length = has_body ? static_cast<DWORD>(request.body.size()) : 0;
    // WinHTTP only reads the buffer; its parameter merely lacks const.
    LPVOID body = has_body ? const_cast<char*>(request.body.data()) : WINHTTP_NO_REQUEST_DATA;
    if (!WinHttpSendRequest(http, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, body_length, body_length,
                            reinterpret_cast<DWORD_PTR>(&secure_failure))) {
      const DWORD error = GetLastError();
      certificate_rejected = secure && !waive_certificate_checks && IsWaivableCertificateFailure(error, secure_failure);
      if (certificate_rejected) certificate_problem_ = CertificateProblemOf(error, secure_failure);
      return Failure("WinHttpSendRequest", error);
    }
    if (!WinHttpReceiveResponse(http, nullptr)) {
      const DWORD error = GetLastError();
      certificate_rejected = secure && !waive_certificate_checks && IsWaivableCertificateFailure(error, secure_failure);
      if (certificate_rejected) certificate_problem_ = CertificateProblemOf(error, secure_failure);
      return Failure("WinHttpReceiveResponse", error);
    }

    HttpReply reply;
    DWORD status = 0;
    DWORD status_size = sizeof(status);
    if (!WinHttpQueryHeaders(http, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &status, &status_size, WINHTTP_NO_HEADER_INDEX)) {
      return Failure("WinHttpQueryHeaders(status)", GetLastError());
    }
    reply.status = static_cast<int>(status);

    DWORD block_size = 0;
    WinHttpQueryHeaders(http, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &block_size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && block_size > 0) {
      std::wstring block(block_size / sizeof(wchar_t) + 1, L'\0');
      if (WinHttpQueryHeaders(http, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, block.data(),
                              &block_size, WINHTTP_NO_HEADER_INDEX)) {
        block.resize(block_size / sizeof(wchar_t));
        reply.headers = ParseHeaderBlock(Narrow(block));
      }
    }

    // Each read waits at most the receive limit, so checking the whole exchange's
    // cap between reads bounds it to the cap and one idle wait.
    std::size_t reply_bytes = 0;
    for (const auto& [name, value] : reply.headers) reply_bytes += name.size() + value.size() + 4;
    for (;;) {
      if (std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(timeouts_.exchange_ms)) {
        return HttpExchange{std::nullopt,
                            fmt::format("time-out: the exchange took longer than {} ms", timeouts_.exchange_ms),
                            HttpFailureKind::kTimeout, CertificateProblem::kNone};
      }
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(http, &available)) return Failure("WinHttpQueryDataAvailable", GetLastError());
      if (available == 0) break;
      reply_bytes += available;
      if (reply_bytes > timeouts_.max_reply_bytes) {
        return HttpExchange{std::nullopt, fmt::format("reply larger than {} bytes", timeouts_.max_reply_bytes),
                            HttpFailureKind::kOther, CertificateProblem::kNone};
      }
      const size_t offset = reply.body.size();
      reply.body.resize(offset + available);
      DWORD read = 0;
      if (!WinHttpReadData(http, reply.body.data() + offset, available, &read)) {
        return Failure("WinHttpReadData", GetLastError());
      }
      reply.body.resize(offset + read);
      if (read == 0) break;
    }
    return HttpExchange{std::move(reply), std::string(), HttpFailureKind::kNone, CertificateProblem::kNone};
  }

  HttpTimeouts timeouts_;
  CertificateProblem certificate_problem_ = CertificateProblem::kNone;
};

}  // namespace

std::unique_ptr<HttpTransport> NewHostHttpTransport(const HttpTimeouts& timeouts, const HttpsTrust& trust) {
  // WinHTTP verifies against the system's certificate store only.
  if (!trust.ca_file.empty()) throw std::invalid_argument("WinHTTP cannot trust a CA file: " + trust.ca_file);
  return std::make_unique<WinHttpTransport>(timeouts);
}

}  // namespace zendrel
