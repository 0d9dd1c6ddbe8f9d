// The service module: the one object of the process that carries the work. It owns the
// database components and the poll timer Timer1, whose ticks run the poll cycle on the
// main thread, and it writes an exception escaping a tick to the log.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "api/http_transport.h"
#include "erp/site_settings.h"
#include "service/cycle_state_file.h"
#include "service/main_loop.h"
#include "service/relay_lock.h"
#include "service/waived_certificate_notice.h"
#include "support/clock.h"
#include "sync/campaign_sync.h"
#include "sync/erp_components.h"
#include "sync/run_stop.h"

namespace zendrel {

struct ModuleSettings {
  std::chrono::milliseconds first_interval{120000};  // from switching on to the first tick
  std::chrono::milliseconds interval{900000};        // from the end of a tick to the next
  ErpComponentSettings erp;
  // Where Tarvix.ini lies; empty means the executable's folder.
  std::filesystem::path settings_folder;
  const Clock* clock = nullptr;  // nullptr means the system clock
  // Runs at the start of every poll cycle; empty in the shipped program. A test build
  // makes cycles slow with it, to stop the service while one runs.
  std::function<void()> at_cycle_start;
  // Where the relay's and the cycles' locks live; empty: the host's own place.
  LockPlace locks;
};

// What the last poll cycle got to do: the ONCE mode's verdict rests on it.
struct CycleOutcome {
  bool server_checked = false;  // the server check ran, and `server` holds it
  ServerCheck server;           // the server check, with what it compared
  bool connected = false;       // the database connection was opened
  int campaigns_on = 0;         // campaigns found switched on in the settings row
  int campaigns_run = 0;        // of those, the ones whose run came to its end
  std::string database_held;    // another relay held the database: the cycle's one log line
};

class TSrvZendrel {
 public:
  TSrvZendrel(MainLoop& loop, ModuleSettings settings = {});
  ~TSrvZendrel();
  TSrvZendrel(const TSrvZendrel&) = delete;
  TSrvZendrel& operator=(const TSrvZendrel&) = delete;

  // Installs ManipulaExcecoes as the handler of exceptions escaping a tick.
  void ServiceCreate();

  // Writes the exception's message as one log line. Throws when the log cannot be written.
  void ManipulaExcecoes(const std::exception& error);

  // The poll cycle: one tick's work, with its cleanup always run. It writes the
  // record of its progress to the state file as it goes.
  void Timer1Timer();

  // Rebuilds the connection parameters from Tarvix.ini for that user and password.
  void CarregarParametrosConexao(const std::string& user, const std::string& password);

  void EnviaMovimentoPontos() { campaigns_.EnviaMovimentoPontos(); }
  void EnviaMovimentoTopVendas() { campaigns_.EnviaMovimentoTopVendas(); }

  // From now on every cycle ends between two movements, or before a campaign, once
  // `requested` says so (an interrupted "-once").
  void EndCyclesBetweenMovementsWhen(std::function<bool()> requested) { run_stop_.requested = std::move(requested); }

  const CycleOutcome& last_cycle() const { return last_cycle_; }
  // Where the last cycle's campaigns stood when it ended: the last send index written.
  const RunStop& run_stop() const { return run_stop_; }
  const std::filesystem::path& settings_folder() const { return folder_; }
  const CycleState& last_cycle_state() const { return cycle_state_.state(); }

  ErpComponents erp;
  std::unique_ptr<PollTimer> Timer1;

 private:
  // Tells the state file and the daily certificate notice about one exchange.
  void WatchExchange(const HttpRequest& request, const HttpExchange& exchange);

  MainLoop& loop_;
  ModuleSettings settings_;
  std::filesystem::path folder_;
  const Clock& clock_;
  RunStop run_stop_;
  CampaignSync campaigns_;
  CycleOutcome last_cycle_;
  // The record of the cycle for -status (Zendrel.state beside the log); written only.
  CycleStateRecorder cycle_state_;
  WaivedCertificateNotice waived_certificate_notice_;
};

}  // namespace zendrel
