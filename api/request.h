// One request to the loyalty platform as the calls build it: the method, the
// request address, and the ordered parameter list whose entries travel as headers
// or as form-or-query pairs. Turns into the exact HTTP request the platform gets:
// the fixed header table, a GET's query string, a POST's form body in Windows-1252.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "api/http_transport.h"

namespace zendrel {

enum class HttpMethod { kGet, kPost };

enum class ParameterKind {
  kHeader,       // sent as the HTTP header of that name
  kFormOrQuery,  // a GET's query string or a POST's form body
};

struct RequestParameter {
  std::string name;
  std::string value;
  ParameterKind kind = ParameterKind::kFormOrQuery;
};

// The values of the fixed headers that every request carries.
inline constexpr char kAcceptHeader[] = "application/json, text/plain; q=0.9, text/html;q=0.8,";
inline constexpr char kAcceptCharsetHeader[] = "utf-8, *;q=0.8";
inline constexpr char kUserAgentHeader[] = "Zendrel/1.0";
inline constexpr char kFormContentType[] = "application/x-www-form-urlencoded";

class ApiRequest {
 public:
  // `URL` is the campaign's base address as the settings row holds it; `resource`
  // the call's resource path ("v1/lancador").
  ApiRequest(HttpMethod method, std::string_view URL, std::string_view resource);

  // Parameters keep the order in which they are added.
  void AddHeader(std::string name, std::string value);
  void AddField(std::string name, std::string value);

  HttpMethod method() const { return method_; }
  const std::string& address() const { return address_; }
  const std::vector<RequestParameter>& parameters() const { return parameters_; }

  // The address the request goes to: for a GET with its query string
  // "?name=value&..." (names percent-encoded, values as they are).
  std::string TargetAddress() const;

  // A POST's form body as text: "name=value" pairs joined by "&", nothing encoded.
  std::string FormText() const;

  // The HTTP request: Authorization (a header parameter), Accept, Accept-Charset,
  // User-Agent, and for a POST Content-Type and the form body in Windows-1252
  // (characters it lacks become "?").
  HttpRequest ToHttpRequest() const;

 private:
  HttpMethod method_;
  std::string address_;
  std::vector<RequestParameter> parameters_;
};

}  // namespace zendrel
