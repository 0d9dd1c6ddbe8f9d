// The send loop both campaigns share: every pending movement after the send index, one
// posting each, in movement order; the index moves on only when the platform answered
// 200, the first refusal stops the campaign for this cycle, and rows that an ERP till
// may still hold are left for the next cycle. What differs between the campaigns is
// what a row is posted as, and the hooks below.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "erp/query.h"
#include "sync/cycle_progress.h"
#include "sync/erp_components.h"
#include "sync/pending_holders.h"
#include "sync/run_stop.h"

namespace zendrel {

// The platform's answer to one posting.
struct PostAnswer {
  int status = 0;  // 200 is acceptance; 0 when no reply came
  std::string message;
};

struct PendingSend {
  // The campaign's movement table; its number column is the query's parameter and the
  // value the send index takes.
  const PendingTable& table;
  // The campaign's pending-movement query, which reads the rows numbered after its
  // parameter.
  Query& pending;
  // The settings column holding the campaign's send index.
  const char* index_column;
  // Starts every log line of the loop.
  std::string_view log_prefix;
  // Posts the current row and returns the platform's answer. A row that cannot be
  // posted throws: the loop logs it and stops the campaign until it is corrected.
  std::function<PostAnswer()> post;
  // Whether the current row is one the campaign never posts: the index just moves past
  // it. Runs outside the guard around `post`, so its failures end the cycle. Empty:
  // every row is posted.
  std::function<bool()> passes_unposted;
  // Runs after each row, whether sent, passed over, refused or failed, except when the
  // loop ends right after an accepted row because it reached the highest settled number
  // or the next row is held. Empty: nothing.
  std::function<void()> after_row;
  // Looked at before each row: the loop ends there when the run is asked to end, and
  // notes each index it writes. nullptr: the loop runs to its end.
  RunStop* stop = nullptr;
  // Told of every accepted row, index write and stop; nullptr: nobody.
  CycleProgress* progress = nullptr;
  TTipoCampanha campaign = TTipoCampanha::tcPontos;
};

// One pass over the pending rows numbered after `from`.
void SendPending(ErpComponents& erp, std::int32_t from, const PendingSend& send);

}  // namespace zendrel
