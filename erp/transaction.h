// A transaction of the connection, in one of the modes below: automatic ones start
// and end by themselves around their statements, explicit ones are started and
// ended by their users.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "erp/connection.h"

namespace zendrel {

enum class TransactionMode {
  // Read committed with record versions: never waits, sees the last committed version.
  ReadOnlyReadCommitted,
  ReadWriteReadCommitted,
  // Read committed without record versions, waiting with a lock time-out: a row that
  // another transaction inserted and has not yet ended is waited for, not skipped.
  ReadOnlyWaitingReadCommitted,
};

class Transaction final : public AttachmentUser {
 public:
  // `auto_start_commit`: started when a statement needs it, committed when its last
  // open statement ends. `lock_timeout`: how long a lock wait lasts before failing.
  Transaction(Connection& connection, TransactionMode mode, bool auto_start_commit,
              std::chrono::seconds lock_timeout = std::chrono::seconds(60));
  ~Transaction() override;
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Starts it. Throws DatabaseError when it is already active or the server refuses.
  void StartTransaction();
  // Commits it. Nothing to do when it is not active; throws DatabaseError when it
  // died with a lost connection (its work is gone) or the commit fails. A commit that
  // the server refuses rolls the transaction back: afterwards it is not active.
  void Commit();
  // Rolls it back; nothing to do when it is not active. A transaction whose
  // connection is gone is simply let go of.
  void Rollback();
  bool Active() const;

  bool auto_start_commit() const { return auto_start_commit_; }
  std::chrono::seconds lock_timeout() const { return lock_timeout_; }

  // --- For the data layer's statements ---

  // A statement is about to run in it: an automatic transaction starts when needed,
  // an explicit one must be active (else DatabaseError).
  void BeginUse();
  // A statement that called BeginUse has ended. When it was the last one, an
  // automatic transaction commits (or rolls back after a failure: `succeeded`
  // false; that path never throws).
  void EndUse(bool succeeded);
  ClientHandle* handle() { return &handle_; }

  void ReleaseHandles(bool attachment_alive) noexcept override;

 private:
  std::string ParameterBlock() const;
  void DropHandle() noexcept;
  void EndAfterFailedCommit() noexcept;

  Connection& connection_;
  TransactionMode mode_;
  bool auto_start_commit_;
  std::chrono::seconds lock_timeout_;
  ClientHandle handle_ = 0;
  std::uint64_t generation_ = 0;
  int users_ = 0;
  bool lost_ = false;
};

}  // namespace zendrel
