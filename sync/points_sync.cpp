// The customer points campaign: every movement after the send index, one posting each,
// in movement order, moving the index on after each accepted one and stopping at the
// first refusal.
#include <cstdint>
#include <limits>
#include <string>

#include "api/brindex_calls.h"
#include "support/conversions.h"
#include "support/log_file.h"
#include "sync/campaign_sync.h"
#include "sync/pending_read.h"
#include "sync/settings_columns.h"

namespace zendrel {

namespace {
constexpr int kAccepted = 200;
constexpr const char* kLogPrefix = "MovimentoPontos: ";
}  // namespace

void CampaignSync::EnviaMovimentoPontos() {
  // An empty table means the campaign has nothing to do, not even a reset question.
  erp_.TBVerificaMovimentacao.Close();
  erp_.TBVerificaMovimentacao.Open();
  const bool has_movements = !erp_.TBVerificaMovimentacao.Eof();
  erp_.TBVerificaMovimentacao.Close();
  if (!has_movements) return;

  const std::int32_t UltimoMovimento = AtualizaIndiceEnvio(TTipoCampanha::tcPontos);
  if (UltimoMovimento == -1) return;

  std::int64_t highest = std::numeric_limits<std::int64_t>::max();
  // Where the read itself waits for a till, there is nothing to wait for first.
  if (erp_.settle_pending_holders && ReadCommittedPassesUncommittedInserts(erp_.Connquimero) &&
      !AwaitPendingSettled(erp_.Connquimero, kPontosTable, erp_.TransPendentes.lock_timeout(), kLogPrefix, highest)) {
    return;
  }

  Query& pendentes = erp_.TBMovimentoPontos;
  pendentes.Close();
  pendentes.SetInteger("MOVIMENTO", UltimoMovimento);
  if (!OpenPending(pendentes, kLogPrefix)) return;

  int Resposta = kAccepted;
  while (!pendentes.Eof() && Resposta == kAccepted) {
    // A later number may still have an uncommitted one below it: the next cycle.
    const std::int64_t movimento = pendentes.Field("MOVIMENTO").AsInteger();
    if (movimento > highest) break;
    const std::string tipo = pendentes.Field("TIPOMOVIMENTO").AsString();
    if (tipo == "VP") {
      // Never posted: the index just moves past it.
      erp_.TBPadrao.WriteInteger(padrao::kIndicePontos, pendentes.Field("MOVIMENTO").AsInteger());
    } else {
      try {
        const TTipoMovimento kind = StrtoTipoMovimento(tipo);
        const Currency valor = pendentes.Field("VALOR").AsCurrency();
        const std::int32_t codigo = pendentes.Field("IDENTIFICACAO_MOVIMENTO").AsInteger();
        const std::string cpf = pendentes.Field("CPF").AsString();
        const std::string url = erp_.TBPadrao.Field(padrao::kUrlPontos).AsString();
        const TMovimentoPontos LancaMovimento = LancaMovimentosPontos(url, cpf, codigo, kind, valor);
        Resposta = LancaMovimento.CodRetorno;
        if (Resposta == kAccepted) {
          erp_.TBPadrao.WriteInteger(padrao::kIndicePontos, pendentes.Field("MOVIMENTO").AsInteger());
        }
      } catch (const std::exception& e) {
        // The row stops the campaign until it is corrected; say why, or nobody will know.
        Resposta = -1;
        DoSaveLog(std::string(kLogPrefix) + e.what());
      }
    }
    // Reading on past the highest settled number could only wait for a later till.
    if (Resposta == kAccepted && movimento >= highest) break;
    if (Resposta == kAccepted && !NextPending(pendentes, kLogPrefix)) break;
    if (message_pump_) message_pump_();
  }
}

}  // namespace zendrel
