// What the campaign synchronisation tells an onlooker while a poll cycle runs: where
// each campaign started, every movement accepted and where it stopped and why. The
// onlooker only listens (the service keeps a record of the last cycle for -status with
// it); nothing it hears flows back into the cycle, which reads everything afresh.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zendrel {

enum class TTipoCampanha { tcPontos, tcVendedor };

class CycleProgress {
 public:
  virtual ~CycleProgress() = default;

  // The campaign's run begins. `stored_index` is its send index as the settings row
  // holds it before the reset step (nullopt: NULL).
  virtual void CampaignStarted(TTipoCampanha campaign, std::optional<std::int64_t> stored_index) = 0;

  // The campaign's send index was written and committed (an accepted movement, a
  // movement passed over, a reset, a first run).
  virtual void IndexWritten(TTipoCampanha campaign, std::int64_t index) = 0;

  // The platform accepted the movement numbered `number`.
  virtual void MovementAccepted(TTipoCampanha campaign, std::int64_t number) = 0;

  // The campaign stopped at `number`: the platform answered `status` (0 when no reply
  // came) with `message`.
  virtual void MovementRefused(TTipoCampanha campaign, std::int64_t number, int status, const std::string& message) = 0;

  // The campaign stopped at `number`: the row could not be posted (`error`).
  virtual void MovementUnreadable(TTipoCampanha campaign, std::int64_t number, const std::string& error) = 0;

  // The platform accepted `number`, but the send index could not be written (`error`):
  // the next cycle posts it again.
  virtual void IndexWriteFailed(TTipoCampanha campaign, std::int64_t number, const std::string& error) = 0;

  // The campaign stopped because an ERP transaction held its pending movements;
  // `holders` says which, when known.
  virtual void HeldByTill(TTipoCampanha campaign, const std::string& holders) = 0;

  // The campaign's run came to its end (it did not end by an exception).
  virtual void CampaignEnded(TTipoCampanha campaign) = 0;
};

}  // namespace zendrel
