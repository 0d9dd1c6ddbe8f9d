// The part of request building that every call shares.
#include "api/call_framing.h"

#include "api/brindex_calls.h"

namespace zendrel {

ApiRequest NewCallRequest(HttpMethod method, const std::string& URL, std::string_view resource) {
  // RequestAddress clears blanks around the base address before it gets its final
  // "/", so a blank left in the settings column never lands inside the address.
  ApiRequest request(method, URL, resource);
  request.AddHeader("Authorization", std::string("Bearer ") + Token);
  return request;
}

}  // namespace zendrel
