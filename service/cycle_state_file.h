// The state file "Zendrel.state" beside the log: the record of the last poll cycle
// (cycle_state.h), written by the cycle as it goes and read by -status alone. A cycle
// that goes well writes nothing to the log, so without this file nobody could tell a
// quiet healthy service from one that stopped cycling.
//
// The cycle never reads the file: it reads everything afresh each time, and what the
// file says cannot change what the cycle does. The file is replaced whole each time
// (a new file in the same folder, then renamed over the old one), so a reader never
// sees half a record.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "service/cycle_state.h"
#include "support/clock.h"
#include "sync/cycle_progress.h"

namespace zendrel {

// "Zendrel.state" in `folder` (the executable's folder, where the log lives).
std::filesystem::path CycleStateFilePath(const std::filesystem::path& folder);

// Keeps the record of the cycle in progress and writes it: when the cycle starts, at
// each stop and end of a campaign, when it ends, and in between at most every few
// seconds while movements are being accepted (so a long cycle that drains a backlog
// keeps the file fresh, and one stuck in a call does not). A file that cannot be
// written never disturbs the cycle: the first such failure of the process is logged
// once.
class CycleStateRecorder final : public CycleProgress {
 public:
  // `interval` is recorded so that -status knows when the next cycle was due.
  CycleStateRecorder(std::filesystem::path path, const Clock& clock, std::chrono::milliseconds interval);

  void CycleStarted();
  void CycleEnded(CycleEnd end, const std::string& error = {});

  // An exchange of the campaign in progress got no usable reply, for `reason`: kept
  // as the transport's word on the stop that follows.
  void ExchangeFailed(const std::string& reason);
  // An exchange of the campaign in progress went on with its certificate checks waived.
  void CertificateWaived(const std::string& reason);

  void CampaignStarted(TTipoCampanha campaign, std::optional<std::int64_t> stored_index) override;
  void IndexWritten(TTipoCampanha campaign, std::int64_t index) override;
  void MovementAccepted(TTipoCampanha campaign, std::int64_t number) override;
  void MovementRefused(TTipoCampanha campaign, std::int64_t number, int status, const std::string& message) override;
  void MovementUnreadable(TTipoCampanha campaign, std::int64_t number, const std::string& error) override;
  void IndexWriteFailed(TTipoCampanha campaign, std::int64_t number, const std::string& error) override;
  void HeldByTill(TTipoCampanha campaign, const std::string& holders) override;
  void CampaignEnded(TTipoCampanha campaign) override;

  const CycleState& state() const { return state_; }
  // The campaign whose run is in progress, if any.
  std::optional<TTipoCampanha> current_campaign() const { return current_; }

 private:
  CampaignRun& Run(TTipoCampanha campaign);
  // Writes the record now, or (`when_due`) only when the last write is a few seconds old.
  void Write(bool when_due = false);

  std::filesystem::path path_;
  const Clock& clock_;
  CycleState state_;
  std::optional<TTipoCampanha> current_;
  std::string last_exchange_failure_;
  std::chrono::steady_clock::time_point last_write_{};
  bool failure_logged_ = false;
};

// Replaces the file at `path` with `text` (a new file beside it, renamed over it).
// Throws std::runtime_error when it cannot.
void ReplaceStateFile(const std::filesystem::path& path, const std::string& text);

struct CycleStateRead {
  bool found = false;  // the file exists
  std::string error;   // why it could not be read or understood; empty when `state` is set
  std::optional<CycleState> state;
};

// Reads the record at `path`. A missing or unreadable file is no error: it says so.
CycleStateRead ReadCycleStateFile(const std::filesystem::path& path);

}  // namespace zendrel
