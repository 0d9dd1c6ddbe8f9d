// Pending-movement reads that give up cleanly on a till's long-open transaction.
#include "sync/pending_read.h"

#include "erp/database_error.h"
#include "support/log_file.h"

namespace zendrel {
namespace {

void LogHeldByErp(std::string_view log_prefix) {
  DoSaveLog(std::string(log_prefix) +
            "Movimentos pendentes presos por uma transação do ERP ainda aberta; "
            "o envio para aqui e o próximo ciclo tenta novamente.");
}

template <typename Step>
bool RunPendingStep(Step step, std::string_view log_prefix) {
  try {
    step();
    return true;
  } catch (const DatabaseError& e) {
    if (!e.lock_timeout()) throw;
    LogHeldByErp(log_prefix);
    return false;
  }
}

}  // namespace

bool AwaitPendingSettled(Connection& connection, MonitoringMarker& marker, const PendingTable& table, bool knows_states,
                         std::chrono::seconds timeout, std::string_view log_prefix, std::int64_t& highest,
                         std::string* holders) {
  const PendingSettlement settlement = SettlePending(connection, marker, table, knows_states, timeout);
  if (!settlement.still_holding.empty()) {
    LogHeldByErp(log_prefix);
    if (holders) {
      holders->clear();
      for (const PendingHolder& holder : settlement.still_holding) {
        *holders += (holders->empty() ? "" : "\n") + DescribeHolder(holder);
      }
    }
    return false;
  }
  highest = settlement.highest.value_or(std::numeric_limits<std::int64_t>::min());
  return true;
}

bool OpenPending(Query& query, std::string_view log_prefix) {
  return RunPendingStep([&] { query.Open(); }, log_prefix);
}

bool NextPending(Query& query, std::string_view log_prefix) {
  return RunPendingStep([&] { query.Next(); }, log_prefix);
}

}  // namespace zendrel
