// The clock seam: "now" in the host's local time. Tests pass a fixed clock.
#pragma once

#include "support/date_time.h"

namespace zendrel {

class Clock {
 public:
  virtual ~Clock() = default;

  // The current local date and time of the host (honouring TZ on Linux).
  virtual DateTime Now() const = 0;

  // Today at 00:00:00.
  DateTime Today() const { return Now().DatePart(); }
};

// The host's real clock; lives for the whole process.
const Clock& SystemClock();

// A clock that always answers the moment it was given; for tests.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(DateTime now) : now_(now) {}
  DateTime Now() const override { return now_; }
  void Set(DateTime now) { now_ = now; }

 private:
  DateTime now_;
};

}  // namespace zendrel
