// The status report's lines on the service itself: whether it is installed and
// running, whether a relay holds the lock, what its last cycle did (from the state
// file) and whether it still cycles; and under each campaign, where its last cycle
// started, got to and stopped.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "service/cycle_state_file.h"
#include "service/service_state.h"
#include "service/status_printer.h"
#include "support/clock.h"

namespace zendrel {

// The interval the service waits after a cycle when no record says otherwise.
inline constexpr std::int64_t kDefaultIntervalMs = 900000;
// The longest wait of a cycle for a till's uncommitted movement, on top of the
// intervals in the stall rule: a cycle may spend it before it writes again.
inline constexpr std::int64_t kPendingWaitMs = 60000;

// The "Serviço" section. Returns the report's reasons to fail: a service that runs
// but whose record has not changed for more than two intervals plus the 60 s wait.
std::vector<std::string> ReportService(StatusPrinter& print, const std::filesystem::path& folder,
                                       const CycleStateRead& last_cycle, const ServiceStateProbe& service,
                                       const Clock& clock);

// The campaign's lines on the last cycle.
void ReportCampaignLastCycle(StatusPrinter& print, const CycleStateRead& last_cycle, bool top_sales);

}  // namespace zendrel
