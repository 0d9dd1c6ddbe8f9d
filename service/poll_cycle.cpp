// The poll cycle: one tick's work. It decides whether this machine works at all,
// connects with the fallback password, runs the campaigns that are switched on, and
// always ends with the queries closed, no command transaction open, the connection
// closed and the timer armed again.
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "api/api_settings.h"
#include "api/request_address.h"
#include "erp/client_load.h"
#include "erp/database_error.h"
#include "erp/site_settings.h"
#include "service/database_credentials.h"
#include "service/database_lock.h"
#include "service/exchange_watch.h"
#include "service/failure_causes.h"
#include "service/service_module.h"
#include "support/executable_folder.h"
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

// The text of the exception in `failure`.
std::string FailureText(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "exceção desconhecida";
  }
}

}  // namespace

void TSrvZendrel::WatchExchange(const HttpRequest& request, const HttpExchange& exchange) {
  if (!exchange.replied()) {
    cycle_state_.ExchangeFailed(TransportFailureCause(exchange.failure_kind) + " (" + exchange.failure + ")");
  } else if (exchange.reply->status >= 500 && exchange.reply->status <= 599) {
    cycle_state_.ExchangeFailed(HttpStatusMeaning(exchange.reply->status));
  }
  if (exchange.certificate_waived != CertificateProblem::kNone) {
    const std::string reason = CertificateProblemText(exchange.certificate_waived);
    cycle_state_.CertificateWaived(reason);
    if (const auto campaign = cycle_state_.current_campaign()) {
      waived_certificate_notice_.Note(*campaign, UriHost(request.url), reason, clock_.Today());
    }
  }
}

void TSrvZendrel::Timer1Timer() {
  Timer1->SetEnabled(false);
  Timer1->SetInterval(settings_.interval);

  last_cycle_ = CycleOutcome{};
  run_stop_.StartCycle();
  // Held from the connect to the disconnect: no other relay works on this database
  // meanwhile.
  std::unique_ptr<RelayLock> database_lock;
  cycle_state_.CycleStarted();
  std::exception_ptr failure;
  // Why the second password did not open the database either: only for the record.
  std::string connect_failure;
  try {
    // Every call of this cycle is watched: why a posting got no reply, and a
    // certificate whose checks were waived.
    const ScopedApiSettings watched(WatchingExchanges(
        CurrentApiSettings(),
        [this](const HttpRequest& request, const HttpExchange& exchange) { WatchExchange(request, exchange); }));
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
          const auto* database_error = dynamic_cast<const DatabaseError*>(&error);
          connect_failure =
              (database_error ? DatabaseFailureCause(*database_error) + ": " : std::string()) + error.what();
          DoSaveLog("Falha na conexão com o banco de dados!!!");
          // The one failure the operator can only mend by taking the other build.
          if (database_error != nullptr && database_error->code() == DatabaseError::kClientWrongBitness) {
            DoSaveLog(ClientBitnessAdvice(LoadFirebirdClientReport(erp.Connquimero.client_library())));
          }
        }
      }

      if (erp.Connquimero.Connected()) {
        last_cycle_.connected = true;
        const std::string database_file = DatabaseFileOnServer(erp.Connquimero);
        DatabaseLockAttempt database = TryTakeDatabaseLock(database_file, ExecutableFolder(), settings_.locks);
        database_lock = std::move(database.lock);
        if (!database_lock) {
          last_cycle_.database_held = DatabaseHeldText(database_file, database.holder_folder);
          DoSaveLog(last_cycle_.database_held);
        }
      }

      if (database_lock) {
        erp.TBPadrao.Open();
        if (erp.TBPadrao.Field(padrao::kAtivaPontos).AsString() == "Y") {
          ++last_cycle_.campaigns_on;
          if (!run_stop_.Take()) {
            EnviaMovimentoPontos();
            ++last_cycle_.campaigns_run;
          }
        }
        if (erp.TBPadrao.Field(padrao::kAtivaTopVendas).AsString() == "Y") {
          ++last_cycle_.campaigns_on;
          if (!run_stop_.Take()) {
            EnviaMovimentoTopVendas();
            ++last_cycle_.campaigns_run;
          }
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
  CleanupStep(cleanup_failure, [&] { erp.pending_marker.Detach(); });
  database_lock.reset();
  // Whatever failed, the polling goes on.
  Timer1->SetEnabled(true);

  if (failure || cleanup_failure) {
    cycle_state_.CycleEnded(CycleEnd::kError, FailureText(failure ? failure : cleanup_failure));
  } else if (last_cycle_.server_checked && !last_cycle_.server.is_server()) {
    cycle_state_.CycleEnded(CycleEnd::kNotServer);
  } else if (!last_cycle_.connected) {
    cycle_state_.CycleEnded(CycleEnd::kDatabaseUnreachable, connect_failure);
  } else if (!last_cycle_.database_held.empty()) {
    cycle_state_.CycleEnded(CycleEnd::kDatabaseHeld, last_cycle_.database_held);
  } else if (run_stop_.taken) {
    cycle_state_.CycleEnded(CycleEnd::kInterrupted);
  } else {
    cycle_state_.CycleEnded(CycleEnd::kDone);
  }

  if (failure) std::rethrow_exception(failure);
  if (cleanup_failure) std::rethrow_exception(cleanup_failure);
}

}  // namespace zendrel
