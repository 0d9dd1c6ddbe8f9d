// The fake loyalty platform (tools/fake_platform/fake_platform.py) driven from C++
// tests: starts it as a child process on free ports, scripts its answers per path,
// reads back the requests it received, and stops it when the object goes away.
//
//   FakePlatform platform;           // not started yet
//   platform.Start();                // throws std::runtime_error on failure
//   platform.Script("POST", "/v1/lancador", {ScriptedReply::Json(400, R"({"errors":["CPF inválido"]})")});
//   auto record = LancaMovimentosPontos(platform.BaseUrl(), ...);
//   std::vector<RecordedRequest> sent = platform.Requests();
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/http_transport.h"

namespace zendrel {

class ChildProcess;

// One scripted answer of the fake platform.
struct ScriptedReply {
  int status = 200;
  HeaderList headers;  // sent as given (Location, Set-Cookie, Content-Type, ...)
  std::string body;    // raw bytes
  int delay_ms = 0;    // wait before the status line
  bool close_without_reply = false;
  bool break_tls = false;      // bytes that are no TLS record on the secure channel, then the close
  bool content_length = true;  // false: the body ends when the connection closes
  int trickle_ms = 0;          // > 0: the body goes one byte at a time, this far apart
  int repeat = 1;              // the body is sent this many times over

  // Content-Type "application/json; charset=utf-8".
  static ScriptedReply Json(int status, std::string body);
  // A reply with the given Content-Type; none at all when `content_type` is empty.
  static ScriptedReply Text(int status, std::string body, std::string content_type = "text/plain; charset=utf-8");
  static ScriptedReply Redirect(int status, std::string location);
  // The connection is closed after the request arrives, without any reply.
  static ScriptedReply CloseWithoutReply();
  // On an https listener: once the request has been read, bytes that are no TLS record
  // go down the connection and it is closed, as an HTTPS-scanning antivirus that breaks
  // the channel in the middle of the reply does.
  static ScriptedReply BreakTlsChannel();
  // No reply for ten minutes (until the platform stops): for time-out tests.
  static ScriptedReply NeverAnswer();

  // Adds a header and returns the reply, for chaining.
  ScriptedReply& With(std::string name, std::string value);
};

// One request as the fake platform received it.
// How many connections each listener of the fake platform accepted (control calls
// included), counted as they are accepted.
struct AcceptedConnections {
  int http = 0;
  int https = 0;                     // the wrong-name certificate
  int https_trusted = 0;             // the certificate signed by the test authority
  int https_trusted_wrong_name = 0;  // the authority's certificate for another name
};

struct RecordedRequest {
  std::string scheme;  // "http" or "https"
  std::string method;
  std::string path;    // without the query string
  std::string query;   // the raw query string, without "?"
  HeaderList headers;  // in arrival order, names as sent
  std::string body;    // raw bytes

  std::optional<std::string> Header(std::string_view name) const { return FindHeader(headers, name); }
};

class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();  // stops the platform
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // Starts the platform on free loopback ports: HTTP, HTTPS with a self-signed
  // certificate for a wrong host name, HTTPS with a certificate for 127.0.0.1
  // signed by the platform's test authority (CaFile()), and HTTPS with a certificate
  // that authority signed for a wrong host name. Does nothing when already started.
  void Start();
  // Stops it (also done by the destructor).
  void Stop();

  // "http://127.0.0.1:<port>" and "https://127.0.0.1:<port>", without a final "/".
  std::string BaseUrl() const;
  std::string HttpsBaseUrl() const;         // the wrong-name certificate
  std::string TrustedHttpsBaseUrl() const;  // the certificate the test authority signed
  // A certificate the test authority signed for another host name.
  std::string TrustedWrongNameHttpsBaseUrl() const;
  int port() const { return http_port_; }
  int https_port() const { return https_port_; }
  // The test authority's certificate (PEM); the file lives as long as the platform.
  const std::string& CaFile() const { return ca_file_; }

  // Requests to `path` (the path alone, "/v1/lancador") get `replies` in order; the
  // last one repeats. Replaces an earlier script of the same path and method. An
  // empty `method` matches every method without a script of its own.
  void Script(std::string_view method, std::string_view path, std::vector<ScriptedReply> replies);
  void Script(std::string_view path, std::vector<ScriptedReply> replies) { Script("", path, std::move(replies)); }

  // A chain of `count` redirects with `status`: `first_path` -> /__redirect/1 ->
  // ... -> /__redirect/<count-1> -> `final_path` (relative Locations).
  void ScriptRedirectChain(std::string_view first_path, int count, int status, std::string_view final_path);

  // Every request received since the start or the last Reset, in arrival order.
  std::vector<RecordedRequest> Requests() const;

  // While `stall` holds, new HTTPS connections are accepted and never get their TLS
  // handshake. Reset ends it.
  void StallHandshakes(bool stall);

  // The connections accepted since the start or the last Reset.
  AcceptedConnections Connections() const;

  // Forgets every script, every recorded request and the connection counts, and ends
  // stalled handshakes.
  void Reset();

 private:
  std::string Control(std::string_view method, std::string_view action, std::string body = {}) const;

  std::unique_ptr<ChildProcess> process_;
  std::unique_ptr<HttpTransport> control_;
  int http_port_ = 0;
  int https_port_ = 0;
  int trusted_https_port_ = 0;
  int trusted_wrong_name_https_port_ = 0;
  std::string ca_file_;
};

}  // namespace zendrel
