// Transactions with their parameter blocks and their automatic start and end.
#include "erp/transaction.h"

#include "erp/database_error.h"
#include "erp/firebird_client.h"

namespace zendrel {
namespace {

// The layout of isc_start_multiple's transaction existence block.
struct TransactionExistenceBlock {
  isc_db_handle* database;
  int tpb_length;
  const char* tpb;
};

}  // namespace

Transaction::Transaction(Connection& connection, TransactionMode mode, bool auto_start_commit,
                         std::chrono::seconds lock_timeout)
    : connection_(connection), mode_(mode), auto_start_commit_(auto_start_commit), lock_timeout_(lock_timeout) {
  connection_.Register(this, true);
}

Transaction::~Transaction() {
  ReleaseHandles(connection_.Connected());
  connection_.Unregister(this);
}

std::string Transaction::ParameterBlock() const {
  std::string tpb;
  tpb += static_cast<char>(isc_tpb_version3);
  tpb += static_cast<char>(mode_ == TransactionMode::ReadWriteReadCommitted ? isc_tpb_write : isc_tpb_read);
  tpb += static_cast<char>(isc_tpb_read_committed);
  tpb += static_cast<char>(mode_ == TransactionMode::ReadOnlyWaitingReadCommitted ? isc_tpb_no_rec_version
                                                                                  : isc_tpb_rec_version);
  // Waiting, but never forever: an ERP transaction left open must not hang the cycle.
  tpb += static_cast<char>(isc_tpb_wait);
  const auto seconds = static_cast<std::uint32_t>(std::max<std::int64_t>(1, lock_timeout_.count()));
  tpb += static_cast<char>(isc_tpb_lock_timeout);
  tpb += '\4';
  for (int shift = 0; shift < 32; shift += 8) tpb += static_cast<char>((seconds >> shift) & 0xFF);
  return tpb;
}

bool Transaction::Active() const { return handle_ != 0 && generation_ == connection_.generation(); }

void Transaction::StartTransaction() {
  if (!connection_.Connected()) {
    throw DatabaseError("Conexão com o banco de dados não está aberta", DatabaseError::kDataLayer);
  }
  if (Active()) throw DatabaseError("A transação já está ativa", DatabaseError::kDataLayer);
  if (handle_ != 0) DropHandle();  // left over from an attachment that was lost
  const std::string tpb = ParameterBlock();
  TransactionExistenceBlock teb{connection_.handle(), static_cast<int>(tpb.size()), tpb.data()};
  ISC_STATUS_ARRAY status{};
  const FirebirdApi& api = connection_.api();
  api.start_multiple(status, &handle_, 1, &teb);
  connection_.Check(status);
  generation_ = connection_.generation();
  users_ = 0;
  lost_ = false;
}

void Transaction::Commit() {
  if (lost_) {
    lost_ = false;
    throw DatabaseError("A transação foi perdida com a conexão com o banco de dados; nada foi gravado",
                        DatabaseError::kDataLayer);
  }
  if (!Active()) return;
  ISC_STATUS_ARRAY status{};
  const FirebirdApi& api = connection_.api();
  api.commit_transaction(status, &handle_);
  if (status[0] == 1 && status[1] != 0) {
    try {
      connection_.Check(status);
    } catch (const DatabaseError& error) {
      if (error.connection_lost()) {
        // A commit the server never answered leaves nothing to end here.
        DropHandle();
      } else {
        // A refused commit leaves the transaction open, holding its locks, and its
        // work could later be committed together with another statement's: it is
        // rolled back here, so that what is stored stays as it was.
        EndAfterFailedCommit();
      }
      throw;
    }
  }
  handle_ = 0;
  users_ = 0;
}

void Transaction::Rollback() {
  lost_ = false;
  if (!Active()) {
    if (handle_ != 0) DropHandle();
    return;
  }
  ISC_STATUS_ARRAY status{};
  const FirebirdApi& api = connection_.api();
  api.rollback_transaction(status, &handle_);
  if (status[0] == 1 && status[1] != 0) {
    try {
      connection_.Check(status);
    } catch (const DatabaseError& error) {
      // Whatever it held died with the connection: nothing is left to undo.
      DropHandle();
      if (!error.connection_lost()) throw;
      return;
    }
  }
  handle_ = 0;
  users_ = 0;
}

void Transaction::BeginUse() {
  if (!Active()) {
    if (!auto_start_commit_) {
      if (lost_) {
        throw DatabaseError("A transação foi perdida com a conexão com o banco de dados", DatabaseError::kDataLayer);
      }
      throw DatabaseError("A transação não está ativa", DatabaseError::kDataLayer);
    }
    StartTransaction();
  }
  ++users_;
}

void Transaction::EndUse(bool succeeded) {
  if (users_ > 0) --users_;
  if (!auto_start_commit_ || users_ > 0 || !Active()) return;
  if (succeeded) {
    Commit();
    return;
  }
  try {
    Rollback();
  } catch (const DatabaseError&) {
    DropHandle();
  }
}

void Transaction::EndAfterFailedCommit() noexcept {
  ISC_STATUS_ARRAY status{};
  connection_.api().rollback_transaction(status, &handle_);
  // A rollback that fails too (the connection went meanwhile) still ends it here.
  DropHandle();
}

void Transaction::DropHandle() noexcept {
  if (handle_ != 0 && connection_.Connected()) {
    ISC_STATUS_ARRAY status{};
    connection_.api().disconnect_transaction(status, &handle_);
  }
  handle_ = 0;
  users_ = 0;
}

void Transaction::ReleaseHandles(bool attachment_alive) noexcept {
  if (handle_ == 0) return;
  const bool was_active = Active();
  if (attachment_alive && was_active) {
    ISC_STATUS_ARRAY status{};
    connection_.api().rollback_transaction(status, &handle_);
  }
  DropHandle();
  // An explicit transaction that dies with the connection must not look as if its
  // work could still be committed.
  lost_ = was_active && !attachment_alive && !auto_start_commit_;
}

}  // namespace zendrel
