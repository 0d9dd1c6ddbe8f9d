// The two campaigns' send loops and their send index with its remote reset. They run
// inside a poll cycle, with the connection open and the settings row read, and leave
// every failure they do not handle as an exception to the cycle.
#pragma once

#include <cstdint>
#include <functional>

#include "support/clock.h"
#include "support/date_time.h"
#include "sync/cycle_progress.h"
#include "sync/erp_components.h"
#include "sync/run_stop.h"

namespace zendrel {

class CampaignSync {
 public:
  // `message_pump` handles the main thread's waiting messages; the points loop runs it
  // after every movement. `stop`, when given, can end both loops between movements.
  CampaignSync(ErpComponents& erp, const Clock& clock, std::function<void()> message_pump, RunStop* stop = nullptr);

  // Where the campaigns report what they do; nullptr (the default): nowhere. Not owned.
  void SetProgress(CycleProgress* progress) { progress_ = progress; }

  // Asks the platform about a pending reset of the campaign, applies and acknowledges
  // it, starts the top-sales campaign on its first run, and returns the stored send
  // index (NULL reads as 0). -1 holds the campaign back: stored so by the ERP, or a
  // top-sales campaign whose first run has not committed yet.
  std::int32_t AtualizaIndiceEnvio(TTipoCampanha TipoCampanha);

  // Replaces the top-sales movements with the campaign sales from `DataInicial` on,
  // in one command transaction. Returns whether it was committed; a failed commit is
  // rolled back and logged.
  bool CargaInicial(const DateTime& DataInicial);

  // One pass over the pending customer points movements.
  void EnviaMovimentoPontos();

  // The daily product refresh, the send-index step and one pass over the pending
  // top-sales movements.
  void EnviaMovimentoTopVendas();

 private:
  std::int32_t AtualizaIndicePontos();
  std::int32_t AtualizaIndiceTopVendas();
  void RecarregaMovimentosTopVendas(const DateTime& DataInicial);
  // Commits TRComandos and then runs `once_committed`; when either fails, rolls back
  // what is still active, logs the failure and returns false.
  bool ConfirmaComandos(const std::function<void()>& once_committed = {});
  void AtualizaProdutos();
  // Tells the onlooker, if any, that the campaign starts (with the index stored in
  // `index_column`) or has come to its end; index writes are told as they happen.
  void ReportCampaignStart(TTipoCampanha campaign, const char* index_column);
  void ReportCampaignEnd(TTipoCampanha campaign);
  void ReportIndexWritten(TTipoCampanha campaign, const char* index_column);

  ErpComponents& erp_;
  const Clock& clock_;
  std::function<void()> message_pump_;
  RunStop* stop_;
  CycleProgress* progress_ = nullptr;
};

}  // namespace zendrel
