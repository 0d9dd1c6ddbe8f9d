// The window of committed pending rows (see pending_window.h).
#include "sync/pending_window.h"

#include <fmt/format.h>

#include "erp/query.h"
#include "erp/transaction.h"

namespace zendrel {
namespace {

std::int64_t WholeNumber(const FieldValue& value) { return value.is_sql_null() ? 0 : value.unscaled(); }

// Both aggregates in one statement, so that they describe the same committed rows.
constexpr const char* kWindowSql = "SELECT COUNT(*), MIN({0}), MAX({0}) FROM {1} WHERE {0} > {2}";

// The end of the run that starts at the lowest number above the index: the lowest
// number whose successor is missing. The primary key answers each lookup.
constexpr const char* kRunEndSql =
    "SELECT MIN(R.{0}) FROM {1} R WHERE R.{0} > {2}\n"
    "   AND NOT EXISTS (SELECT 1 FROM {1} N WHERE N.{0} = R.{0} + 1)";

}  // namespace

PendingWindow ReadPendingWindow(Connection& connection, const PendingTable& table, std::int64_t after) {
  PendingWindow window;
  window.after = after;
  window.consecutive_up_to = after;
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL(fmt::format(kWindowSql, table.number_column, table.table, after));
  query.Open();
  const std::vector<FieldValue> row = query.Row();
  query.Close();
  window.count = WholeNumber(row[0]);
  if (window.count == 0) return window;
  window.highest = WholeNumber(row[2]);
  if (!window.HasGap()) {
    window.consecutive_up_to = *window.highest;
    return window;
  }
  if (WholeNumber(row[1]) != after + 1) return window;
  // Rows committed since the first statement can only lengthen the run.
  query.SetSQL(fmt::format(kRunEndSql, table.number_column, table.table, after));
  query.Open();
  window.consecutive_up_to = WholeNumber(query.Row().front());
  query.Close();
  return window;
}

}  // namespace zendrel
