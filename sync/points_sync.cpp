// The customer points campaign: every movement after the send index, one posting each,
// in movement order, moving the index on after each accepted one and stopping at the
// first refusal. The loop itself is the shared one (send_loop.h); what is the points
// campaign's own lives here.
#include <cstdint>
#include <string>

#include "api/brindex_calls.h"
#include "erp/query.h"
#include "erp/settings_row.h"
#include "support/conversions.h"
#include "sync/campaign_sync.h"
#include "sync/send_loop.h"
#include "sync/settings_columns.h"

namespace zendrel {

namespace {
// Posts the current points row; the row's fields are read in this order, so a row with
// several faults logs the same one every time.
PostAnswer PostPoints(const Query& row, const SettingsRow& settings) {
  const TTipoMovimento kind = StrtoTipoMovimento(row.Field("TIPOMOVIMENTO").AsString());
  const Currency valor = row.Field("VALOR").AsCurrency();
  const std::int32_t codigo = row.Field("IDENTIFICACAO_MOVIMENTO").AsInteger();
  const std::string cpf = row.Field("CPF").AsString();
  const std::string url = settings.Field(padrao::kUrlPontos).AsString();
  const TMovimentoPontos reply = LancaMovimentosPontos(url, cpf, codigo, kind, valor);
  return {reply.CodRetorno, reply.DescRetorno};
}
}  // namespace

void CampaignSync::EnviaMovimentoPontos() {
  ReportCampaignStart(TTipoCampanha::tcPontos, padrao::kIndicePontos);
  // An empty table means the campaign has nothing to do, not even a reset question.
  erp_.TBVerificaMovimentacao.Close();
  erp_.TBVerificaMovimentacao.Open();
  const bool has_movements = !erp_.TBVerificaMovimentacao.Eof();
  erp_.TBVerificaMovimentacao.Close();
  if (!has_movements) {
    ReportCampaignEnd(TTipoCampanha::tcPontos);
    return;
  }
  const std::int32_t last_sent = AtualizaIndiceEnvio(TTipoCampanha::tcPontos);
  if (last_sent == -1) {
    ReportCampaignEnd(TTipoCampanha::tcPontos);
    return;
  }

  const Query& pendentes = erp_.TBMovimentoPontos;
  const PendingSend send{
      .table = kPontosTable,
      .pending = erp_.TBMovimentoPontos,
      .index_column = padrao::kIndicePontos,
      .log_prefix = "MovimentoPontos: ",
      .post = [&] { return PostPoints(pendentes, erp_.TBPadrao); },
      // VP rows are never posted: the index just moves past them. Their type is read
      // outside the guard, so a row whose type cannot be read ends the cycle instead of
      // stopping only this campaign.
      .passes_unposted = [&] { return pendentes.Field("TIPOMOVIMENTO").AsString() == "VP"; },
      // Only this campaign lets the thread handle its waiting messages between two
      // movements; the poll timer is off meanwhile, so no second cycle starts.
      .after_row = message_pump_,
      .stop = stop_,
      .progress = progress_,
      .campaign = TTipoCampanha::tcPontos,
  };
  SendPending(erp_, last_sent, send);
  ReportCampaignEnd(TTipoCampanha::tcPontos);
}

}  // namespace zendrel
