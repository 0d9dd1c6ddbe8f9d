// What holds a campaign's next send back now, told the way the send loop decides it:
// for -status ("Retido por").
#pragma once

#include <cstdint>
#include <string>

#include "erp/connection.h"
#include "sync/pending_holders.h"

namespace zendrel {

// One line per holder, or one line saying why nothing holds. On a server whose read
// waits for uncommitted rows itself, the transaction that read waits for now, found
// exactly from the server's answer; elsewhere nothing without a gap after `index`, and
// at a gap the holders the wait's first look would meet. Throws DatabaseError.
std::string DescribePendingHolds(Connection& connection, const PendingTable& table, std::int64_t index);

}  // namespace zendrel
