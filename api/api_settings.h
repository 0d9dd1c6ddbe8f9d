// What the API calls take from their surroundings besides their arguments: the
// transport, the clock that dates a points posting, the time-outs and the trusted
// certificate authorities. Production uses the defaults (the host's transport, the
// system clock, 30000 ms waits, the system's certificate store); tests put short
// time-outs, a fixed clock or a test authority in place for a scope.
#pragma once

#include <functional>
#include <memory>

#include "api/http_transport.h"
#include "support/clock.h"

namespace zendrel {

using HttpTransportFactory = std::function<std::unique_ptr<HttpTransport>(const HttpTimeouts&)>;

struct ApiSettings {
  HttpTransportFactory transport_factory;  // empty: NewHostHttpTransport
  const Clock* clock = nullptr;            // null: SystemClock()
  HttpTimeouts timeouts;
  HttpsTrust trust;  // for the host's transport

  // A new transport for one call, made by the factory.
  std::unique_ptr<HttpTransport> NewTransport() const;
  const Clock& CurrentClock() const;
};

// The settings in force (the defaults unless a ScopedApiSettings is alive).
const ApiSettings& CurrentApiSettings();

// While alive, the calls use `settings`; the earlier settings come back after.
// Scopes nest; they are meant for the thread that makes the calls.
class ScopedApiSettings {
 public:
  explicit ScopedApiSettings(ApiSettings settings);
  ~ScopedApiSettings();
  ScopedApiSettings(const ScopedApiSettings&) = delete;
  ScopedApiSettings& operator=(const ScopedApiSettings&) = delete;

 private:
  ApiSettings settings_;
  const ApiSettings* previous_;
};

}  // namespace zendrel
