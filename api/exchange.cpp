// Sending one call's request: redirects, per-call cookies, outcome classification.
#include "api/exchange.h"

#include <algorithm>
#include <charconv>

#include <fmt/format.h>

#include "api/api_settings.h"
#include "api/request_address.h"
#include "support/text.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

// The cookies of one call. Only what a redirect chain needs: name and value, the
// host that set them (or the domain they name), removal by Max-Age.
class CallCookies {
 public:
  void Store(const std::vector<std::string>& set_cookie_values, const std::string& host) {
    for (const std::string& header : set_cookie_values) Store(header, host);
  }

  // The Cookie header value for a request to `host`; empty when none applies.
  std::string HeaderFor(const std::string& host) const {
    std::string header;
    for (const Cookie& cookie : cookies_) {
      if (!Applies(cookie, host)) continue;
      if (!header.empty()) header += "; ";
      header += cookie.name + "=" + cookie.value;
    }
    return header;
  }

 private:
  struct Cookie {
    std::string name;
    std::string value;
    std::string host;    // the host that set it
    std::string domain;  // lower-case, without a leading "."; empty: host only
  };

  static bool Applies(const Cookie& cookie, const std::string& host) {
    if (cookie.domain.empty()) return host == cookie.host;
    return host == cookie.domain || host.ends_with("." + cookie.domain);
  }

  void Store(std::string_view header, const std::string& host) {
    const size_t end_of_pair = header.find(';');
    const std::string_view pair = header.substr(0, end_of_pair);
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos) return;
    Cookie cookie{std::string(TrimSpacesAndTabs(pair.substr(0, equals))),
                  std::string(TrimSpacesAndTabs(pair.substr(equals + 1))),
                  host,
                  {}};
    if (cookie.name.empty()) return;

    bool expired = false;
    std::string_view attributes =
        end_of_pair == std::string_view::npos ? std::string_view() : header.substr(end_of_pair + 1);
    while (!attributes.empty()) {
      const size_t next = attributes.find(';');
      const std::string_view attribute = TrimSpacesAndTabs(attributes.substr(0, next));
      attributes = next == std::string_view::npos ? std::string_view() : attributes.substr(next + 1);
      const size_t eq = attribute.find('=');
      const std::string name = AsciiLower(TrimSpacesAndTabs(attribute.substr(0, eq)));
      const std::string_view value =
          eq == std::string_view::npos ? std::string_view() : TrimSpacesAndTabs(attribute.substr(eq + 1));
      if (name == "domain") {
        std::string domain = AsciiLower(value);
        while (domain.starts_with('.')) domain.erase(0, 1);
        // A server may not set cookies for a domain it does not belong to.
        if (!domain.empty() && (host == domain || host.ends_with("." + domain))) cookie.domain = domain;
      } else if (name == "max-age") {
        long seconds = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (error == std::errc() && end == value.data() + value.size() && seconds <= 0) expired = true;
      }
    }

    std::erase_if(cookies_, [&](const Cookie& known) {
      return known.name == cookie.name && known.host == cookie.host && known.domain == cookie.domain;
    });
    if (!expired) cookies_.push_back(std::move(cookie));
  }

  std::vector<Cookie> cookies_;
};

bool IsFollowedRedirectStatus(int status) {
  return status == 300 || status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void RemoveHeader(HeaderList& headers, std::string_view name) {
  std::erase_if(headers, [&](const auto& header) { return AsciiLower(header.first) == AsciiLower(name); });
}

ExchangeOutcome Failure(std::string why) {
  ExchangeOutcome outcome;
  outcome.branch = ExchangeBranch::kTransportFailure;
  outcome.failure = std::move(why);
  return outcome;
}

}  // namespace

std::string ReplyText(const HttpReply& reply) { return DecodeBody(reply.body, reply.ContentType()); }

ExchangeOutcome SendRequest(const ApiRequest& request, HttpTransport& transport) {
  HttpRequest current = request.ToHttpRequest();
  CallCookies cookies;
  for (int redirects = 0;; ++redirects) {
    RemoveHeader(current.headers, "Cookie");
    if (const std::string cookie = cookies.HeaderFor(UriHost(current.url)); !cookie.empty()) {
      current.headers.emplace_back("Cookie", cookie);
    }

    HttpExchange exchange = transport.Exchange(current);
    if (!exchange.replied()) return Failure(std::move(exchange.failure));
    const HttpReply& reply = *exchange.reply;

    const std::optional<std::string> location = FindHeader(reply.headers, "Location");
    if (IsFollowedRedirectStatus(reply.status) && location.has_value()) {
      if (redirects == kMaxRedirects) {
        return Failure(fmt::format("more than {} redirects", kMaxRedirects));
      }
      cookies.Store(FindHeaders(reply.headers, "Set-Cookie"), UriHost(current.url));
      current.url = ResolveReference(current.url, *location);
      const bool becomes_get = reply.status == 301 || reply.status == 302 || reply.status == 303;
      if (becomes_get && current.method == "POST") {
        current.method = "GET";
        current.body.clear();
        RemoveHeader(current.headers, "Content-Type");
      }
      continue;
    }

    ExchangeOutcome outcome;
    outcome.status = reply.status;
    outcome.reply_text = ReplyText(reply);
    outcome.branch =
        (reply.status >= 500 && reply.status <= 599) ? ExchangeBranch::kTransportFailure : ExchangeBranch::kCompleted;
    return outcome;
  }
}

ExchangeOutcome SendRequest(const ApiRequest& request) {
  std::unique_ptr<HttpTransport> transport = CurrentApiSettings().NewTransport();
  return SendRequest(request, *transport);
}

}  // namespace zendrel
