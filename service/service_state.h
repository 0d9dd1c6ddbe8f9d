// Whether the service is installed and running, as the host's service manager sees
// it: systemd on Linux ("systemctl is-active" and "is-enabled"), the Service Control
// Manager on Windows. For -status, which must tell a service that runs from one that
// was stopped by hand or never installed. One implementation per host:
// service_state_posix.cpp, service_state_windows.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace zendrel {

struct ServiceState {
  bool known = false;      // the service manager answered; otherwise `detail` says why not
  bool installed = false;  // the service is registered
  bool running = false;    // the service manager counts it as running (or starting)
  std::string detail;      // the manager's own words ("active, enabled", "SERVICE_STOPPED, automático")
  // How long the running service has been running, when the manager says; a service
  // that has just started has not reached its first cycle yet.
  std::optional<std::int64_t> running_for_s;
};

class ServiceStateProbe {
 public:
  virtual ~ServiceStateProbe() = default;

  // Asks the service manager about the service SrvZendrel. Never throws: a manager
  // that cannot be asked gives known = false.
  virtual ServiceState Query() const = 0;
};

// The host's probe.
std::unique_ptr<ServiceStateProbe> NewHostServiceStateProbe();

}  // namespace zendrel
