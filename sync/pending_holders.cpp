// The monitoring-table reads that tell which transactions may hold uncommitted
// movements, and the wait for them.
#include "sync/pending_holders.h"

#include <fmt/format.h>

#include <thread>

#include "erp/query.h"
#include "erp/transaction.h"

namespace zendrel {
namespace {

std::int64_t WholeNumber(const FieldValue& value) { return value.is_sql_null() ? 0 : value.unscaled(); }

// Group 2 of the statistics is a transaction's. Read-only transactions cannot insert.
// An active statement (state 1) may be the insert whose number is already taken but
// whose row is not stored yet; a cursor waiting for its next fetch (state 2) is not.
constexpr const char* kHoldersSql =
    "SELECT T.MON$TRANSACTION_ID, T.MON$ATTACHMENT_ID, A.MON$USER, A.MON$REMOTE_ADDRESS,\n"
    "       A.MON$REMOTE_PROCESS,\n"
    "       (SELECT COALESCE(MAX(R.MON$RECORD_INSERTS), 0)\n"
    "          FROM MON$TABLE_STATS S\n"
    "          JOIN MON$RECORD_STATS R ON R.MON$STAT_ID = S.MON$RECORD_STAT_ID\n"
    "         WHERE S.MON$STAT_ID = T.MON$STAT_ID AND S.MON$STAT_GROUP = 2\n"
    "           AND S.MON$TABLE_NAME = '{0}') AS INSERTS,\n"
    "       (SELECT COUNT(*) FROM MON$STATEMENTS M\n"
    "         WHERE M.MON$TRANSACTION_ID = T.MON$TRANSACTION_ID AND M.MON$STATE = 1) AS EXECUTING\n"
    "FROM MON$TRANSACTIONS T\n"
    "JOIN MON$ATTACHMENTS A ON A.MON$ATTACHMENT_ID = T.MON$ATTACHMENT_ID\n"
    "WHERE T.MON$ATTACHMENT_ID <> CURRENT_CONNECTION\n"
    "  AND T.MON$READ_ONLY = 0\n"
    "{1}"
    "ORDER BY T.MON$TRANSACTION_ID";

// An attachment's monitoring data is written when it is asked for, at most once per
// call the attachment makes; data written during a commit outlives it until that
// attachment's next call, showing a transaction that has ended. Firebird 4 and later
// can be asked for a transaction's state (0 active, -2 in limbo; -1 rolled back, more
// than 0 committed); Firebird 3 cannot, but its waiting read needs no such list.
constexpr const char* kStillActive = "  AND RDB$GET_TRANSACTION_CN(T.MON$TRANSACTION_ID) IN (0, -2)\n";

// The isolation mode the server gives a transaction asked for as read committed
// without record versions: 4 is READ CONSISTENCY.
constexpr const char* kOwnIsolationSql =
    "SELECT MON$ISOLATION_MODE FROM MON$TRANSACTIONS WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION";
constexpr std::int64_t kReadConsistency = 4;

bool KnowsTransactionStates(Connection& connection) {
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL("SELECT RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION') FROM RDB$DATABASE");
  query.Open();
  const std::string version = query.Row().front().AsString();
  query.Close();
  int major = 0;
  for (const char c : version) {
    if (c < '0' || c > '9') break;
    major = major * 10 + (c - '0');
  }
  return major >= 4;
}

}  // namespace

std::optional<std::int64_t> HighestCommittedNumber(Connection& connection, const PendingTable& table) {
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL(fmt::format("SELECT MAX({}) FROM {}", table.number_column, table.table));
  query.Open();
  const FieldValue highest = query.Row().front();
  query.Close();
  if (highest.is_sql_null()) return std::nullopt;
  return WholeNumber(highest);
}

std::int64_t TransactionNumberNow(Connection& connection) {
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL("SELECT CURRENT_TRANSACTION FROM RDB$DATABASE");
  query.Open();
  const std::int64_t number = WholeNumber(query.Row().front());
  query.Close();
  return number;
}

bool ReadCommittedPassesUncommittedInserts(Connection& connection) {
  Transaction transaction(connection, TransactionMode::ReadOnlyWaitingReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL(kOwnIsolationSql);
  query.Open();
  const std::int64_t mode = query.Eof() ? 0 : WholeNumber(query.Row().front());
  query.Close();
  return mode == kReadConsistency;
}

std::vector<PendingHolder> ListPendingHolders(Connection& connection, const PendingTable& table, std::int64_t bound) {
  // A new transaction each time: the monitoring snapshot belongs to the transaction.
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL(fmt::format(kHoldersSql, table.table, KnowsTransactionStates(connection) ? kStillActive : ""));
  std::vector<PendingHolder> holders;
  for (query.Open(); !query.Eof(); query.Next()) {
    const std::vector<FieldValue>& row = query.Row();
    PendingHolder holder;
    holder.transaction_id = WholeNumber(row[0]);
    if (holder.transaction_id >= bound) continue;
    holder.inserted = WholeNumber(row[5]) > 0;
    holder.executing = WholeNumber(row[6]) > 0;
    if (!holder.inserted && !holder.executing) continue;
    holder.attachment_id = WholeNumber(row[1]);
    holder.user = row[2].AsString();
    holder.remote_address = row[3].AsString();
    holder.remote_process = row[4].AsString();
    holders.push_back(std::move(holder));
  }
  query.Close();
  return holders;
}

PendingSettlement SettlePending(Connection& connection, const PendingTable& table, std::chrono::milliseconds timeout,
                                std::chrono::milliseconds pause) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  PendingSettlement settlement;
  settlement.highest = HighestCommittedNumber(connection, table);
  // Started after K was read, so every transaction that can hold a number up to K
  // has a smaller number.
  const std::int64_t bound = TransactionNumberNow(connection);
  for (;;) {
    settlement.still_holding = ListPendingHolders(connection, table, bound);
    if (settlement.still_holding.empty()) return settlement;
    if (std::chrono::steady_clock::now() >= deadline) return settlement;
    std::this_thread::sleep_for(pause);
  }
}

std::string DescribeHolder(const PendingHolder& holder) {
  std::string where = holder.user;
  if (!holder.remote_address.empty()) where += ", " + holder.remote_address;
  if (!holder.remote_process.empty()) where += ", " + holder.remote_process;
  const char* what =
      holder.inserted ? "inseriu movimentos e continua aberta" : "executa um comando que pode inserir movimentos";
  return fmt::format("transação {} da conexão {} ({}): {}", holder.transaction_id, holder.attachment_id, where, what);
}

}  // namespace zendrel
