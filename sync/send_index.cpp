// The send index of each campaign and the platform's remote reset: ask whether a reset
// is pending, apply it, acknowledge it, and start the top-sales campaign on its first run.
#include <string>

#include "api/brindex_calls.h"
#include "erp/statements.h"
#include "support/log_file.h"
#include "support/text.h"
#include "sync/campaign_sync.h"
#include "sync/settings_columns.h"

namespace zendrel {

namespace {
// The platform's answer that it has taken the acknowledgement of a reset.
constexpr int kResetAccepted = 202;
}  // namespace

CampaignSync::CampaignSync(ErpComponents& erp, const Clock& clock, std::function<void()> message_pump, RunStop* stop)
    : erp_(erp), clock_(clock), message_pump_(std::move(message_pump)), stop_(stop) {}

std::int32_t CampaignSync::AtualizaIndiceEnvio(TTipoCampanha TipoCampanha) {
  return TipoCampanha == TTipoCampanha::tcPontos ? AtualizaIndicePontos() : AtualizaIndiceTopVendas();
}

std::int32_t CampaignSync::AtualizaIndicePontos() {
  const std::string url = erp_.TBPadrao.Field(padrao::kUrlPontos).AsString();
  const TStatusReset status = StatusReset(url);
  if (!TrimControlsAndSpaces(status.Uri).empty()) {
    // The rewind position is found before acknowledging, so that a database failure
    // here leaves the reset unacknowledged and the platform asks again.
    erp_.TBUltimoMovimento.Close();
    erp_.TBUltimoMovimento.SetDate("DATA", status.Data);
    erp_.TBUltimoMovimento.Open();
    const std::int32_t rewind_to = erp_.TBUltimoMovimento.Field("MOVIMENTO").AsInteger();
    erp_.TBUltimoMovimento.Close();

    const TReset ack = Reset(url, status.Uri);
    if (ack.CodRetorno == kResetAccepted) {
      erp_.TBPadrao.WriteInteger(padrao::kIndicePontos, rewind_to);
      ReportIndexWritten(TTipoCampanha::tcPontos, padrao::kIndicePontos);
    }
  }
  return erp_.TBPadrao.Field(padrao::kIndicePontos).AsInteger();
}

std::int32_t CampaignSync::AtualizaIndiceTopVendas() {
  const std::string url = erp_.TBPadrao.Field(padrao::kUrlTopVendas).AsString();
  const TStatusReset status = StatusReset(url);
  const bool never_started = erp_.TBPadrao.Field(padrao::kIndiceTopVendas).AsString().empty();

  if (!TrimControlsAndSpaces(status.Uri).empty()) {
    // The reset is applied before it is acknowledged, and committed only once the
    // platform took the acknowledgement: a database failure leaves it unacknowledged.
    RecarregaMovimentosTopVendas(status.Data);
    const TReset ack = Reset(url, status.Uri);
    if (ack.CodRetorno == kResetAccepted) {
      // Starting the campaign here keeps a later first run from deleting the rebuilt
      // rows before they were sent.
      if (ConfirmaComandos() && never_started) {
        erp_.TBPadrao.WriteInteger(padrao::kIndiceTopVendas, 0);
        ReportIndexWritten(TTipoCampanha::tcVendedor, padrao::kIndiceTopVendas);
      }
    } else {
      erp_.TRComandos.Rollback();
    }
  } else if (never_started) {
    // Only a committed rebuild starts the campaign; otherwise the next cycle tries the
    // first run again instead of sending every old movement of the table.
    if (CargaInicial(clock_.Today())) {
      erp_.TBPadrao.WriteInteger(padrao::kIndiceTopVendas, 0);
      ReportIndexWritten(TTipoCampanha::tcVendedor, padrao::kIndiceTopVendas);
    }
  }
  // Still never started (the first run's rebuild did not commit): the table may hold
  // every old movement, so nothing is sent until a first run has committed.
  if (erp_.TBPadrao.Field(padrao::kIndiceTopVendas).AsString().empty()) return -1;
  return erp_.TBPadrao.Field(padrao::kIndiceTopVendas).AsInteger();
}

bool CampaignSync::CargaInicial(const DateTime& DataInicial) {
  RecarregaMovimentosTopVendas(DataInicial);
  return ConfirmaComandos();
}

void CampaignSync::RecarregaMovimentosTopVendas(const DateTime& DataInicial) {
  // A failure here leaves TRComandos active; the poll cycle rolls it back.
  erp_.TRComandos.StartTransaction();
  erp_.TBComandos.SetSQL(S9);
  erp_.TBComandos.ExecSQL();
  erp_.TBComandos.SetSQL(S10(DataInicial));
  erp_.TBComandos.ExecSQL();
}

void CampaignSync::ReportCampaignStart(TTipoCampanha campaign, const char* index_column) {
  if (progress_ == nullptr) return;
  const FieldValue stored = erp_.TBPadrao.Field(index_column);
  progress_->CampaignStarted(
      campaign, stored.AsString().empty() ? std::nullopt : std::optional<std::int64_t>(stored.AsInteger()));
}

void CampaignSync::ReportCampaignEnd(TTipoCampanha campaign) {
  if (progress_ != nullptr) progress_->CampaignEnded(campaign);
}

void CampaignSync::ReportIndexWritten(TTipoCampanha campaign, const char* index_column) {
  if (progress_ != nullptr) progress_->IndexWritten(campaign, erp_.TBPadrao.Field(index_column).AsInteger());
}

bool CampaignSync::ConfirmaComandos(const std::function<void()>& once_committed) {
  try {
    erp_.TRComandos.Commit();
    if (once_committed) once_committed();
    return true;
  } catch (const std::exception& e) {
    if (erp_.TRComandos.Active()) erp_.TRComandos.Rollback();
    DoSaveLog(e.what());
    return false;
  }
}

}  // namespace zendrel
