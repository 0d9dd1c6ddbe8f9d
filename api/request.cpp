// One request to the loyalty platform: parameters, query string, form body, headers.
#include "api/request.h"

#include "api/request_address.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

// The value travels exactly as it is: the platform expects a date's blank and
// colons, and a product code's "&", unencoded.
std::string PairText(const RequestParameter& parameter, bool encode_name) {
  std::string pair = encode_name ? PercentEncodeName(parameter.name) : parameter.name;
  pair += '=';
  pair += parameter.value;
  return pair;
}

}  // namespace

ApiRequest::ApiRequest(HttpMethod method, std::string_view URL, std::string_view resource)
    : method_(method), address_(RequestAddress(URL, resource)) {}

void ApiRequest::AddHeader(std::string name, std::string value) {
  parameters_.push_back(RequestParameter{std::move(name), std::move(value), ParameterKind::kHeader});
}

void ApiRequest::AddField(std::string name, std::string value) {
  parameters_.push_back(RequestParameter{std::move(name), std::move(value), ParameterKind::kFormOrQuery});
}

std::string ApiRequest::TargetAddress() const {
  if (method_ != HttpMethod::kGet) return address_;
  std::string target = address_;
  bool first = true;
  for (const RequestParameter& parameter : parameters_) {
    if (parameter.kind != ParameterKind::kFormOrQuery) continue;
    target += first ? '?' : '&';
    target += PairText(parameter, /*encode_name=*/true);
    first = false;
  }
  return target;
}

std::string ApiRequest::FormText() const {
  std::string body;
  for (const RequestParameter& parameter : parameters_) {
    if (parameter.kind != ParameterKind::kFormOrQuery) continue;
    if (!body.empty()) body += '&';
    body += PairText(parameter, /*encode_name=*/false);
  }
  return body;
}

HttpRequest ApiRequest::ToHttpRequest() const {
  HttpRequest request;
  request.method = method_ == HttpMethod::kGet ? "GET" : "POST";
  request.url = TargetAddress();
  for (const RequestParameter& parameter : parameters_) {
    if (parameter.kind == ParameterKind::kHeader) request.headers.emplace_back(parameter.name, parameter.value);
  }
  request.headers.emplace_back("Accept", kAcceptHeader);
  request.headers.emplace_back("Accept-Charset", kAcceptCharsetHeader);
  request.headers.emplace_back("User-Agent", kUserAgentHeader);
  if (method_ == HttpMethod::kPost) {
    request.headers.emplace_back("Content-Type", kFormContentType);
    request.body = Utf8ToWindows1252(FormText());
  }
  return request;
}

}  // namespace zendrel
