// What holds a campaign back, for the status report: the movement it sends next (a
// campaign stops at the first refusal and starts with that movement in every cycle),
// whether the last cycle stopped there with a refusal (the state file's record), and
// that refusal's entry in the log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "erp/connection.h"
#include "erp/transaction.h"
#include "service/cycle_state_file.h"
#include "support/date_time.h"

namespace zendrel {

struct FirstPending {
  std::string description;  // "movimento 102 de 21/11/2026, CPF 111.222.333-96, ..."
  DateTime day;             // the movement's date
  std::int64_t number = 0;  // its number (MOVIMENTO or SEQUENCIAL)
};

// The first movement after `index` that the campaign's send loop would post, read in
// `read_only`; nullopt when none waits.
std::optional<FirstPending> ReadFirstPending(Connection& connection, Transaction& read_only, bool top_sales,
                                             std::int32_t index);

// The newest of `entries` (log entries "DD/MM/YYYY HH:mm:ss - message", oldest first)
// whose message begins with `prefix` and is the platform's refusal (or a movement the
// program could not read), written at `since` or later (the start of the cycle that
// stopped at it): the entry without the prefix. An entry about a till's open
// transaction is no refusal.
std::optional<std::string> LastRefusal(const std::vector<std::string>& entries, std::string_view prefix,
                                       const DateTime& since);

// Whether the campaign is held at its first pending movement `first_pending`: only when
// the last cycle's record (`last_cycle`) says that cycle stopped at that very movement
// with a refusal (the platform's, or a movement this program cannot post), so that
// every cycle tries it again and sends nothing after it.
struct Retention {
  bool held = false;
  std::string text;  // the report's line: "sim: ...", "não: ainda não tentado ...", ...
};
Retention JudgeRetention(const CycleStateRead& last_cycle, bool top_sales, std::int64_t first_pending);

}  // namespace zendrel
