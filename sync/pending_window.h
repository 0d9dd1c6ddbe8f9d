// The committed pending rows of a campaign, read as a window over their numbers: how
// many there are after the send index, the highest one, and how far they run without a
// missing number. Below the first missing number nothing can still appear, so only a
// gap can call for a wait for the ERP's tills.
#pragma once

#include <cstdint>
#include <optional>

#include "erp/connection.h"
#include "sync/pending_holders.h"

namespace zendrel {

struct PendingWindow {
  std::int64_t after = 0;  // the send index the window starts after
  std::int64_t count = 0;  // committed rows numbered above `after`
  // The highest committed number above `after` (nothing: no such row).
  std::optional<std::int64_t> highest;
  // Every number from `after` + 1 up to this one is a committed row (`after` itself
  // when `after` + 1 is missing).
  std::int64_t consecutive_up_to = 0;

  // Whether a number between `after` and `highest` is missing: it may be a movement
  // that a till has inserted and not yet committed.
  bool HasGap() const { return highest.has_value() && count < *highest - after; }
};

// Reads the window in one statement for the count and the highest number, and a second
// one for the consecutive run only when there is a gap. Throws DatabaseError.
PendingWindow ReadPendingWindow(Connection& connection, const PendingTable& table, std::int64_t after);

}  // namespace zendrel
