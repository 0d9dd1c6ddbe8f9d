// Which transactions hold a campaign's pending movements, read from the monitoring
// tables of the real server, and the wait for them: an uncommitted insert holds until
// its transaction ends; an insert into another table, an update, a read-only or a later
// transaction does not; a commit with retain gives a new number and keeps the count.
#include "sync/pending_holders.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "erp/query.h"
#include "erp/testing/test_database.h"
#include "erp/transaction.h"
#include "sync/monitoring_marker.h"

namespace zendrel {
namespace {

using std::chrono::milliseconds;
using testing::SqlSession;
using testing::TestDatabase;

constexpr const char* kInsertPontos = "INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, VALOR) VALUES ('1', 'VV', 1)";
constexpr const char* kInsertTopVendas =
    "INSERT INTO BRINDEX_MOV_TOPVENDAS (TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE) VALUES ('V', 1, '7', 1)";

class PendingHoldersTest : public ::testing::Test {
 protected:
  PendingHoldersTest() {
    db_.ConfigureConnection(relay_);
    relay_.Connect();
  }

  PendingSettlement Settle(const PendingTable& table, std::chrono::milliseconds timeout) {
    return SettlePending(relay_, marker_, table, facts_.KnowsTransactionStates(relay_), timeout);
  }

  // The holders of `table` as a settlement that began now would meet them at its first
  // look, the marker placed.
  std::vector<PendingHolder> HoldersAtAGapNow(const PendingTable& table) {
    return PendingHoldersNow(relay_, marker_, table, facts_.KnowsTransactionStates(relay_));
  }

  // Another monitoring client (a tool, -status) takes a snapshot: every attachment that
  // made a call since its last write writes its data now, and not again until its next
  // call.
  void AnotherClientLooksAtTheMonitoringTables() const {
    auto observer = db_.OpenSession();
    observer->Execute("EXECUTE BLOCK AS DECLARE N INTEGER; BEGIN SELECT COUNT(*) FROM MON$TRANSACTIONS INTO N; END");
    observer->Rollback();
  }

  static bool Lists(const std::vector<PendingHolder>& holders, std::int64_t transaction) {
    for (const PendingHolder& holder : holders) {
      if (holder.transaction_id == transaction) return true;
    }
    return false;
  }

  // The holders of `table` as a transaction started now would see them.
  std::vector<PendingHolder> HoldersNow(const PendingTable& table) {
    return ListPendingHolders(relay_, table, TransactionNumberNow(relay_));
  }

  // The relay settles only where the waiting read does not wait itself; elsewhere (and
  // without the server's transaction states) a commit can leave stale monitoring data.
  bool RelaySettlesHere() { return ReadCommittedPassesUncommittedInserts(relay_); }
  static constexpr const char* kNoSettling = "this server waits in the read itself; the relay does not settle here";

  TestDatabase db_;
  Connection relay_;
  MonitoringMarker marker_{relay_};
  PendingServerFacts facts_;
};

TEST_F(PendingHoldersTest, AnUncommittedInsertHoldsItsTableOnly) {
  struct Case {
    const char* name;
    const char* statement;
    bool holds_pontos;
    bool holds_top_vendas;
  };
  const Case cases[] = {
      {"points movement", kInsertPontos, true, false},
      {"top-sales movement", kInsertTopVendas, false, true},
      {"update of another table", "UPDATE PADRAO SET RAZAOSOCIAL = 'X'", false, false},
  };
  db_.Execute("INSERT INTO PADRAO (CODIGO) VALUES (1)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto till = db_.OpenSession();
    till->Execute(c.statement);  // left open
    EXPECT_EQ(HoldersNow(kPontosTable).size(), c.holds_pontos ? 1U : 0U);
    EXPECT_EQ(HoldersNow(kTopVendasTable).size(), c.holds_top_vendas ? 1U : 0U);
    till->Commit();
    EXPECT_TRUE(HoldersNow(kPontosTable).empty()) << "a committed transaction still holds";
    EXPECT_TRUE(HoldersNow(kTopVendasTable).empty()) << "a committed transaction still holds";
  }
}

TEST_F(PendingHoldersTest, AHolderNamesItsTransactionAndAttachment) {
  auto till = db_.OpenSession();
  till->Execute(kInsertPontos);
  const auto holders = HoldersNow(kPontosTable);
  ASSERT_EQ(holders.size(), 1U);
  EXPECT_TRUE(holders[0].inserted);
  EXPECT_GT(holders[0].transaction_id, 0);
  EXPECT_GT(holders[0].attachment_id, 0);
  EXPECT_EQ(holders[0].user, "SYSDBA");
  const std::string text = DescribeHolder(holders[0]);
  EXPECT_NE(text.find(std::to_string(holders[0].transaction_id)), std::string::npos) << text;
  EXPECT_NE(text.find("inseriu movimentos"), std::string::npos) << text;
}

TEST_F(PendingHoldersTest, ATransactionStartedAfterTheBoundDoesNotHold) {
  // Whatever it inserts is numbered above the highest number read before the bound.
  const std::int64_t bound = TransactionNumberNow(relay_);
  auto till = db_.OpenSession();
  till->Execute(kInsertPontos);
  EXPECT_TRUE(ListPendingHolders(relay_, kPontosTable, bound).empty());
  EXPECT_EQ(HoldersNow(kPontosTable).size(), 1U);
}

TEST_F(PendingHoldersTest, CommitRetainGivesANewNumberAndKeepsTheInsertCount) {
  auto till = db_.OpenSession();
  till->Execute(kInsertPontos);
  const auto before = HoldersNow(kPontosTable);
  ASSERT_EQ(before.size(), 1U);
  const std::int64_t bound_between = TransactionNumberNow(relay_);
  till->Execute("COMMIT RETAIN");
  // The movement is committed now.
  EXPECT_EQ(HighestCommittedNumber(relay_, kPontosTable), std::optional<std::int64_t>(1));
  // The retained transaction goes on under a number above any bound taken before the
  // retain, so a settlement that began before it no longer waits for it...
  EXPECT_TRUE(ListPendingHolders(relay_, kPontosTable, bound_between).empty());
  // ...but it keeps its insert count: one that begins later waits for it although it
  // has nothing uncommitted, until it commits again or ends.
  const auto after = HoldersNow(kPontosTable);
  ASSERT_EQ(after.size(), 1U);
  EXPECT_GT(after[0].transaction_id, before[0].transaction_id);
  EXPECT_EQ(after[0].attachment_id, before[0].attachment_id);
  EXPECT_TRUE(after[0].inserted);
  const std::int64_t bound_after = TransactionNumberNow(relay_);
  // A retain with nothing written since the last one keeps the number: still held.
  till->Execute("COMMIT RETAIN");
  const auto idle = ListPendingHolders(relay_, kPontosTable, bound_after);
  ASSERT_EQ(idle.size(), 1U);
  EXPECT_EQ(idle[0].transaction_id, after[0].transaction_id);
  // A retain after a write gives a number above the bound again.
  till->Execute("INSERT INTO FUNCIONARIOS (CODIGO) VALUES (1)");
  till->Execute("COMMIT RETAIN");
  EXPECT_TRUE(ListPendingHolders(relay_, kPontosTable, bound_after).empty());
}

TEST_F(PendingHoldersTest, ASettlementWaitsForTheTillsAndPassesRolledBackHoles) {
  if (!RelaySettlesHere()) GTEST_SKIP() << kNoSettling;
  struct Case {
    const char* name;
    bool commit;
  };
  for (const Case c : {Case{"commit", true}, Case{"rollback", false}}) {
    SCOPED_TRACE(c.name);
    auto till_a = db_.OpenSession();
    auto till_b = db_.OpenSession();
    till_a->Execute(kInsertPontos);  // takes the lower number, left open
    till_b->Execute(kInsertPontos);
    till_b->Commit();
    const auto highest_before = HighestCommittedNumber(relay_, kPontosTable);
    ASSERT_TRUE(highest_before.has_value());
    const auto started = std::chrono::steady_clock::now();
    auto ends = std::async(std::launch::async, [&] {
      std::this_thread::sleep_for(milliseconds(800));
      if (c.commit) {
        till_a->Commit();
      } else {
        till_a->Rollback();
      }
    });
    const PendingSettlement settlement = Settle(kPontosTable, std::chrono::seconds(30));
    const auto waited = std::chrono::steady_clock::now() - started;
    ends.get();
    EXPECT_TRUE(settlement.still_holding.empty());
    EXPECT_EQ(settlement.highest, highest_before);
    EXPECT_GE(waited, milliseconds(700)) << "it did not wait for the till";
  }
}

TEST_F(PendingHoldersTest, ASettlementGivesUpAtTheTimeOutNamingTheHolder) {
  if (!RelaySettlesHere()) GTEST_SKIP() << kNoSettling;
  auto till = db_.OpenSession();
  till->Execute(kInsertPontos);
  const auto started = std::chrono::steady_clock::now();
  const PendingSettlement settlement = Settle(kPontosTable, std::chrono::seconds(3));
  const auto waited = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(settlement.still_holding.size(), 1U);
  EXPECT_TRUE(settlement.still_holding[0].inserted);
  EXPECT_GE(waited, milliseconds(3000));
  EXPECT_LT(waited, std::chrono::seconds(30));
  // The pauses double from 100 ms up to 1 s: looks at about 0, 0.1, 0.3, 0.7, 1.5,
  // 2.5 and 3 s. A slow machine makes fewer; pauses that stayed at 100 ms would make 30.
  EXPECT_GE(settlement.looks, 2);
  EXPECT_LE(settlement.looks, 9);
}

TEST_F(PendingHoldersTest, AnEmptyTableHasNoHighestNumber) {
  if (!RelaySettlesHere()) GTEST_SKIP() << kNoSettling;
  const PendingSettlement settlement = Settle(kPontosTable, std::chrono::seconds(5));
  EXPECT_FALSE(settlement.highest.has_value());
  EXPECT_TRUE(settlement.still_holding.empty());
}

TEST_F(PendingHoldersTest, AStatementStillRunningHoldsUntilItEnds) {
  // A running statement may be the insert whose number is taken and whose row is not
  // stored yet. A long loop in a read-write transaction stands for it.
  auto till = db_.OpenSession();
  till->Execute("UPDATE PADRAO SET RAZAOSOCIAL = 'X'");  // a read-write transaction
  auto running = std::async(std::launch::async, [&] {
    till->Execute(
        "EXECUTE BLOCK AS DECLARE I INTEGER = 0; "
        "BEGIN WHILE (I < 20000000) DO I = I + 1; END");
  });
  bool seen = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!seen && running.wait_for(milliseconds(0)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < deadline) {
    for (const PendingHolder& holder : HoldersNow(kPontosTable)) seen = seen || holder.executing;
    std::this_thread::sleep_for(milliseconds(20));
  }
  running.get();
  EXPECT_TRUE(seen) << "a running statement of a read-write transaction was never listed";
  EXPECT_TRUE(HoldersNow(kPontosTable).empty()) << "an idle transaction without inserts still holds";
  till->Rollback();
}

TEST_F(PendingHoldersTest, TheServerIsAskedAboutItsReadsOncePerAttachment) {
  PendingServerFacts facts;
  const bool passes = facts.ReadPassesUncommittedInserts(relay_);
  const bool knows_states = facts.KnowsTransactionStates(relay_);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(facts.ReadPassesUncommittedInserts(relay_), passes);
    EXPECT_EQ(facts.KnowsTransactionStates(relay_), knows_states);
  }
  EXPECT_EQ(facts.questions(), 1);
  EXPECT_EQ(passes, ReadCommittedPassesUncommittedInserts(relay_));
  // A new attachment may be to another server.
  relay_.Disconnect();
  relay_.Connect();
  EXPECT_EQ(facts.ReadPassesUncommittedInserts(relay_), passes);
  EXPECT_EQ(facts.questions(), 2);
}

TEST_F(PendingHoldersTest, ACursorBetweenTwoFetchesOfAProcedureThatInsertsLaterHolds) {
  // The procedure takes a number, hands rows out, and inserts the movement only after
  // the last of them: while the till has not fetched them all, the number is taken and
  // no row is stored.
  db_.Execute(
      "CREATE PROCEDURE TAKE_THEN_INSERT RETURNS (N BIGINT) AS DECLARE I INTEGER = 0; BEGIN "
      "N = NEXT VALUE FOR GEN_BRINDEX_PONTOS; "
      "WHILE (I < 100000) DO BEGIN I = I + 1; SUSPEND; END "
      "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, TIPOMOVIMENTO, VALOR) VALUES (:N, '1', 'VV', 1); END");
  Connection till;
  db_.ConfigureConnection(till);
  till.Connect();
  Transaction sale(till, TransactionMode::ReadWriteReadCommitted, false);
  sale.StartTransaction();
  Query cursor(till, sale);
  cursor.SetSQL("SELECT N FROM TAKE_THEN_INSERT");
  cursor.Open();
  const auto holders = HoldersNow(kPontosTable);
  ASSERT_EQ(holders.size(), 1U) << "a cursor waiting for its next fetch was not counted";
  EXPECT_TRUE(holders[0].executing);
  EXPECT_FALSE(holders[0].inserted);
  cursor.Close();
  sale.Rollback();
  EXPECT_TRUE(HoldersNow(kPontosTable).empty());
}

// The marker: the monitoring data of an attachment that has made no call since before
// the marker may have been written at the start of its last call, before an insert, so
// each of its read-write transactions holds until its next call. Each case leaves a
// till with a read-write transaction that holds nothing of the campaign.
TEST_F(PendingHoldersTest, AnAttachmentSilentSinceBeforeTheMarkerHoldsUntilItsNextCall) {
  struct Case {
    const char* name;
    // The till's data was written after its last call (and so is not written again
    // before its next one).
    bool written_since_its_last_call;
  };
  for (const Case c : {Case{"written since its last call", true}, Case{"not written since its last call", false}}) {
    SCOPED_TRACE(c.name);
    auto till = db_.OpenSession();
    till->Execute("INSERT INTO FUNCIONARIOS (CODIGO) VALUES (1)");
    if (c.written_since_its_last_call) AnotherClientLooksAtTheMonitoringTables();
    const auto first = HoldersAtAGapNow(kPontosTable);
    if (c.written_since_its_last_call) {
      // Its entry lies before the marker's: it holds, though its data shows nothing.
      ASSERT_EQ(first.size(), 1U) << "a till silent since before the marker was not held";
      EXPECT_TRUE(first[0].unseen_since_marker);
      EXPECT_FALSE(first[0].inserted);
      EXPECT_NE(DescribeHolder(first[0]).find("nenhuma chamada"), std::string::npos) << DescribeHolder(first[0]);
      // Without the marker the same data shows nothing.
      EXPECT_TRUE(HoldersNow(kPontosTable).empty());
    } else {
      // The marker's own snapshot had it write its data, after the marker's.
      EXPECT_TRUE(first.empty()) << "a till that wrote its data after the marker still holds";
    }
    // Any call of the till has it write its data again, after the marker.
    till->Execute("EXECUTE BLOCK AS BEGIN END");
    EXPECT_TRUE(HoldersAtAGapNow(kPontosTable).empty()) << "a till that made a call since the marker still holds";
    till->Rollback();
  }
}

TEST_F(PendingHoldersTest, ARetainingTillHoldsAtAGapOnlyWhileItStaysSilent) {
  auto till = db_.OpenSession();
  till->Execute(kInsertPontos);
  till->Execute("COMMIT RETAIN");
  AnotherClientLooksAtTheMonitoringTables();
  const auto idle = HoldersAtAGapNow(kPontosTable);
  ASSERT_EQ(idle.size(), 1U);
  EXPECT_TRUE(idle[0].unseen_since_marker);
  // Ended, it holds nothing.
  till->Rollback();
  EXPECT_TRUE(HoldersAtAGapNow(kPontosTable).empty());
}

}  // namespace
}  // namespace zendrel
