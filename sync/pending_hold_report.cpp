// The "Retido por" text of -status (see pending_hold_report.h).
#include "sync/pending_hold_report.h"

#include <fmt/format.h>

#include <optional>
#include <string_view>

#include "erp/database_error.h"
#include "erp/query.h"
#include "erp/transaction.h"
#include "sync/monitoring_marker.h"
#include "sync/pending_window.h"

namespace zendrel {
namespace {

// The transaction a waiting read stopped at: the server names it in its answer
// ("concurrent transaction number is 123").
std::optional<std::int64_t> ConcurrentTransaction(const DatabaseError& error) {
  constexpr std::string_view kNamed = "concurrent transaction number is ";
  const std::string_view message = error.what();
  const std::size_t at = message.find(kNamed);
  if (at == std::string_view::npos) return std::nullopt;
  std::int64_t number = 0;
  bool digits = false;
  for (std::size_t i = at + kNamed.size(); i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i) {
    number = number * 10 + (message[i] - '0');
    digits = true;
  }
  if (!digits) return std::nullopt;
  return number;
}

// The pending rows read as the send loop reads them, waiting one second at most: the
// transaction it meets first, if any.
std::optional<std::int64_t> TransactionTheReadWaitsFor(Connection& connection, const PendingTable& table,
                                                       std::int64_t index) {
  Transaction waiting(connection, TransactionMode::ReadOnlyWaitingReadCommitted, true, std::chrono::seconds(1));
  Query query(connection, waiting);
  query.SetSQL(
      fmt::format("SELECT {0} FROM {1} WHERE {0} > {2} ORDER BY {0}", table.number_column, table.table, index));
  try {
    for (query.Open(); !query.Eof(); query.Next()) {
    }
    query.Close();
    return std::nullopt;
  } catch (const DatabaseError& e) {
    if (!e.lock_timeout()) throw;
    const std::optional<std::int64_t> holder = ConcurrentTransaction(e);
    if (!holder) throw;
    return holder;
  }
}

// Who runs transaction `number`, from the monitoring tables.
PendingHolder NameTransaction(Connection& connection, std::int64_t number) {
  PendingHolder holder;
  holder.transaction_id = number;
  holder.inserted = true;
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL(fmt::format(
      "SELECT T.MON$ATTACHMENT_ID, A.MON$USER, A.MON$REMOTE_ADDRESS, A.MON$REMOTE_PROCESS FROM MON$TRANSACTIONS T "
      "JOIN MON$ATTACHMENTS A ON A.MON$ATTACHMENT_ID = T.MON$ATTACHMENT_ID WHERE T.MON$TRANSACTION_ID = {}",
      number));
  query.Open();
  if (!query.Eof()) {
    const std::vector<FieldValue>& row = query.Row();
    holder.attachment_id = row[0].is_sql_null() ? 0 : row[0].unscaled();
    holder.user = row[1].AsString();
    holder.remote_address = row[2].AsString();
    holder.remote_process = row[3].AsString();
  }
  query.Close();
  return holder;
}

}  // namespace

std::string DescribePendingHolds(Connection& connection, const PendingTable& table, std::int64_t index) {
  PendingServerFacts facts;
  if (!facts.ReadPassesUncommittedInserts(connection)) {
    const std::string how = "este servidor espera dentro da própria leitura pelos movimentos ainda não confirmados";
    const std::optional<std::int64_t> waited_for = TransactionTheReadWaitsFor(connection, table, index);
    if (!waited_for) return how + "; nenhuma transação do ERP a prende agora";
    return how + "; a leitura espera agora por:\n" + DescribeHolder(NameTransaction(connection, *waited_for));
  }
  const PendingWindow window = ReadPendingWindow(connection, table, index);
  if (!window.HasGap()) return "nenhuma transação do ERP (nenhum número falta entre os pendentes: nada a esperar)";
  MonitoringMarker marker(connection);
  const std::vector<PendingHolder> holders =
      PendingHoldersNow(connection, marker, table, facts.KnowsTransactionStates(connection));
  std::string text = fmt::format("falta o número {} entre os pendentes; ", window.consecutive_up_to + 1);
  if (holders.empty()) return text + "nenhuma transação do ERP o prende agora";
  text += "a espera aguarda:";
  for (const PendingHolder& holder : holders) text += "\n" + DescribeHolder(holder);
  return text;
}

}  // namespace zendrel
