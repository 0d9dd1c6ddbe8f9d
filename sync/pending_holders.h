// Which other transactions may still hold an uncommitted movement of a campaign, read
// from the server's monitoring tables, and the wait for them to end.
//
// Why this is needed: Firebird 4 and 5 with ReadConsistency = 1 (their default) read
// every read-committed transaction in READ CONSISTENCY mode, which never waits for an
// uncommitted insert, so the waiting pending read alone would pass over a movement
// that a till commits late. The send loop waits only at a gap in the committed numbers
// (pending_window.h); the reasoning that makes the wait below sufficient there:
//
//  1. A movement's number comes from a generator inside the statement that inserts it,
//     and a number taken later is larger. So when K is the highest number committed at
//     the moment it is read, every number up to K was taken before that moment, by a
//     transaction that was running then.
//  2. Transaction numbers grow with time, and a commit with retain gives the
//     transaction a new number (what it inserted before is then committed). So every
//     transaction that still holds an uncommitted number up to K carries a number below
//     that of a transaction started after K was read: the bound.
//  3. After the bound, a marker attachment takes a snapshot (monitoring_marker.h). An
//     attachment listed after the marker wrote its monitoring data after K was read.
//     That data shows such a transaction either as running a request (the insert whose
//     row is not stored yet, or a cursor between two fetches of a procedure that may
//     insert later) or with an insert count for the table above zero (never going down
//     while it lives). The server writes a transaction's state before its counts, so a
//     request that ends while the data is written still shows in one of the two.
//  4. An attachment listed before the marker has made no call since before the marker:
//     its data may predate the insert (written at the very start of the inserting
//     call), so each of its read-write transactions holds, whatever the data shows.
//  5. A transaction the server's own record of states (RDB$GET_TRANSACTION_CN) no
//     longer counts as active (0) or in limbo (-1, it may still commit) holds nothing.
//  Waiting until no transaction of another attachment below the bound matches 3 or 4
//  leaves every number up to K committed, rolled back (a hole) or never used (a gap).
//
// What still holds a campaign back at a gap although it has nothing uncommitted (each
// at most the wait's time-out of one cycle): an attachment that has made no call since
// before the marker, with a read-write transaction open (a till idle after a sale with
// its transaction left open, or after a commit with retain), until its next call; a
// transaction that inserted movements and committed them with retain, until it commits
// again after a write or ends (the count survives the retain); and a read-write
// transaction running a statement or holding an open cursor, until it ends.
// What this relies on beyond the above: the ERP starts a transaction in a call of its
// own, before the call that inserts (every client library does), so a transaction that
// holds a number is in the data of any later write.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "erp/connection.h"

namespace zendrel {

class MonitoringMarker;

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
  bool executing = false;  // is running a statement or has a cursor open
  // Its attachment has not written its monitoring data since the marker: the data may
  // predate an insert, so it holds whatever it shows.
  bool unseen_since_marker = false;
};

// What a server's answers about its reads and its monitoring are, asked once per
// attachment: they do not change while it lives.
class PendingServerFacts {
 public:
  // Whether the server reads a waiting read-committed transaction in READ CONSISTENCY
  // mode (Firebird 4 and later with ReadConsistency = 1), which never waits for an
  // uncommitted insert; Firebird 3, and 4 with ReadConsistency = 0, wait in the read
  // itself. Throws DatabaseError.
  bool ReadPassesUncommittedInserts(Connection& connection);
  // Whether the server answers RDB$GET_TRANSACTION_CN (Firebird 4 and later).
  bool KnowsTransactionStates(Connection& connection);
  // How many times the server was asked (for the tests).
  int questions() const { return questions_; }

 private:
  void Learn(Connection& connection);
  const Connection* connection_ = nullptr;
  std::uint64_t generation_ = 0;
  bool passes_ = false;
  bool knows_states_ = false;
  int questions_ = 0;
};

// The highest number committed in the table (nothing when it is empty), read in a
// transaction of its own. Throws DatabaseError.
std::optional<std::int64_t> HighestCommittedNumber(Connection& connection, const PendingTable& table);

// The number of a transaction started now: every transaction started earlier has a
// smaller one. Throws DatabaseError.
std::int64_t TransactionNumberNow(Connection& connection);

// The same as PendingServerFacts, asked anew. Throws DatabaseError.
bool ReadCommittedPassesUncommittedInserts(Connection& connection);

// One look at the monitoring tables, in one snapshot of their own.
struct HoldersLook {
  const PendingTable& table;
  // Only transactions numbered below it are listed.
  std::int64_t bound = 0;
  // Whether to leave out the transactions the server no longer counts as active.
  bool knows_states = false;
  // The marker's attachment: every read-write transaction of an attachment listed
  // before it holds. Nothing: every attachment's data is taken as it is.
  std::optional<std::int64_t> marker_attachment;
};

// The read-write transactions of other attachments that hold the table by the rules
// above, in transaction order. Throws DatabaseError.
std::vector<PendingHolder> ListPendingHolders(Connection& connection, const HoldersLook& look);

// The same with the server's facts asked anew and no marker: what the monitoring data
// shows, for the tests of what it shows. Throws DatabaseError.
std::vector<PendingHolder> ListPendingHolders(Connection& connection, const PendingTable& table, std::int64_t bound);

// The pauses between two looks: the first, then doubling up to the longest. Each look
// makes every attachment that made a call since the last one write its data again.
struct LookPauses {
  std::chrono::milliseconds first{100};
  std::chrono::milliseconds longest{1000};
};

struct PendingSettlement {
  // Rows up to this number may be sent in order (nothing: the table had no row).
  std::optional<std::int64_t> highest;
  // Empty when every holder ended in time; otherwise those still holding at the end.
  std::vector<PendingHolder> still_holding;
  // How many looks it took.
  int looks = 0;
};

// Reads K and the bound, places the marker, then looks again (pausing as `pauses`
// says) until no transaction holds a number up to K, or `timeout` has passed. Throws
// DatabaseError.
PendingSettlement SettlePending(Connection& connection, MonitoringMarker& marker, const PendingTable& table,
                                bool knows_states, std::chrono::milliseconds timeout, LookPauses pauses = {});

// The holders a settlement that began now would meet at its first look: for -status.
// Throws DatabaseError.
std::vector<PendingHolder> PendingHoldersNow(Connection& connection, MonitoringMarker& marker,
                                             const PendingTable& table, bool knows_states);

// "transação 123 da conexão 45 (SYSDBA, 10.0.0.5, /opt/erp/caixa): inseriu movimentos
// e continua aberta" — for the log and -status.
std::string DescribeHolder(const PendingHolder& holder);

}  // namespace zendrel
