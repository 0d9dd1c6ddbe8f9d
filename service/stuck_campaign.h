// What holds a campaign back, for the status report: the movement it sends next (a
// campaign stops at the first refusal and starts with that movement in every cycle),
// and the platform's last refusal in the log that can concern it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "erp/connection.h"
#include "erp/transaction.h"
#include "support/date_time.h"

namespace zendrel {

struct FirstPending {
  std::string description;  // "movimento 102 de 21/11/2026, CPF 111.222.333-96, ..."
  DateTime day;             // the movement's date
};

// The first movement after `index` that the campaign's send loop would post, read in
// `read_only`; nullopt when none waits.
std::optional<FirstPending> ReadFirstPending(Connection& connection, Transaction& read_only, bool top_sales,
                                             std::int32_t index);

// The newest of `entries` (log entries "DD/MM/YYYY HH:mm:ss - message", oldest first)
// whose message begins with `prefix` and is the platform's refusal (or a movement the
// program could not read), written on `since` or later: the entry without the prefix.
// An entry about a till's open transaction is no refusal.
std::optional<std::string> LastRefusal(const std::vector<std::string>& entries, std::string_view prefix,
                                       const DateTime& since);

}  // namespace zendrel
