// How the host's service manager installs, removes and runs the service: systemd on
// Linux, the Service Control Manager on Windows.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "service/main_loop.h"

namespace zendrel {

inline constexpr const char* kServiceName = "SrvZendrel";
inline constexpr const char* kServiceDisplayName = "Zendrel - Serviço para envio do porntos";

struct ServiceHostOptions {
  // Linux: where the unit file goes; empty means /etc/systemd/system. A test points it
  // at a temporary folder (and then systemctl is not called).
  std::filesystem::path unit_folder;
};

class ServiceHost {
 public:
  virtual ~ServiceHost() = default;

  // Registers the service to start at boot with this executable, no arguments (on
  // Linux also: the service's system user, made when missing, and the owners and modes
  // of the executable's folder and its files). Prints the success message unless
  // `silent`; a failure is always reported. Returns the process's exit status.
  virtual int Install(bool silent) = 0;

  // Removes the registration (a running service is not stopped).
  virtual int Uninstall(bool silent) = 0;

  // Runs the service: switches the poll timer (the module's Timer1) on, lets the main
  // loop deliver its ticks until the service manager asks it to stop, switches the
  // timer off and returns once any cycle in progress has finished. Returns the
  // process's exit status.
  virtual int Run(PollTimer& timer, MainLoop& loop) = 0;

  // A service process that may not run (another relay of this folder holds the lock)
  // tells the service manager that its start failed, so that the manager's recovery
  // tries again later. Returns the process's exit status (non-zero).
  virtual int RefuseRun() = 0;
};

std::unique_ptr<ServiceHost> CreateServiceHost(ServiceHostOptions options = {});

}  // namespace zendrel
