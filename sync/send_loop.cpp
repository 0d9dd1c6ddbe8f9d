// The shared send loop of the two campaigns (see send_loop.h).
#include "sync/send_loop.h"

#include <exception>
#include <limits>
#include <string>

#include "support/log_file.h"
#include "sync/pending_read.h"

namespace zendrel {

namespace {
// The only status the platform accepts a movement with.
constexpr int kAccepted = 200;
}  // namespace

void SendPending(ErpComponents& erp, std::int32_t from, const PendingSend& send) {
  if (send.stop != nullptr && send.stop->Take()) return;
  std::int64_t highest = std::numeric_limits<std::int64_t>::max();
  CycleProgress* const progress = send.progress;
  std::string holders;
  // Where the read itself waits for a till, there is nothing to wait for first.
  if (erp.settle_pending_holders && ReadCommittedPassesUncommittedInserts(erp.Connquimero) &&
      !AwaitPendingSettled(erp.Connquimero, send.table, erp.TransPendentes.lock_timeout(), send.log_prefix, highest,
                           &holders)) {
    if (progress) progress->HeldByTill(send.campaign, holders);
    return;
  }
  const auto held_in_read = [&] {
    if (progress) progress->HeldByTill(send.campaign, "");
  };

  Query& pending = send.pending;
  const char* number_column = send.table.number_column;
  pending.Close();
  pending.SetInteger(number_column, from);
  if (!OpenPending(pending, send.log_prefix)) {
    held_in_read();
    return;
  }

  const auto move_index = [&] {
    const std::int32_t index = pending.Field(number_column).AsInteger();
    erp.TBPadrao.WriteInteger(send.index_column, index);
    if (progress) progress->IndexWritten(send.campaign, index);
    if (send.stop != nullptr) {
      send.stop->last_campaign = send.log_prefix.substr(0, send.log_prefix.find(':'));
      send.stop->last_movement = index;
    }
  };
  int answer = kAccepted;
  while (!pending.Eof() && answer == kAccepted) {
    // Between two movements only: the one before has its index written.
    if (send.stop != nullptr && send.stop->Take()) break;
    // A later number may still have an uncommitted one below it: the next cycle.
    const std::int64_t number = pending.Field(number_column).AsInteger();
    if (number > highest) break;
    if (send.passes_unposted && send.passes_unposted()) {
      move_index();
    } else {
      bool accepted = false;
      try {
        const PostAnswer reply = send.post();
        answer = reply.status;
        if (answer == kAccepted) {
          accepted = true;
          // The index first: nothing may stand between an acceptance and its index write.
          move_index();
          if (progress) progress->MovementAccepted(send.campaign, number);
        } else if (progress) {
          progress->MovementRefused(send.campaign, number, reply.status, reply.message);
        }
      } catch (const std::exception& e) {
        // The row stops the campaign until it is corrected; say why, or nobody will know.
        answer = -1;
        DoSaveLog(std::string(send.log_prefix) + e.what());
        if (progress && accepted) progress->IndexWriteFailed(send.campaign, number, e.what());
        if (progress && !accepted) progress->MovementUnreadable(send.campaign, number, e.what());
      }
    }
    // Reading on past the highest settled number could only wait for a later till.
    if (answer == kAccepted && number >= highest) break;
    if (answer == kAccepted && !NextPending(pending, send.log_prefix)) {
      held_in_read();
      break;
    }
    if (send.after_row) send.after_row();
  }
}

}  // namespace zendrel
