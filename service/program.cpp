// The program's modes: install, uninstall, the status report, one cycle now, or the
// service itself.
#include "service/program.h"

#include <iostream>

#include "api/api_settings.h"
#include "erp/host_identity.h"
#include "service/command_line.h"
#include "service/event_log.h"
#include "service/relay_lock.h"
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

// The one relay of the installation, or nullptr after saying why there is none: a
// "-once" prints one line, a second service process writes one log line.
std::unique_ptr<RelayLock> TakeRelayLock(ProgramMode mode) {
  std::string refusal;
  try {
    if (auto lock = TryTakeRelayLock(ExecutableFolder())) return lock;
    refusal = mode == ProgramMode::Once
                  ? "O serviço " + std::string(kServiceName) +
                        " (ou outra execução do Zendrel desta pasta) já está em execução; nada foi feito. "
                        "Para parar o serviço: " + ServiceStopCommand()
                  : "Outra execução do Zendrel desta pasta já está em andamento; este processo termina sem "
                    "fazer nada";
  } catch (const std::exception& e) {
    refusal = e.what();
  }
  if (mode == ProgramMode::Once) {
    std::cerr << refusal << std::endl;
    return nullptr;
  }
  try {
    DoSaveLog(refusal);
  } catch (const std::exception& log_failure) {
    ReportHostEvent(EventSource(), log_failure.what());
  }
  return nullptr;
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

  // Held until the process ends: two relays would read the same send index and post
  // the same movements twice.
  const std::unique_ptr<RelayLock> relay_lock = TakeRelayLock(line.mode);
  if (!relay_lock) return 1;

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
