// The shared send loop of the two campaigns (see send_loop.h).
#include "sync/send_loop.h"

#include <exception>
#include <limits>
#include <string>

#include "support/log_file.h"
#include "sync/pending_read.h"
#include "sync/pending_window.h"

namespace zendrel {

namespace {
// The only status the platform accepts a movement with.
constexpr int kAccepted = 200;

// How one pass over a range of rows ended.
struct RangeEnd {
  // Whether every row up to the range's end was dealt with and accepted (or there
  // were no more rows), so that sending may go on past it.
  bool may_go_on = false;
  // The number of the last row dealt with (the start when there was none).
  std::int64_t last = 0;
};

// Sends the rows numbered after `from` and up to `up_to`, in order. `last_range`:
// nothing is sent after this range in this cycle.
RangeEnd SendRange(ErpComponents& erp, std::int64_t from, std::int64_t up_to, bool last_range,
                   const PendingSend& send) {
  RangeEnd end{false, from};
  CycleProgress* const progress = send.progress;
  // The read itself waited for a till past its lock time-out.
  const auto held_in_read = [&] {
    if (progress) progress->HeldByTill(send.campaign, "");
  };
  Query& pending = send.pending;
  const char* number_column = send.table.number_column;
  pending.Close();
  pending.SetInteger(number_column, static_cast<std::int32_t>(from));
  if (!OpenPending(pending, send.log_prefix)) {
    held_in_read();
    return end;
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
    if (send.stop != nullptr && send.stop->Take()) return end;
    // A later number may still have an uncommitted one below it: left for what comes
    // after this range.
    const std::int64_t number = pending.Field(number_column).AsInteger();
    if (number > up_to) break;
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
    if (answer == kAccepted) end.last = number;
    // Reading on past the range's end could only wait for a later till.
    if (answer == kAccepted && number >= up_to) {
      if (!last_range && send.after_row) send.after_row();
      break;
    }
    if (answer == kAccepted && !NextPending(pending, send.log_prefix)) {
      held_in_read();
      return end;
    }
    if (send.after_row) send.after_row();
  }
  end.may_go_on = answer == kAccepted;
  return end;
}

}  // namespace

void SendPending(ErpComponents& erp, std::int32_t from, const PendingSend& send) {
  if (send.stop != nullptr && send.stop->Take()) return;
  Connection& connection = erp.Connquimero;
  // Where the read itself waits for a till, there is nothing to wait for first.
  if (!erp.settle_pending_holders || !erp.pending_facts.ReadPassesUncommittedInserts(connection)) {
    SendRange(erp, from, std::numeric_limits<std::int64_t>::max(), true, send);
    return;
  }
  // Rows below the first missing number cannot have an uncommitted one among or below
  // them: they go at once, and without a gap there is nothing to wait for at all.
  const PendingWindow window = ReadPendingWindow(connection, send.table, from);
  if (!window.highest) return;
  const bool gap = window.HasGap();
  std::int64_t last = from;
  if (window.consecutive_up_to > from) {
    const RangeEnd end = SendRange(erp, from, window.consecutive_up_to, !gap, send);
    if (!gap || !end.may_go_on) return;
    last = end.last;
  }
  if (send.stop != nullptr && send.stop->Take()) return;
  // Passing the gap needs every number up to K settled.
  std::int64_t highest = 0;
  std::string holders;
  if (!AwaitPendingSettled(connection, erp.pending_marker, send.table,
                           erp.pending_facts.KnowsTransactionStates(connection), erp.TransPendentes.lock_timeout(),
                           send.log_prefix, highest, &holders)) {
    if (send.progress) send.progress->HeldByTill(send.campaign, holders);
    return;
  }
  // Opened anew after the wait: a cursor opened before it reads the rows as they were
  // then, without those committed during the wait.
  SendRange(erp, last, highest, true, send);
}

}  // namespace zendrel
