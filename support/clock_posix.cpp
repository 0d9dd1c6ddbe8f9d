// The host's real clock on POSIX: local time as the TZ environment sets it.
#include <time.h>

#include <cerrno>
#include <system_error>

#include "support/clock.h"

namespace zendrel {
namespace {

class PosixSystemClock final : public Clock {
 public:
  DateTime Now() const override {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
      throw std::system_error(errno, std::generic_category(), "clock_gettime");
    }
    tm local{};
    // localtime_r does not promise to read TZ again; tzset makes a changed TZ count.
    tzset();
    if (localtime_r(&now.tv_sec, &local) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "localtime_r");
    }
    // A leap second (tm_sec 60) is no valid time of day for the ERP or the platform.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    return DateTime{local.tm_year + 1900,
                    local.tm_mon + 1,
                    local.tm_mday,
                    local.tm_hour,
                    local.tm_min,
                    second,
                    static_cast<int>(now.tv_nsec / 1000000)};
  }
};

}  // namespace

const Clock& SystemClock() {
  static const PosixSystemClock clock;
  return clock;
}

}  // namespace zendrel
