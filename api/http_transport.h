// The HTTP transport seam: one HTTP/1.1 exchange with the loyalty platform, exactly
// as the request layer describes it. The transport never follows redirects, keeps
// no cookies and reuses no connection: the redirect policy and the cookies of one
// call live in the portable request layer, so every host behaves the same.
// One implementation per host: http_transport_curl.cpp (Linux, libcurl) and
// http_transport_winhttp.cpp (Windows, WinHTTP).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zendrel {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The value of the first header named `name` (ASCII case ignored), if any.
std::optional<std::string> FindHeader(const HeaderList& headers, std::string_view name);

// Every value of the headers named `name`, in order (Set-Cookie).
std::vector<std::string> FindHeaders(const HeaderList& headers, std::string_view name);

struct HttpRequest {
  std::string method;  // "GET" or "POST"
  std::string url;     // absolute, already in its final form (query string included)
  HeaderList headers;  // sent exactly as given, in order; nothing else but Host and
                       // Content-Length (POST) is added
  std::string body;    // bytes; sent for POST only
};

struct HttpReply {
  int status = 0;
  HeaderList headers;  // of the final reply, in arrival order
  std::string body;    // raw bytes

  // The value of the reply's Content-Type header; empty when it has none.
  std::string ContentType() const;
};

// The limits of an exchange. The four waits, in milliseconds, each on its own:
// resolving the host name, connecting (with the secure channel's handshake), and
// the send and receive limits, which are idle waits (no byte moving). Besides them
// two caps that keep a misbehaving peer from holding the cycle or the memory: the
// whole exchange and the size of the reply (headers and body); past either, the
// exchange ends as a failure without a reply.
struct HttpTimeouts {
  int resolve_ms = 30000;
  int connect_ms = 30000;
  int send_ms = 30000;
  int receive_ms = 30000;
  int exchange_ms = 10 * 60 * 1000;
  std::size_t max_reply_bytes = std::size_t{32} * 1024 * 1024;
};

// The certificate authorities an https exchange is verified against. The shipped
// program always uses the default, the system's store; tests name a file
// holding the fake platform's test authority.
struct HttpsTrust {
  std::string ca_file;  // PEM file of trusted authorities; empty: the system's store
};

// Why an exchange got no reply, as far as the host's client tells it apart: what an
// operator must do differs for each (start the platform's service, fix the address,
// wait, look at the certificate).
enum class HttpFailureKind {
  kNone,               // a reply arrived
  kConnectionRefused,  // the host answered that nothing listens on the port, or was unreachable
  kHostNotFound,       // the host name could not be resolved
  kTimeout,            // a wait passed its limit
  kTls,                // the secure channel failed (certificate refused and not waived, protocol)
  kOther,              // anything else (a connection lost mid-reply, the size cap, ...)
};

// Why a server certificate failed verification.
enum class CertificateProblem {
  kNone,              // it passed (or the exchange was not https)
  kNameMismatch,      // issued for another host name
  kUnknownAuthority,  // signed by no authority this machine trusts (self-signed, ...)
  kExpired,           // outside its dates of validity
  kOther,             // another waivable reason (wrong usage), or one the client did not say
};

// What became of one exchange: a reply (any status) or no reply at all.
struct HttpExchange {
  std::optional<HttpReply> reply;
  std::string failure;  // why no reply arrived (for diagnostics); empty with a reply
  HttpFailureKind failure_kind = HttpFailureKind::kNone;
  // Set when the reply (or failure) came over a channel whose certificate checks were
  // waived after the certificate failed verification for this reason.
  CertificateProblem certificate_waived = CertificateProblem::kNone;

  bool replied() const { return reply.has_value(); }
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;

  // Performs one exchange. Returns the final reply of this one request (a 3xx is a
  // reply; it is not followed), or no reply when the host cannot be resolved, the
  // connection fails or is lost, a wait passes its limit, or the secure channel
  // fails. For https the server certificate is checked; when it fails only on its
  // authority, dates, name or usage, the request is sent again with those checks
  // waived, and the result says so (certificate_waived). A result without a reply
  // names the kind of failure. Never throws for network failures.
  virtual HttpExchange Exchange(const HttpRequest& request) = 0;
};

// The host's transport with the given limits, trusting the authorities of `trust`.
std::unique_ptr<HttpTransport> NewHostHttpTransport(const HttpTimeouts& timeouts, const HttpsTrust& trust = {});

}  // namespace zendrel
