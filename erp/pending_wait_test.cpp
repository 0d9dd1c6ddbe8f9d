// The waiting read of the pending movements: a movement that a till has inserted
// but not yet committed is waited for, never skipped, on servers whose read-committed
// mode waits (Firebird 3; Firebird 4 and 5 with ReadConsistency = 0). Where the server
// reads in READ CONSISTENCY mode instead, the same read passes over it at once: what
// the campaigns' wait for the other transactions exists for.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>

#include "erp/database_error.h"
#include "erp/query.h"
#include "erp/statements.h"
#include "erp/testing/test_database.h"
#include "support/testing/eventually.h"

namespace zendrel {
namespace {

using testing::SqlSession;
using testing::TestDatabase;

class PendingWaitTest : public ::testing::Test {
 protected:
  PendingWaitTest() {
    db_.ConfigureConnection(connection_);
    connection_.Connect();
    db_.Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF) VALUES (200, '1')");
    till_a_ = db_.OpenSession();
    till_b_ = db_.OpenSession();
    till_a_->Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF) VALUES (201, '2')");  // left open
    till_b_->Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF) VALUES (202, '3')");
    till_b_->Commit();
    Transaction waiting(connection_, TransactionMode::ReadOnlyWaitingReadCommitted, true);
    Query mode(connection_, waiting);
    mode.SetSQL("SELECT MON$ISOLATION_MODE FROM MON$TRANSACTIONS WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION");
    mode.Open();
    read_consistency_ = mode.Field("MON$ISOLATION_MODE").AsInteger() == 4;
    mode.Close();
  }

  std::vector<int> ReadPending(Transaction& transaction) {
    Query query(connection_, transaction);
    query.SetSQL(S4);
    query.SetInteger("MOVIMENTO", 200);
    std::vector<int> movements;
    for (query.Open(); !query.Eof(); query.Next()) movements.push_back(query.Field("MOVIMENTO").AsInteger());
    query.Close();
    return movements;
  }

  // Runs `till_action` on another thread once the read is waiting for the till's row,
  // so that the action is what ends the wait.
  std::future<void> WhenTheReadWaits(std::function<void()> till_action) {
    return std::async(std::launch::async, [this, till_action] {
      const bool waiting = testing::Eventually([&] { return db_.AnotherAttachmentIsRunningOn("BRINDEX_PONTOS"); });
      EXPECT_TRUE(waiting) << "the read never waited for the till";
      till_action();
    });
  }

  TestDatabase db_;
  Connection connection_;
  std::unique_ptr<SqlSession> till_a_;
  std::unique_ptr<SqlSession> till_b_;
  bool read_consistency_ = false;
};

TEST_F(PendingWaitTest, RecordVersionReadSkipsTheUncommittedMovement) {
  // Why the pending queries do not use the ordinary read-only transaction.
  Transaction read_only(connection_, TransactionMode::ReadOnlyReadCommitted, true);
  EXPECT_EQ(ReadPending(read_only), std::vector<int>{202});
}

TEST_F(PendingWaitTest, ReadConsistencyPassesTheUncommittedMovementAtOnce) {
  if (!read_consistency_) GTEST_SKIP() << "this server's waiting read waits";
  Transaction waiting(connection_, TransactionMode::ReadOnlyWaitingReadCommitted, true, std::chrono::seconds(20));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadPending(waiting), std::vector<int>{202});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST_F(PendingWaitTest, WaitingReadReturnsBothInOrderOnceTheTillCommits) {
  if (read_consistency_) GTEST_SKIP() << "READ CONSISTENCY never waits for an insert";
  Transaction waiting(connection_, TransactionMode::ReadOnlyWaitingReadCommitted, true, std::chrono::seconds(20));
  auto commit = WhenTheReadWaits([this] { till_a_->Commit(); });
  EXPECT_EQ(ReadPending(waiting), (std::vector<int>{201, 202}));
  commit.get();
  EXPECT_FALSE(waiting.Active());
}

TEST_F(PendingWaitTest, RolledBackInsertLeavesAHoleThatTheReadPasses) {
  // Under READ CONSISTENCY the read never waits; the wait for the holders passes holes
  // there (pending_holders_test).
  if (read_consistency_) GTEST_SKIP() << "READ CONSISTENCY never waits for an insert";
  Transaction waiting(connection_, TransactionMode::ReadOnlyWaitingReadCommitted, true, std::chrono::seconds(20));
  auto rollback = WhenTheReadWaits([this] { till_a_->Rollback(); });
  EXPECT_EQ(ReadPending(waiting), std::vector<int>{202});
  rollback.get();
}

TEST_F(PendingWaitTest, TransactionLeftOpenEndsTheReadWithALockTimeout) {
  if (read_consistency_) GTEST_SKIP() << "READ CONSISTENCY never waits for an insert";
  Transaction waiting(connection_, TransactionMode::ReadOnlyWaitingReadCommitted, true, std::chrono::seconds(2));
  const auto started = std::chrono::steady_clock::now();
  try {
    ReadPending(waiting);
    FAIL() << "the read went past a movement still held by a till";
  } catch (const DatabaseError& error) {
    EXPECT_TRUE(error.lock_timeout()) << error.what() << " codes: " << ::testing::PrintToString(error.codes());
    EXPECT_FALSE(error.connection_lost());
  }
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, std::chrono::milliseconds(900));  // it did wait (the server counts whole seconds)
  EXPECT_LT(waited, std::chrono::seconds(30));        // the time-out ended it, however busy the machine
  EXPECT_FALSE(waiting.Active());
  // After the till commits, the next read delivers it.
  till_a_->Commit();
  EXPECT_EQ(ReadPending(waiting), (std::vector<int>{201, 202}));
}

}  // namespace
}  // namespace zendrel
