// Settings a test build of the program takes from its environment, so that tests need
// not wait minutes for a tick. The shipped program never reads them.
#pragma once

#include "service/service_host.h"
#include "service/service_module.h"

namespace zendrel {

// ZENDREL_TEST_FIRST_INTERVAL_MS, ZENDREL_TEST_INTERVAL_MS, ZENDREL_TEST_RECONNECT_PAUSE_MS,
// ZENDREL_TEST_LOCK_TIMEOUT_S, ZENDREL_TEST_HTTP_TIMEOUT_MS, ZENDREL_TEST_UNIT_DIR,
// ZENDREL_TEST_SETTINGS_DIR.
void ApplyTestOverrides(ModuleSettings& module_settings, ServiceHostOptions& host_options);

}  // namespace zendrel
