// Which other transactions may still hold an uncommitted movement of a campaign, read
// from the server's monitoring tables, and the wait for them to end.
//
// Why this is needed: Firebird 4 and 5 with ReadConsistency = 1 (their default) read
// every read-committed transaction in READ CONSISTENCY mode, which never waits for an
// uncommitted insert, so the waiting pending read alone would pass over a movement
// that a till commits late. The reasoning that makes the wait below sufficient:
//
//  1. A movement's number comes from a generator inside the statement that inserts it,
//     and a number taken later is larger. So when K is the highest number committed at
//     the moment it is read, every number up to K was taken before that moment, by a
//     transaction that was running then.
//  2. Transaction numbers grow with time, and a commit with retain gives the
//     transaction a new number (what it inserted before is then committed). So every
//     transaction that still holds an uncommitted number up to K carries a number below
//     that of a transaction started after K was read: the bound.
//  3. Such a transaction has either stored its row (its insert count for the table is
//     above zero and never goes down while it lives) or is still running the statement
//     that inserts it (its statement is active).
//  Waiting until no transaction of another attachment below the bound matches 3 leaves
//  every number up to K committed, rolled back (a hole) or never used (a gap).
//
// A transaction that inserted a movement, committed it with retain and went on keeps
// its insert count, so it holds the campaign until it commits again after a write, or
// ends (at most the wait's time-out), although it has nothing uncommitted: the
// monitoring tables do not tell the two apart. The monitoring snapshot is taken once
// per transaction, so every look is a transaction of its own. An attachment writes its
// monitoring data when asked, once per call it makes: what it wrote during a commit
// shows the ended transaction until its next call, so on Firebird 4 and later each
// listed transaction is checked with the server's own record of transaction states.
// What remains open: data an attachment wrote at the very start of its inserting
// call, before the statement ran, shows neither the insert nor a running statement
// until that attachment's next call.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "erp/connection.h"

namespace zendrel {

// A campaign's movement table and the column that numbers its rows.
struct PendingTable {
  const char* table;
  const char* number_column;
};

inline constexpr PendingTable kPontosTable{"BRINDEX_PONTOS", "MOVIMENTO"};
inline constexpr PendingTable kTopVendasTable{"BRINDEX_MOV_TOPVENDAS", "SEQUENCIAL"};

// A transaction of another attachment that may hold an uncommitted movement.
struct PendingHolder {
  std::int64_t transaction_id = 0;
  std::int64_t attachment_id = 0;
  std::string user;
  std::string remote_address;  // empty for a local attachment
  std::string remote_process;
  bool inserted = false;   // has inserted rows into the table
  bool executing = false;  // is running a statement now
};

// The highest number committed in the table (nothing when it is empty), read in a
// transaction of its own. Throws DatabaseError.
std::optional<std::int64_t> HighestCommittedNumber(Connection& connection, const PendingTable& table);

// The number of a transaction started now: every transaction started earlier has a
// smaller one. Throws DatabaseError.
std::int64_t TransactionNumberNow(Connection& connection);

// Whether the server reads a waiting read-committed transaction in READ CONSISTENCY
// mode (Firebird 4 and later with ReadConsistency = 1), which never waits for an
// uncommitted insert; Firebird 3, and 4 with ReadConsistency = 0, wait in the read
// itself. Throws DatabaseError.
bool ReadCommittedPassesUncommittedInserts(Connection& connection);

// The transactions of other attachments numbered below `bound` that have inserted into
// the table or are running a statement, read-only ones left out, in one new monitoring
// snapshot; on Firebird 4 and later only those the server still counts as active.
// Throws DatabaseError.
std::vector<PendingHolder> ListPendingHolders(Connection& connection, const PendingTable& table, std::int64_t bound);

struct PendingSettlement {
  // Rows up to this number may be sent in order (nothing: the table had no row).
  std::optional<std::int64_t> highest;
  // Empty when every holder ended in time; otherwise those still running at the end.
  std::vector<PendingHolder> still_holding;
};

// Reads K, then looks again (pausing `pause` between looks) until no transaction holds
// a number up to K, or `timeout` has passed. Throws DatabaseError.
PendingSettlement SettlePending(Connection& connection, const PendingTable& table, std::chrono::milliseconds timeout,
                                std::chrono::milliseconds pause = std::chrono::milliseconds(100));

// "transação 123 da conexão 45 (SYSDBA, 10.0.0.5, /opt/erp/caixa): inseriu movimentos
// e continua aberta" — for the log and -status.
std::string DescribeHolder(const PendingHolder& holder);

}  // namespace zendrel
