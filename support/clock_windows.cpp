// The host's real clock on Windows: the local time of the machine's time zone.
#include <windows.h>

#include "support/clock.h"

namespace zendrel {
namespace {

class WindowsSystemClock final : public Clock {
 public:
  DateTime Now() const override {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return DateTime{local.wYear,   local.wMonth,  local.wDay,         local.wHour,
                    local.wMinute, local.wSecond, local.wMilliseconds};
  }
};

}  // namespace

const Clock& SystemClock() {
  static const WindowsSystemClock clock;
  return clock;
}

}  // namespace zendrel
