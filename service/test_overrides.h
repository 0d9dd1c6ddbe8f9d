// Settings a test build of the program takes from its environment, so that tests need
// not wait minutes for a tick. One definition per build: test_overrides.cpp in the test
// build, no_test_overrides.cpp (which changes nothing) in the shipped program, so the
// shipped program never reads them.
#pragma once

#include "service/service_host.h"
#include "service/service_module.h"

namespace zendrel {

// ZENDREL_TEST_FIRST_INTERVAL_MS, ZENDREL_TEST_INTERVAL_MS, ZENDREL_TEST_RECONNECT_PAUSE_MS,
// ZENDREL_TEST_LOCK_TIMEOUT_S, ZENDREL_TEST_SETTINGS_LOCK_TIMEOUT_S, ZENDREL_TEST_HTTP_TIMEOUT_MS,
// ZENDREL_TEST_PLAIN_PENDING_READ (1: no wait for holders), ZENDREL_TEST_UNIT_DIR,
// ZENDREL_TEST_SETTINGS_DIR, ZENDREL_TEST_SLOW_CYCLE_MS, and ZENDREL_TEST_NOW
// ("YYYY-MM-DD HH:MM:SS": a clock that stands still there for the cycle and its
// postings; the log keeps the real time).
void ApplyTestOverrides(ModuleSettings& module_settings, ServiceHostOptions& host_options);

}  // namespace zendrel
