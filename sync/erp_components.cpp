// Wiring of the service module's database components.
#include "sync/erp_components.h"

#include "erp/statements.h"

namespace zendrel {

ErpComponents::ErpComponents(const ErpComponentSettings& settings)
    : settle_pending_holders(settings.settle_pending_holders),
      Connquimero(settings.reconnect),
      TransReadOnly(Connquimero, TransactionMode::ReadOnlyReadCommitted, true),
      TransReadWrite(Connquimero, TransactionMode::ReadWriteReadCommitted, true, settings.settings_lock_timeout),
      TRComandos(Connquimero, TransactionMode::ReadWriteReadCommitted, false),
      TransPendentes(Connquimero, TransactionMode::ReadOnlyWaitingReadCommitted, true, settings.pending_lock_timeout),
      TBPadrao(Connquimero, TransReadOnly, TransReadWrite, settings.settings_write),
      TBVerificaMovimentacao(Connquimero, TransReadOnly),
      TBMovimentoPontos(Connquimero, TransPendentes),
      TBUltimoMovimento(Connquimero, TransReadOnly),
      TBComandos(Connquimero, TRComandos),
      TBMovTopVendas(Connquimero, TransPendentes),
      pending_marker(Connquimero) {
  TBVerificaMovimentacao.SetSQL(S3);
  TBMovimentoPontos.SetSQL(S4);
  TBUltimoMovimento.SetSQL(S5);
  TBMovTopVendas.SetSQL(S6);
}

}  // namespace zendrel
