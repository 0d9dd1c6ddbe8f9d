// The poll cycle: one tick's work. It decides whether this machine works at all,
// connects with the fallback password, runs the campaigns that are switched on, and
// always ends with the queries closed, no command transaction open, the connection
// closed and the timer armed again.
#include <exception>
#include <functional>

#include "erp/database_error.h"
#include "erp/client_load.h"
#include "erp/site_settings.h"
#include "service/database_credentials.h"
#include "service/service_module.h"
#include "support/log_file.h"
#include "sync/settings_columns.h"

namespace zendrel {

namespace {

// Runs one cleanup step; keeps the first failure for the caller, so no later step is
// skipped because an earlier one failed.
void CleanupStep(std::exception_ptr& first_failure, const std::function<void()>& step) {
  try {
    step();
  } catch (...) {
    if (!first_failure) first_failure = std::current_exception();
  }
}

}  // namespace

void TSrvZendrel::Timer1Timer() {
  Timer1->SetEnabled(false);
  Timer1->SetInterval(settings_.interval);

  last_cycle_ = CycleOutcome{};
  std::exception_ptr failure;
  try {
    if (settings_.at_cycle_start) settings_.at_cycle_start();
    last_cycle_.server = CheckDatabaseServer(folder_, SystemHostIdentity());
    last_cycle_.server_checked = true;
    if (last_cycle_.server.is_server()) {
      erp.Connquimero.Disconnect();
      CarregarParametrosConexao(kUsuarioBanco, kSenhaPrincipal);
      try {
        erp.Connquimero.Connect();
      } catch (const std::exception&) {
        erp.Connquimero.Disconnect();
        CarregarParametrosConexao(kUsuarioBanco, kSenhaReserva);
        try {
          erp.Connquimero.Connect();
        } catch (const std::exception& error) {
          DoSaveLog("Falha na conexão com o banco de dados!!!");
          // The one failure the operator can only mend by taking the other build.
          const auto* database_error = dynamic_cast<const DatabaseError*>(&error);
          if (database_error != nullptr && database_error->code() == DatabaseError::kClientWrongBitness) {
            DoSaveLog(ClientBitnessAdvice(LoadFirebirdClientReport(erp.Connquimero.ClientLibrary())));
          }
        }
      }

      if (erp.Connquimero.Connected()) {
        last_cycle_.connected = true;
        erp.TBPadrao.Open();
        if (erp.TBPadrao.Field(padrao::kAtivaPontos).AsString() == "Y") {
          ++last_cycle_.campaigns_on;
          EnviaMovimentoPontos();
          ++last_cycle_.campaigns_run;
        }
        if (erp.TBPadrao.Field(padrao::kAtivaTopVendas).AsString() == "Y") {
          ++last_cycle_.campaigns_on;
          EnviaMovimentoTopVendas();
          ++last_cycle_.campaigns_run;
        }
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }

  std::exception_ptr cleanup_failure;
  CleanupStep(cleanup_failure, [&] { erp.TBPadrao.Close(); });
  CleanupStep(cleanup_failure, [&] { erp.TBVerificaMovimentacao.Close(); });
  CleanupStep(cleanup_failure, [&] { erp.TBMovimentoPontos.Close(); });
  CleanupStep(cleanup_failure, [&] { erp.TBUltimoMovimento.Close(); });
  // Before the disconnect: a half-done rebuild or refresh must never be committed.
  CleanupStep(cleanup_failure, [&] {
    if (erp.TRComandos.Active()) erp.TRComandos.Rollback();
  });
  CleanupStep(cleanup_failure, [&] { erp.TBMovTopVendas.Close(); });
  CleanupStep(cleanup_failure, [&] { erp.Connquimero.Disconnect(); });
  // Whatever failed, the polling goes on.
  Timer1->SetEnabled(true);

  if (failure) std::rethrow_exception(failure);
  if (cleanup_failure) std::rethrow_exception(cleanup_failure);
}

}  // namespace zendrel
