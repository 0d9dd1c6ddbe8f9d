// The program's modes: install, uninstall, the status report, one cycle now, or the
// service itself.
#include "service/program.h"

#include <iostream>

#include "api/api_settings.h"
#include "erp/host_identity.h"
#include "service/command_line.h"
#include "service/event_log.h"
#include "service/status_report.h"
#include "support/executable_folder.h"
#include "support/log_file.h"

namespace zendrel {
namespace {

// The event log source for the process's own failures: the executable's file name.
std::string EventSource() {
  try {
    return ExecutablePath().filename().string();
  } catch (const std::exception&) {
    return kServiceName;
  }
}

// Runs one poll cycle exactly as a tick does, echoing its log entries to standard
// output. Exit status 0 when no exception left the cycle.
int RunOnce(TSrvZendrel& module) {
  SetLogEcho([](const std::string& entry) { std::cout << entry << std::endl; });
  int status = 0;
  try {
    module.Timer1Timer();
  } catch (const std::exception& e) {
    status = 1;
    try {
      module.ManipulaExcecoes(e);
    } catch (const std::exception& log_failure) {
      ReportHostEvent(EventSource(), log_failure.what());
    }
  }
  SetLogEcho(nullptr);
  return status;
}

}  // namespace

int RunProgram(const std::vector<std::string>& args, const ModuleSettings& module_settings,
               const ServiceHostOptions& host_options) {
  const CommandLine line = ParseCommandLine(args);
  auto host = CreateServiceHost(host_options);
  switch (line.mode) {
    case ProgramMode::Install:
      return host->Install(line.silent);
    case ProgramMode::Uninstall:
      return host->Uninstall(line.silent);
    case ProgramMode::Status:
      // No module: the report holds its own read-only attachment, and no timer runs.
      return ReportStatus(module_settings.settings_folder.empty() ? ExecutableFolder() : module_settings.settings_folder,
                          SystemHostIdentity(), CurrentApiSettings(), std::cout);
    case ProgramMode::Once:
    case ProgramMode::Service:
      break;
  }

  auto loop = CreateMainLoop();
  TSrvZendrel module(*loop, module_settings);
  // A failure of the process-wide handler itself (the log cannot be written) goes to
  // the host's event log; the service keeps running.
  loop->SetExceptionHandler([&module](const std::exception& e) {
    try {
      module.ManipulaExcecoes(e);
    } catch (const std::exception& log_failure) {
      ReportHostEvent(EventSource(), log_failure.what());
    }
  });
  if (line.mode == ProgramMode::Once) return RunOnce(module);
  return host->Run(module, *loop);
}

}  // namespace zendrel
