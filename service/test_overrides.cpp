// A test build of the program reads short schedules and time-outs from its environment.
#include "service/test_overrides.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "api/api_settings.h"
#include "support/log_file.h"

namespace zendrel {
namespace {

std::optional<long> EnvNumber(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::stol(value);
}

// "YYYY-MM-DD HH:MM:SS": a clock stopped at that local moment, so that postings'
// dates and the product refresh's day are known to the test.
std::optional<FixedClock> EnvClock(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  DateTime moment;
  if (std::sscanf(value, "%d-%d-%d %d:%d:%d", &moment.year, &moment.month, &moment.day, &moment.hour, &moment.minute,
                  &moment.second) != 6) {
    throw std::invalid_argument(std::string(name) + " is not YYYY-MM-DD HH:MM:SS: " + value);
  }
  return FixedClock(moment);
}

}  // namespace

void ApplyTestOverrides(ModuleSettings& module_settings, ServiceHostOptions& host_options) {
  using std::chrono::milliseconds;
  if (auto v = EnvNumber("ZENDREL_TEST_FIRST_INTERVAL_MS")) module_settings.first_interval = milliseconds(*v);
  if (auto v = EnvNumber("ZENDREL_TEST_INTERVAL_MS")) module_settings.interval = milliseconds(*v);
  if (auto v = EnvNumber("ZENDREL_TEST_RECONNECT_PAUSE_MS")) module_settings.erp.reconnect.pause = milliseconds(*v);
  if (auto v = EnvNumber("ZENDREL_TEST_LOCK_TIMEOUT_S"))
    module_settings.erp.pending_lock_timeout = std::chrono::seconds(*v);
  if (auto v = EnvNumber("ZENDREL_TEST_SETTINGS_LOCK_TIMEOUT_S")) {
    module_settings.erp.settings_lock_timeout = std::chrono::seconds(*v);
  }
  if (auto v = EnvNumber("ZENDREL_TEST_PLAIN_PENDING_READ")) module_settings.erp.settle_pending_holders = *v == 0;
  if (const char* dir = std::getenv("ZENDREL_TEST_UNIT_DIR")) host_options.unit_folder = dir;
  if (const char* dir = std::getenv("ZENDREL_TEST_SETTINGS_DIR")) module_settings.settings_folder = dir;
  if (const char* dir = std::getenv("ZENDREL_TEST_LOCK_FOLDER")) module_settings.locks.folder = dir;
  if (const char* user = std::getenv("ZENDREL_TEST_SERVICE_USER")) module_settings.locks.service_user = user;
  if (auto v = EnvNumber("ZENDREL_TEST_SLOW_CYCLE_MS")) {
    // Each cycle says in the log that it began, then takes this long before its work.
    const milliseconds pause(*v);
    module_settings.at_cycle_start = [pause] {
      DoSaveLog("Ciclo lento de teste: início");
      std::this_thread::sleep_for(pause);
    };
  }
  // Both live until the process ends, like the module and the calls they govern.
  static std::optional<FixedClock> clock;
  static std::optional<ScopedApiSettings> api_scope;
  clock = EnvClock("ZENDREL_TEST_NOW");
  const auto http_timeout = EnvNumber("ZENDREL_TEST_HTTP_TIMEOUT_MS");
  if (clock) module_settings.clock = &*clock;
  if (clock || http_timeout) {
    ApiSettings api;
    if (clock) api.clock = &*clock;
    if (http_timeout) {
      const int ms = static_cast<int>(*http_timeout);
      api.timeouts = HttpTimeouts{ms, ms, ms, ms};
    }
    api_scope.emplace(api);
  }
}

}  // namespace zendrel
