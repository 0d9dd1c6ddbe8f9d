// The service's state on Linux: "systemctl is-active SrvZendrel" and "systemctl
// is-enabled SrvZendrel", read from their standard output (their exit status only
// says "not active" or "not enabled", which the words tell apart better).
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "service/service_host.h"
#include "service/service_state.h"

namespace zendrel {
namespace {

struct PipeCloser {
  void operator()(FILE* pipe) const { ::pclose(pipe); }
};

// The first line of the command's standard output; empty when it printed nothing or
// could not run. Its standard error (the "not booted with systemd" of a container)
// is left out.
std::string FirstLine(const std::string& command) {
  std::unique_ptr<FILE, PipeCloser> pipe(::popen((command + " 2>/dev/null").c_str(), "r"));
  if (!pipe) return {};
  std::string output;
  std::array<char, 256> buffer{};
  while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get()) != nullptr) output += buffer.data();
  const std::size_t end = output.find('\n');
  return output.substr(0, end);
}

// Seconds since the unit entered the active state: systemd's monotonic timestamp of
// that moment against the system's uptime (both from boot).
std::optional<std::int64_t> ActiveFor(const std::string& unit) {
  const std::string entered = FirstLine("systemctl show --property=ActiveEnterTimestampMonotonic --value " + unit);
  std::ifstream uptime_file("/proc/uptime");
  double uptime_s = 0;
  if (entered.empty() || !(uptime_file >> uptime_s)) return std::nullopt;
  try {
    const long long entered_us = std::stoll(entered);
    if (entered_us <= 0) return std::nullopt;
    return static_cast<std::int64_t>(uptime_s) - entered_us / 1000000;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

class SystemdServiceStateProbe final : public ServiceStateProbe {
 public:
  ServiceState Query() const override {
    const std::string unit = std::string(kServiceName);
    const std::string active = FirstLine("systemctl is-active " + unit);
    const std::string enabled = FirstLine("systemctl is-enabled " + unit);
    ServiceState state;
    if (active.empty() && enabled.empty()) {
      state.detail = "o systemd não respondeu (systemctl ausente, ou este sistema não roda o systemd)";
      return state;
    }
    state.known = true;
    // A unit that systemd cannot find has no enablement state at all.
    state.installed = !enabled.empty() && enabled != "not-found";
    state.running = active == "active" || active == "reloading" || active == "activating";
    if (state.running) state.running_for_s = ActiveFor(unit);
    state.detail = fmt::format("is-active: {}, is-enabled: {}", active.empty() ? "?" : active,
                               enabled.empty() ? "(unidade não encontrada)" : enabled);
    return state;
  }
};

}  // namespace

std::unique_ptr<ServiceStateProbe> NewHostServiceStateProbe() { return std::make_unique<SystemdServiceStateProbe>(); }

}  // namespace zendrel
