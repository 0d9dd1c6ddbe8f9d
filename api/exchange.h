// Sending one call's request: the redirect policy, the cookies of one call, and
// the classification of the outcome into the two branches the calls handle.
// Lives above the transport seam so every host follows redirects the same way.
#pragma once

#include <string>
#include <string_view>

#include "api/http_transport.h"
#include "api/request.h"

namespace zendrel {

inline constexpr int kMaxRedirects = 5;

enum class ExchangeBranch {
  kTransportFailure,  // no final reply, or a final reply from 500 to 599
  kCompleted,         // any other final reply
};

struct ExchangeOutcome {
  ExchangeBranch branch = ExchangeBranch::kTransportFailure;
  int status = 0;          // 0 when no final reply arrived
  std::string reply_text;  // the decoded body; empty without a reply
  std::string failure;     // why no reply arrived, for diagnostics

  bool completed() const { return branch == ExchangeBranch::kCompleted; }
};

// Sends `request` over `transport`, following redirects (300, 301, 302, 303, 307,
// 308 with a Location, at most five; a sixth ends as a transport failure). A POST
// answered 301, 302 or 303 goes on as a GET without body or Content-Type; 307 and
// 308 keep method and body. Cookies set by a redirect reply go with the following
// requests of this exchange only.
ExchangeOutcome SendRequest(const ApiRequest& request, HttpTransport& transport);

// Sends with a new transport from the settings in force (CurrentApiSettings).
ExchangeOutcome SendRequest(const ApiRequest& request);

// The reply text of a final reply: the body decoded by the charset its
// Content-Type names (UTF-8 when none). No MIME type counts as binary: the platform's
// replies are read whatever type they declare.
std::string ReplyText(const HttpReply& reply);

}  // namespace zendrel
