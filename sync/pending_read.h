// Reading pending movements while ERP tills may still be inserting them. Before the
// read, the campaign waits until no other transaction may still hold an uncommitted
// movement up to the highest committed number, and then sends only up to that number;
// the read itself also waits for a till's open transaction where the server's
// read-committed mode does. When a wait reaches its time-out the campaign stops for
// this cycle, with its send index where it was, and says so once.
#pragma once

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "erp/query.h"
#include "sync/pending_holders.h"

namespace zendrel {

// Waits (at most `timeout`) until every movement of `table` up to the highest committed
// number is settled, and gives that number in `highest` (the lowest value when the
// table is empty). Returns false (after one log line with `log_prefix`) when
// transactions still held movements at the time-out, and then describes them in
// `holders` (one a line) when it is given; other failures throw.
bool AwaitPendingSettled(Connection& connection, MonitoringMarker& marker, const PendingTable& table, bool knows_states,
                         std::chrono::seconds timeout, std::string_view log_prefix, std::int64_t& highest,
                         std::string* holders = nullptr);

// Opens `query`. Returns false (after one log line with `log_prefix`) when the rows
// are held by an ERP transaction past the lock time-out; other failures throw.
bool OpenPending(Query& query, std::string_view log_prefix);

// Moves `query` to its next row, with the same handling of a held row.
bool NextPending(Query& query, std::string_view log_prefix);

}  // namespace zendrel
