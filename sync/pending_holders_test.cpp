// Which transactions hold a campaign's pending movements, read from the monitoring
// tables of the real server, and the wait for them: an uncommitted insert holds until
// its transaction ends; an insert into another table, an update, a read-only or a later
// transaction does not; a commit with retain gives a new number and keeps the count.
#include "sync/pending_holders.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "erp/testing/test_database.h"

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
    const PendingSettlement settlement = SettlePending(relay_, kPontosTable, std::chrono::seconds(30));
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
  const PendingSettlement settlement = SettlePending(relay_, kPontosTable, std::chrono::seconds(1));
  const auto waited = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(settlement.still_holding.size(), 1U);
  EXPECT_TRUE(settlement.still_holding[0].inserted);
  EXPECT_GE(waited, milliseconds(1000));
  EXPECT_LT(waited, std::chrono::seconds(20));
}

TEST_F(PendingHoldersTest, AnEmptyTableHasNoHighestNumber) {
  if (!RelaySettlesHere()) GTEST_SKIP() << kNoSettling;
  const PendingSettlement settlement = SettlePending(relay_, kPontosTable, std::chrono::seconds(5));
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

}  // namespace
}  // namespace zendrel
