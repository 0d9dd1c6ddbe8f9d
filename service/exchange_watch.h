// A look at every exchange the API calls make, without changing any: the calls log
// only that no usable reply came, but the service's record of its cycle and -status
// need why (refused, name not found, time-out, a certificate waived).
#pragma once

#include <functional>

#include "api/api_settings.h"
#include "api/http_transport.h"

namespace zendrel {

using ExchangeWatcher = std::function<void(const HttpRequest& request, const HttpExchange& exchange)>;

// `base` with every transport it makes wrapped so that `watcher` sees each exchange
// (after it ended, before the call reads it).
ApiSettings WatchingExchanges(const ApiSettings& base, ExchangeWatcher watcher);

}  // namespace zendrel
