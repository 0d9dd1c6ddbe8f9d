// The first pending movement of a campaign and its refusal in the log.
#include "service/stuck_campaign.h"

#include <fmt/format.h>

#include "service/cycle_state.h"
#include "service/failure_causes.h"

#include "erp/query.h"
#include "support/log_file.h"

namespace zendrel {
namespace {

// The rows the send loops would read first, in their order.
constexpr const char* kFirstPontos =
    "SELECT FIRST 1 MOVIMENTO, DATA, CPF, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO FROM BRINDEX_PONTOS "
    "WHERE MOVIMENTO > :MOVIMENTO ORDER BY MOVIMENTO";
constexpr const char* kFirstTopVendas =
    "SELECT FIRST 1 O.SEQUENCIAL, O.DATA, O.CODIGOPRODUTO, O.CODIGOMOVIMENTO, F.CPF FROM BRINDEX_MOV_TOPVENDAS O "
    "INNER JOIN FUNCIONARIOS F ON O.VENDEDOR = F.CODIGO WHERE O.SEQUENCIAL > :SEQUENCIAL ORDER BY O.SEQUENCIAL";

// The pending-read step's own line when a till holds the rows: not the platform's.
constexpr std::string_view kHeldByErp = "Movimentos pendentes presos por uma transação do ERP";

std::string DayText(const DateTime& day) { return FormatLogTimestamp(day).substr(0, 10); }

std::string OrNone(const std::string& text) { return text.empty() ? "(vazio)" : text; }

// The moment of an entry "DD/MM/YYYY HH:mm:ss - ...", or nullopt.
std::optional<DateTime> EntryMoment(std::string_view entry) { return ParseLogTimestamp(entry.substr(0, 19)); }

}  // namespace

std::optional<FirstPending> ReadFirstPending(Connection& connection, Transaction& read_only, bool top_sales,
                                             std::int32_t index) {
  Query query(connection, read_only);
  query.SetSQL(top_sales ? kFirstTopVendas : kFirstPontos);
  query.SetInteger(top_sales ? "SEQUENCIAL" : "MOVIMENTO", index);
  query.Open();
  if (query.Eof()) {
    query.Close();
    return std::nullopt;
  }
  FirstPending first;
  first.day = query.Field("DATA").AsDateTime().DatePart();
  first.number = query.Field(top_sales ? "SEQUENCIAL" : "MOVIMENTO").AsInteger();
  if (top_sales) {
    first.description = fmt::format("sequencial {} de {}, produto {}, CPF do vendedor {}, movimento {}",
                                    query.Field("SEQUENCIAL").AsString(), DayText(first.day),
                                    OrNone(query.Field("CODIGOPRODUTO").AsString()),
                                    OrNone(query.Field("CPF").AsString()), query.Field("CODIGOMOVIMENTO").AsString());
  } else {
    first.description =
        fmt::format("movimento {} de {}, CPF {}, tipo {}, identificação {}", query.Field("MOVIMENTO").AsString(),
                    DayText(first.day), OrNone(query.Field("CPF").AsString()),
                    OrNone(query.Field("TIPOMOVIMENTO").AsString()), query.Field("IDENTIFICACAO_MOVIMENTO").AsString());
  }
  query.Close();
  return first;
}

std::optional<std::string> LastRefusal(const std::vector<std::string>& entries, std::string_view prefix,
                                       const DateTime& since) {
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    const std::size_t dash = entry->find(" - ");
    if (dash == std::string::npos) continue;
    const std::string_view message = std::string_view(*entry).substr(dash + 3);
    if (!message.starts_with(prefix)) continue;
    const std::optional<DateTime> moment = EntryMoment(*entry);
    // Older than the cycle that stopped at the movement: about another one.
    if (!moment || *moment < since) return std::nullopt;
    const std::string_view text = message.substr(prefix.size());
    if (text.starts_with(kHeldByErp)) continue;
    return entry->substr(0, dash) + " - " + std::string(text);
  }
  return std::nullopt;
}

Retention JudgeRetention(const CycleStateRead& last_cycle, bool top_sales, std::int64_t first_pending) {
  if (!last_cycle.state) {
    return {false, last_cycle.found
                       ? "não se sabe: o registro do último ciclo não pôde ser lido (" + last_cycle.error + ")"
                       : "não se sabe: não há registro de um ciclo (Zendrel.state) nesta pasta"};
  }
  const CampaignRun& run = top_sales ? last_cycle.state->top_vendas : last_cycle.state->pontos;
  const CampaignStop& stop = run.stop;
  if (!run.ran) return {false, "não: o último ciclo não executou esta campanha; ainda não tentado"};
  if (stop.kind == CampaignStopKind::kHeldByTill) {
    return {false,
            "não: o último ciclo parou porque uma transação do ERP prendia os movimentos; o próximo ciclo "
            "tenta de novo"};
  }
  if (!stop.movement || *stop.movement != first_pending) {
    return {false, "não: ainda não tentado (o próximo ciclo começa por este movimento)"};
  }
  switch (stop.kind) {
    case CampaignStopKind::kRefused:
      return {true, fmt::format("sim: a plataforma recusou este movimento no último ciclo ({}); o serviço tenta este "
                                "movimento em cada ciclo e não envia os seguintes até que ele seja corrigido no ERP "
                                "ou um reset da plataforma passe por ele",
                                HttpStatusMeaning(stop.status))};
    case CampaignStopKind::kUnreadable:
      return {true, "sim: o serviço não consegue enviar este movimento (" + stop.message +
                        "); não envia os seguintes até que ele seja corrigido no ERP"};
    case CampaignStopKind::kTransport:
      return {false,
              "não: o último ciclo parou neste movimento por falha de comunicação, sem recusa; o próximo "
              "ciclo tenta de novo"};
    case CampaignStopKind::kIndexNotWritten:
      return {false,
              "não: a plataforma aceitou este movimento no último ciclo, mas o índice de envio não foi gravado (" +
                  stop.message + "); o próximo ciclo o envia de novo"};
    case CampaignStopKind::kNone:
    case CampaignStopKind::kHeldByTill: break;
  }
  return {false, "não: ainda não tentado (o próximo ciclo começa por este movimento)"};
}

}  // namespace zendrel
