// The service's state and its last cycle, for the status report.
#include "service/status_last_cycle.h"

#include <fmt/format.h>

#include "service/failure_causes.h"
#include "service/relay_lock.h"
#include "service/relay_lock_query.h"

namespace zendrel {
namespace {

std::string IndexText(const std::optional<std::int64_t>& index) { return index ? std::to_string(*index) : "vazio"; }

std::string AgeText(std::int64_t seconds) {
  if (seconds < 0) return "no futuro (o relógio mudou?)";
  if (seconds < 120) return fmt::format("há {} s", seconds);
  if (seconds < 2 * 3600) return fmt::format("há {} min", seconds / 60);
  if (seconds < 2 * 86400) return fmt::format("há {} h", seconds / 3600);
  return fmt::format("há {} dias", seconds / 86400);
}

std::string EndText(const CycleState& state) {
  switch (state.end) {
    case CycleEnd::kRunning: return "em andamento (ou o processo terminou no meio do ciclo)";
    case CycleEnd::kDone: return "concluído";
    case CycleEnd::kNotServer: return "nada feito: este computador não era o servidor do banco";
    case CycleEnd::kDatabaseUnreachable:
      return "o banco de dados não foi alcançado" + (state.error.empty() ? std::string() : ": " + state.error);
    case CycleEnd::kDatabaseHeld: return "nada feito: " + state.error;
    case CycleEnd::kInterrupted: return "interrompido entre dois movimentos (o restante fica para o ciclo seguinte)";
    case CycleEnd::kError: return "terminou com um erro: " + state.error;
  }
  return {};
}

std::string StopText(const CampaignStop& stop) {
  const std::string movement = stop.movement ? fmt::format("movimento {}", *stop.movement) : "movimento";
  switch (stop.kind) {
    case CampaignStopKind::kNone: return "em nenhum movimento: enviou tudo o que podia";
    case CampaignStopKind::kRefused:
      return fmt::format("{}: recusado pela plataforma, HTTP {}\n{}", movement, HttpStatusMeaning(stop.status),
                         stop.message.empty() ? "(sem mensagem)" : "mensagem: " + stop.message);
    case CampaignStopKind::kTransport:
      return fmt::format("{}: sem resposta utilizável da plataforma\n{}", movement,
                         stop.transport.empty() ? stop.message : stop.transport);
    case CampaignStopKind::kUnreadable: return fmt::format("{}: não pôde ser enviado\n{}", movement, stop.message);
    case CampaignStopKind::kIndexNotWritten:
      return fmt::format("{}: aceito, mas o índice de envio não foi gravado\n{}", movement, stop.message);
    case CampaignStopKind::kHeldByTill:
      return "movimentos presos por uma transação do ERP ainda aberta" +
             (stop.message.empty() ? std::string(" (a leitura esperou até o limite)") : "\n" + stop.message);
  }
  return {};
}

}  // namespace

std::vector<std::string> ReportService(StatusPrinter& print, const std::filesystem::path& folder,
                                       const CycleStateRead& last_cycle, const ServiceStateProbe& service,
                                       const Clock& clock) {
  print.Title("Serviço", "servico");
  const ServiceState state = service.Query();
  if (!state.known) {
    print.Line("Instalado", "não se sabe: " + state.detail);
    print.Line("Em execução", "não se sabe");
  } else {
    print.Line("Instalado", fmt::format("{} ({})", state.installed ? "sim" : "não", state.detail));
    print.Line("Em execução", state.running ? "sim" : "não");
  }
  const RelayLockLook lock = LookAtRelayLock(folder);
  print.Line("Relay com a trava agora", !lock.held   ? "não se sabe: " + lock.detail
                                        : *lock.held ? "sim (" + lock.detail + ")"
                                                     : "não (" + lock.detail + ")");

  const std::filesystem::path path = CycleStateFilePath(folder);
  const std::optional<CycleState>& cycle = last_cycle.state;
  std::optional<std::int64_t> record_age_s;
  if (!cycle) {
    print.Line("Último ciclo", last_cycle.found ? "registro ilegível (" + last_cycle.error + ")"
                                                : "nenhum registro (" + path.filename().string() + " não existe)");
  } else {
    print.Line("Último ciclo",
               fmt::format("início {}{}", FormatLogTimestamp(cycle->started),
                           cycle->ended ? ", fim " + FormatLogTimestamp(*cycle->ended) : std::string()));
    print.Line("Resultado do último ciclo", EndText(*cycle));
    record_age_s = SecondsBetween(cycle->updated, clock.Now());
    print.Line("Registro atualizado",
               fmt::format("{} ({})", AgeText(*record_age_s), FormatLogTimestamp(cycle->updated)));
  }
  // The program's own schedule on both hosts (systemd and the Service Control Manager
  // only start the process): the record says which one its writer used.
  const bool recorded_interval = cycle && cycle->interval_ms > 0;
  const std::int64_t interval_ms = recorded_interval ? cycle->interval_ms : kDefaultIntervalMs;
  if (cycle) {
    print.Line("Intervalo entre ciclos",
               fmt::format("{} s ({})", interval_ms / 1000,
                           recorded_interval ? "o do processo que gravou o registro" : "o padrão do programa"));
  }

  if (!state.known) {
    print.Line("Ciclos em dia", "não se sabe (o gerenciador de serviços não respondeu)");
    return {};
  }
  if (!state.running) {
    print.Line("Ciclos em dia", "não se aplica (o serviço não está em execução)");
    return {};
  }
  // Quiet since the newer of the record's last change and the service's start: a
  // service started a moment ago has not reached its first cycle yet.
  std::optional<std::int64_t> quiet_s = record_age_s;
  if (state.running_for_s && (!quiet_s || *state.running_for_s < *quiet_s)) quiet_s = state.running_for_s;
  if (!quiet_s) {
    print.Line("Ciclos em dia", "não se sabe (nenhum registro, e o início do serviço não é conhecido)");
    return {};
  }
  const std::int64_t limit_s = (2 * interval_ms + kPendingWaitMs) / 1000;
  if (*quiet_s <= limit_s) {
    print.Line("Ciclos em dia", "sim");
    return {};
  }
  print.Line("Ciclos em dia",
             fmt::format("não: o serviço está em execução, mas nenhum ciclo registrado {} (mais que dois intervalos "
                         "e a espera de 60 s, {} s)",
                         AgeText(*quiet_s), limit_s));
  return {
      fmt::format("o serviço está em execução, mas não registra um ciclo {}: pode estar preso numa chamada; "
                  "veja o log e reinicie o serviço",
                  AgeText(*quiet_s))};
}

void ReportCampaignLastCycle(StatusPrinter& print, const CycleStateRead& last_cycle, bool top_sales) {
  if (!last_cycle.state) {
    print.Line("Último ciclo", last_cycle.found ? "registro ilegível" : "sem registro");
    return;
  }
  const CampaignRun& run = top_sales ? last_cycle.state->top_vendas : last_cycle.state->pontos;
  if (!run.ran) {
    print.Line("Último ciclo", "não executou esta campanha");
    return;
  }
  print.Line("Último ciclo",
             fmt::format("índice {} → {}, {} {}{}", IndexText(run.index_before), IndexText(run.index_after),
                         run.accepted, run.accepted == 1 ? "movimento aceito" : "movimentos aceitos",
                         run.ended ? "" : "; interrompida por um erro (veja o resultado do ciclo)"));
  print.Line("Parou em", StopText(run.stop));
  if (!run.certificate_waived.empty()) {
    print.Line("Certificado da plataforma",
               "verificação dispensada: " + run.certificate_waived +
                   "; as chamadas seguiram sem verificá-lo (os CPFs enviados podem ser lidos por outro)");
  }
}

}  // namespace zendrel
