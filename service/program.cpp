// The program's modes: install, uninstall, the status report, one cycle now, or the
// service itself.
#include "service/program.h"

#include <iostream>
#include <string>
#include <vector>

#include <fmt/format.h>

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

// Why a cycle of the ONCE mode cannot count as done (none when it does): it must
// have run on the database server, connected, run every campaign that is on to its
// end, and logged nothing.
std::vector<std::string> OnceFailures(const CycleOutcome& cycle, const CycleState& state, std::size_t log_entries) {
  std::vector<std::string> reasons;
  // A cycle that failed before its server check: the exception says why.
  if (cycle.server_checked && !cycle.server.is_server()) {
    reasons.push_back("não é o servidor do banco de dados (Servidor=" + cycle.server.servidor + ", " +
                      cycle.server.Reason() + "): o ciclo não fez nada");
  } else if (cycle.server_checked && !cycle.connected) {
    // The cause of the last attempt, which the log's line does not say.
    reasons.push_back("o banco de dados não foi alcançado" +
                      (state.error.empty() ? std::string() : ": " + state.error));
  } else if (cycle.campaigns_run < cycle.campaigns_on) {
    reasons.push_back(fmt::format("{} de {} campanhas ligadas não chegaram ao fim",
                                  cycle.campaigns_on - cycle.campaigns_run, cycle.campaigns_on));
  }
  if (log_entries > 0) {
    reasons.push_back(
        fmt::format("o ciclo escreveu {} {} no log (acima)", log_entries, log_entries == 1 ? "entrada" : "entradas"));
  }
  return reasons;
}

// What an interrupted ONCE run says, on standard error and in the log: where it
// ended, and that the requests after the first changed nothing.
std::string InterruptionText(const RunStop& stop, int requests) {
  std::string text = stop.last_movement
                         ? fmt::format("interrompido depois do movimento {} de {}, com o seu índice de envio gravado",
                                       *stop.last_movement, stop.last_campaign)
                         : std::string("interrompido antes de gravar o índice de envio de qualquer movimento");
  text += "; o restante fica para a próxima execução";
  if (requests > 1) {
    text +=
        fmt::format(" ({} {} de interrupção depois do primeiro, enquanto o envio em andamento terminava, não {} nada)",
                    requests - 1, requests == 2 ? "pedido" : "pedidos", requests == 2 ? "mudou" : "mudaram");
  }
  return text;
}

// Runs one poll cycle exactly as a tick does, echoing its log entries to standard
// output. Exit status 0 only when the cycle did all its work and logged nothing;
// otherwise 1, with the reasons on standard error. A stop request (Ctrl+C, a
// termination signal, a closed console) ends the cycle between two movements, as a
// stopping service's cycle would end: the posting in flight is answered and its index
// written first.
int RunOnce(TSrvZendrel& module, MainLoop& loop) {
  loop.QuitOnStopRequest(nullptr);
  module.EndCyclesBetweenMovementsWhen([&loop] { return loop.StopRequests() > 0; });
  std::size_t log_entries = 0;
  SetLogEcho([&log_entries](const std::string& entry) {
    ++log_entries;
    std::cout << entry << std::endl;
  });
  std::vector<std::string> reasons;
  try {
    module.Timer1Timer();
  } catch (const std::exception& e) {
    reasons.push_back(std::string("o ciclo terminou com um erro: ") + e.what());
    try {
      module.ManipulaExcecoes(e);
    } catch (const std::exception& log_failure) {
      reasons.push_back(std::string("o log não pôde ser escrito: ") + log_failure.what());
      ReportHostEvent(EventSource(), log_failure.what());
    }
  }
  SetLogEcho(nullptr);
  if (const int requests = loop.StopRequests(); requests > 0) {
    // The interruption is the verdict: what the cycle left undone is left for the
    // next run on purpose.
    const std::string interruption = InterruptionText(module.run_stop(), requests);
    for (const std::string& reason : reasons) std::cerr << "Zendrel -once: " << reason << std::endl;
    std::cerr << "Zendrel -once: " << interruption << std::endl;
    try {
      DoSaveLog("Zendrel -once: " + interruption);
    } catch (const std::exception& log_failure) {
      ReportHostEvent(EventSource(), log_failure.what());
    }
    return 1;
  }
  if (!module.last_cycle().database_held.empty()) {
    // As when another run holds this folder: one line, and nothing done.
    std::cerr << module.last_cycle().database_held << std::endl;
    return 1;
  }
  for (std::string& reason : OnceFailures(module.last_cycle(), module.last_cycle_state(), log_entries))
    reasons.push_back(std::move(reason));
  for (const std::string& reason : reasons) std::cerr << "Zendrel -once: " << reason << std::endl;
  return reasons.empty() ? 0 : 1;
}

// The one relay of the installation, or nullptr after saying why there is none: a
// "-once" prints one line, a second service process writes one log line.
std::unique_ptr<RelayLock> TakeRelayLock(ProgramMode mode, const LockPlace& place) {
  std::string refusal;
  try {
    if (auto lock = TryTakeRelayLock(ExecutableFolder(), place)) return lock;
    refusal = mode == ProgramMode::Once
                  ? "O serviço " + std::string(kServiceName) +
                        " (ou outra execução do Zendrel desta pasta) já está em execução; nada foi feito. "
                        "Para parar o serviço: " +
                        ServiceStopCommand()
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
  // Only the relay's own modes take stop requests in a loop.
  if (line.mode != ProgramMode::Once && line.mode != ProgramMode::Service) LetStopRequestsEndTheProcess();
  auto host = CreateServiceHost(host_options);
  switch (line.mode) {
    case ProgramMode::Install: return host->Install(line.silent);
    case ProgramMode::Uninstall: return host->Uninstall(line.silent);
    case ProgramMode::Status:
      // No module: the report holds its own read-only attachment, and no timer runs.
      return ReportStatus(
          module_settings.settings_folder.empty() ? ExecutableFolder() : module_settings.settings_folder,
          SystemHostIdentity(), CurrentApiSettings(), std::cout, line.json ? StatusFormat::kJson : StatusFormat::kText);
    case ProgramMode::Once:
    case ProgramMode::Service: break;
  }

  // Held until the process ends: two relays would read the same send index and post
  // the same movements twice.
  const std::unique_ptr<RelayLock> relay_lock = TakeRelayLock(line.mode, module_settings.locks);
  if (!relay_lock) {
    LetStopRequestsEndTheProcess();
    return line.mode == ProgramMode::Service ? host->RefuseRun() : 1;
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
  if (line.mode == ProgramMode::Once) return RunOnce(module, *loop);
  return host->Run(*module.Timer1, *loop);
}

}  // namespace zendrel
