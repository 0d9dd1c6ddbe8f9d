// A test build of the program reads short schedules and time-outs from its environment.
#include "service/test_overrides.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "api/api_settings.h"

namespace zendrel {
namespace {

std::optional<long> EnvNumber(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::stol(value);
}

}  // namespace

void ApplyTestOverrides(ModuleSettings& module_settings, ServiceHostOptions& host_options) {
  using std::chrono::milliseconds;
  if (auto v = EnvNumber("ZENDREL_TEST_FIRST_INTERVAL_MS")) module_settings.first_interval = milliseconds(*v);
  if (auto v = EnvNumber("ZENDREL_TEST_INTERVAL_MS")) module_settings.interval = milliseconds(*v);
  if (auto v = EnvNumber("ZENDREL_TEST_RECONNECT_PAUSE_MS")) module_settings.erp.reconnect.pause = milliseconds(*v);
  if (auto v = EnvNumber("ZENDREL_TEST_LOCK_TIMEOUT_S")) module_settings.erp.pending_lock_timeout = std::chrono::seconds(*v);
  if (const char* dir = std::getenv("ZENDREL_TEST_UNIT_DIR")) host_options.unit_folder = dir;
  if (const char* dir = std::getenv("ZENDREL_TEST_SETTINGS_DIR")) module_settings.settings_folder = dir;
  if (auto v = EnvNumber("ZENDREL_TEST_HTTP_TIMEOUT_MS")) {
    // Lives until the process ends, like the calls it governs.
    static std::optional<ScopedApiSettings> api_scope;
    ApiSettings api;
    const int ms = static_cast<int>(*v);
    api.timeouts = HttpTimeouts{ms, ms, ms, ms};
    api_scope.emplace(api);
  }
}

}  // namespace zendrel
