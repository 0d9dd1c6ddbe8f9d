// The marker attachment (see monitoring_marker.h).
#include "sync/monitoring_marker.h"

#include "erp/database_error.h"

namespace zendrel {
namespace {

// One call that takes the snapshot (its own data is written first) and returns
// nothing, so that no fetch follows it: any later call would let the marker write its
// data again at the tail.
constexpr const char* kSnapshotBlock =
    "EXECUTE BLOCK AS DECLARE N INTEGER; "
    "BEGIN SELECT COUNT(*) FROM MON$DATABASE INTO N; END";

}  // namespace

MonitoringMarker::MonitoringMarker(const Connection& like)
    : like_(like), transaction_(connection_, TransactionMode::ReadOnlyReadCommitted, false) {}

MonitoringMarker::~MonitoringMarker() { Lift(); }

std::int64_t MonitoringMarker::Place() {
  Lift();
  if (!connection_.Connected()) {
    connection_.Params() = like_.Params();
    connection_.SetClientLibrary(like_.client_library());
    connection_.Connect();
  }
  const auto read_id = [&] {
    Transaction own(connection_, TransactionMode::ReadOnlyReadCommitted, true);
    Query query(connection_, own);
    query.SetSQL("SELECT CURRENT_CONNECTION FROM RDB$DATABASE");
    query.Open();
    attachment_id_ = query.Row().front().unscaled();
    query.Close();
    id_generation_ = connection_.generation();
  };
  if (id_generation_ != connection_.generation()) read_id();
  transaction_.StartTransaction();
  snapshot_ = std::make_unique<Query>(connection_, transaction_);
  snapshot_->SetSQL(kSnapshotBlock);
  snapshot_->ExecSQL();
  // A reconnection on the way gave the marker a new attachment; asking its id now
  // moves the entry later, which only makes fewer attachments count as written since.
  if (id_generation_ != connection_.generation()) read_id();
  return attachment_id_;
}

void MonitoringMarker::Detach() noexcept {
  Lift();
  connection_.Disconnect();
}

void MonitoringMarker::Lift() noexcept {
  snapshot_.reset();
  try {
    transaction_.Rollback();
  } catch (const DatabaseError&) {
    // A lost attachment took the snapshot's transaction with it; nothing is left.
  }
}

}  // namespace zendrel
