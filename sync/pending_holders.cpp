// The monitoring-table reads that tell which transactions may hold uncommitted
// movements, and the wait for them.
#include "sync/pending_holders.h"

#include <fmt/format.h>

#include <algorithm>
#include <thread>

#include "erp/query.h"
#include "erp/transaction.h"
#include "sync/monitoring_marker.h"

namespace zendrel {
namespace {

std::int64_t WholeNumber(const FieldValue& value) { return value.is_sql_null() ? 0 : value.unscaled(); }

// Every transaction's activity, aggregated once: the transactions themselves (state 1:
// a request of it is running, a cursor between fetches included), their insert count
// for the table (statistics group 2 is a transaction's), and the statements running or
// waiting for their next fetch (states 1 and 2). Only inner joins on equal columns, so
// that the unindexed monitoring tables are each read once (hash joins). Read-only
// transactions cannot insert.
constexpr const char* kHoldersSql =
    "SELECT T.MON$TRANSACTION_ID, T.MON$ATTACHMENT_ID, A.MON$USER, A.MON$REMOTE_ADDRESS,\n"
    "       A.MON$REMOTE_PROCESS, H.INSERTS, H.RUNNING\n"
    "FROM (SELECT X.TRANSACTION_ID, MAX(X.INSERTS) AS INSERTS, MAX(X.RUNNING) AS RUNNING\n"
    "        FROM (SELECT T.MON$TRANSACTION_ID AS TRANSACTION_ID, 0 AS INSERTS, T.MON$STATE AS RUNNING\n"
    "                FROM MON$TRANSACTIONS T\n"
    "              UNION ALL\n"
    "              SELECT T.MON$TRANSACTION_ID, R.MON$RECORD_INSERTS, 0\n"
    "                FROM MON$TRANSACTIONS T\n"
    "                JOIN MON$TABLE_STATS S ON S.MON$STAT_ID = T.MON$STAT_ID\n"
    "                JOIN MON$RECORD_STATS R ON R.MON$STAT_ID = S.MON$RECORD_STAT_ID\n"
    "               WHERE S.MON$STAT_GROUP = 2 AND S.MON$TABLE_NAME = '{0}'\n"
    "              UNION ALL\n"
    "              SELECT M.MON$TRANSACTION_ID, 0, 1 FROM MON$STATEMENTS M WHERE M.MON$STATE IN (1, 2)) X\n"
    "       GROUP BY X.TRANSACTION_ID) H\n"
    "JOIN MON$TRANSACTIONS T ON T.MON$TRANSACTION_ID = H.TRANSACTION_ID\n"
    "JOIN MON$ATTACHMENTS A ON A.MON$ATTACHMENT_ID = T.MON$ATTACHMENT_ID\n"
    "WHERE T.MON$ATTACHMENT_ID <> CURRENT_CONNECTION\n"
    "  AND A.MON$SYSTEM_FLAG = 0\n"
    "  AND T.MON$READ_ONLY = 0\n"
    "  AND T.MON$TRANSACTION_ID < {1}\n"
    "{2}"
    "ORDER BY T.MON$TRANSACTION_ID";

// An attachment's data outlives a commit until its next call, showing a transaction
// that has ended. Firebird 4 and later answer a transaction's state: 0 active, -1 in
// limbo (it may still commit), -2 dead (rolled back), above 0 committed.
constexpr const char* kStillActive = "  AND RDB$GET_TRANSACTION_CN(T.MON$TRANSACTION_ID) IN (0, -1)\n";

// The attachments in the order of their last write of monitoring data (a plain scan
// lists them as the snapshot holds them).
constexpr const char* kWriteOrderSql = "SELECT MON$ATTACHMENT_ID FROM MON$ATTACHMENTS";

// The isolation mode the server gives a transaction asked for as read committed
// without record versions: 4 is READ CONSISTENCY.
constexpr const char* kOwnIsolationSql =
    "SELECT MON$ISOLATION_MODE FROM MON$TRANSACTIONS WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION";
constexpr std::int64_t kReadConsistency = 4;

bool AsksTransactionStates(Connection& connection) {
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

// The attachments that wrote their data after the marker did (nothing when the marker
// is not listed: then none counts as written since).
std::vector<std::int64_t> WrittenAfter(Query& query, std::int64_t marker) {
  std::vector<std::int64_t> after;
  bool marker_seen = false;
  query.SetSQL(kWriteOrderSql);
  for (query.Open(); !query.Eof(); query.Next()) {
    const std::int64_t attachment = WholeNumber(query.Row().front());
    if (marker_seen) after.push_back(attachment);
    if (attachment == marker) marker_seen = true;
  }
  query.Close();
  return after;
}

bool Contains(const std::vector<std::int64_t>& values, std::int64_t value) {
  for (const std::int64_t v : values) {
    if (v == value) return true;
  }
  return false;
}

}  // namespace

void PendingServerFacts::Learn(Connection& connection) {
  if (connection_ == &connection && generation_ == connection.generation()) return;
  passes_ = ReadCommittedPassesUncommittedInserts(connection);
  knows_states_ = AsksTransactionStates(connection);
  ++questions_;
  connection_ = &connection;
  generation_ = connection.generation();
}

bool PendingServerFacts::ReadPassesUncommittedInserts(Connection& connection) {
  Learn(connection);
  return passes_;
}

bool PendingServerFacts::KnowsTransactionStates(Connection& connection) {
  Learn(connection);
  return knows_states_;
}

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

std::vector<PendingHolder> ListPendingHolders(Connection& connection, const HoldersLook& look) {
  // One transaction for both queries: the monitoring snapshot belongs to it, and a new
  // one each look.
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, false);
  transaction.StartTransaction();
  Query query(connection, transaction);
  std::vector<std::int64_t> written_since;
  if (look.marker_attachment) written_since = WrittenAfter(query, *look.marker_attachment);
  query.SetSQL(fmt::format(kHoldersSql, look.table.table, look.bound, look.knows_states ? kStillActive : ""));
  std::vector<PendingHolder> holders;
  for (query.Open(); !query.Eof(); query.Next()) {
    const std::vector<FieldValue>& row = query.Row();
    PendingHolder holder;
    holder.transaction_id = WholeNumber(row[0]);
    holder.attachment_id = WholeNumber(row[1]);
    holder.inserted = WholeNumber(row[5]) > 0;
    holder.executing = WholeNumber(row[6]) > 0;
    holder.unseen_since_marker = look.marker_attachment && !Contains(written_since, holder.attachment_id);
    if (!holder.inserted && !holder.executing && !holder.unseen_since_marker) continue;
    holder.user = row[2].AsString();
    holder.remote_address = row[3].AsString();
    holder.remote_process = row[4].AsString();
    holders.push_back(std::move(holder));
  }
  query.Close();
  transaction.Commit();
  return holders;
}

std::vector<PendingHolder> ListPendingHolders(Connection& connection, const PendingTable& table, std::int64_t bound) {
  return ListPendingHolders(connection, HoldersLook{table, bound, AsksTransactionStates(connection), std::nullopt});
}

PendingSettlement SettlePending(Connection& connection, MonitoringMarker& marker, const PendingTable& table,
                                bool knows_states, std::chrono::milliseconds timeout, LookPauses pauses) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  PendingSettlement settlement;
  settlement.highest = HighestCommittedNumber(connection, table);
  // Started after K was read, so every transaction that can hold a number up to K
  // has a smaller number.
  HoldersLook look{table, TransactionNumberNow(connection), knows_states, std::nullopt};
  // Placed after K was read: what was written after it was written after K.
  const PlacedMarker placed(marker);
  look.marker_attachment = placed.attachment_id();
  std::chrono::milliseconds pause = pauses.first;
  for (;;) {
    settlement.still_holding = ListPendingHolders(connection, look);
    ++settlement.looks;
    if (settlement.still_holding.empty()) return settlement;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return settlement;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, pauses.longest);
  }
}

std::vector<PendingHolder> PendingHoldersNow(Connection& connection, MonitoringMarker& marker,
                                             const PendingTable& table, bool knows_states) {
  HoldersLook look{table, TransactionNumberNow(connection), knows_states, std::nullopt};
  const PlacedMarker placed(marker);
  look.marker_attachment = placed.attachment_id();
  return ListPendingHolders(connection, look);
}

std::string DescribeHolder(const PendingHolder& holder) {
  std::string where = holder.user;
  if (!holder.remote_address.empty()) where += ", " + holder.remote_address;
  if (!holder.remote_process.empty()) where += ", " + holder.remote_process;
  const char* what = holder.inserted    ? "inseriu movimentos e continua aberta"
                     : holder.executing ? "executa um comando ou tem um cursor aberto que pode inserir movimentos"
                                        : "está aberta e a conexão não fez nenhuma chamada ao servidor desde o início "
                                          "da espera (retida até a próxima chamada dela)";
  return fmt::format("transação {} da conexão {} ({}): {}", holder.transaction_id, holder.attachment_id, where, what);
}

}  // namespace zendrel
