// The watching transport.
#include "service/exchange_watch.h"

#include <memory>
#include <utility>

namespace zendrel {
namespace {

class WatchedTransport final : public HttpTransport {
 public:
  WatchedTransport(std::unique_ptr<HttpTransport> inner, std::shared_ptr<const ExchangeWatcher> watcher)
      : inner_(std::move(inner)), watcher_(std::move(watcher)) {}

  HttpExchange Exchange(const HttpRequest& request) override {
    HttpExchange exchange = inner_->Exchange(request);
    (*watcher_)(request, exchange);
    return exchange;
  }

 private:
  std::unique_ptr<HttpTransport> inner_;
  std::shared_ptr<const ExchangeWatcher> watcher_;
};

}  // namespace

ApiSettings WatchingExchanges(const ApiSettings& base, ExchangeWatcher watcher) {
  ApiSettings watching = base;
  auto shared_watcher = std::make_shared<const ExchangeWatcher>(std::move(watcher));
  watching.transport_factory = [base, shared_watcher](const HttpTimeouts& timeouts) -> std::unique_ptr<HttpTransport> {
    ApiSettings inner = base;
    inner.timeouts = timeouts;
    return std::make_unique<WatchedTransport>(inner.NewTransport(), shared_watcher);
  };
  return watching;
}

}  // namespace zendrel
