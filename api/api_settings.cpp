// The API calls' settings in force and their scoped override.
#include "api/api_settings.h"

namespace zendrel {
namespace {

const ApiSettings& DefaultSettings() {
  static const ApiSettings defaults;
  return defaults;
}

const ApiSettings* current_settings = nullptr;

}  // namespace

std::unique_ptr<HttpTransport> ApiSettings::NewTransport() const {
  return transport_factory ? transport_factory(timeouts) : NewHostHttpTransport(timeouts, trust);
}

const Clock& ApiSettings::CurrentClock() const { return clock != nullptr ? *clock : SystemClock(); }

const ApiSettings& CurrentApiSettings() { return current_settings != nullptr ? *current_settings : DefaultSettings(); }

ScopedApiSettings::ScopedApiSettings(ApiSettings settings)
    : settings_(std::move(settings)), previous_(current_settings) {
  current_settings = &settings_;
}

ScopedApiSettings::~ScopedApiSettings() { current_settings = previous_; }

}  // namespace zendrel
