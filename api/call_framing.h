// What the five calls share when they build a request: the base address taken as
// the settings row holds it and the Authorization header with the compiled-in token.
#pragma once

#include <string>
#include <string_view>

#include "api/request.h"

namespace zendrel {

// A new request of `method` to `resource` under the base address `URL`, with the
// Authorization header as its first parameter; the call adds its own fields.
ApiRequest NewCallRequest(HttpMethod method, const std::string& URL, std::string_view resource);

// Whether `text` is empty once characters with codes below 33 are cleared from
// both ends.
bool IsBlank(std::string_view text);

}  // namespace zendrel
