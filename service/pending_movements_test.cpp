// Movements that ERP tills commit out of order: the relay waits for a movement that is
// inserted but not yet committed instead of passing over it, gives up on the campaign
// for this cycle when the wait runs out, and goes past a movement that was rolled back.
#include <chrono>
#include <functional>
#include <thread>

#include "service/testing/poll_cycle_fixture.h"
#include "sync/pending_holders.h"
#include "support/testing/eventually.h"

namespace zendrel::testing {
namespace {

std::vector<std::string> Legados(const std::vector<RecordedRequest>& postings) {
  std::vector<std::string> legados;
  for (const RecordedRequest& r : postings) legados.push_back(FormField(r.body, "legado"));
  return legados;
}

class PendingMovements : public PollCycle {
 protected:
  // Runs one cycle while `till_action` runs on another thread once the cycle is waiting
  // for the till's uncommitted row of `table`, so the action is what ends the wait.
  // Where the cycle waits before its read, it has then posted exactly the movements
  // below the first missing number (`posted_before_the_wait`, their legado codes).
  void RunCycleWhileATill(const std::string& table, const std::function<void()>& till_action,
                          const std::vector<std::string>& posted_before_the_wait = {}) {
    const bool waits_before_reading = RelayWaitsBeforeItReads();
    std::thread till([&] {
      const bool waiting = Eventually([&] { return CycleIsWaitingOn(table, waits_before_reading); });
      EXPECT_TRUE(waiting) << "the cycle never waited for the till's row of " << table;
      if (waits_before_reading) {
        EXPECT_EQ(Legados(Postings()), posted_before_the_wait) << "the cycle waited before the wrong movement";
      }
      till_action();
    });
    EXPECT_TRUE(RunCycle()) << last_error_;
    till.join();
  }

  // Where a read-committed read waits for an uncommitted insert (Firebird 3, and later
  // versions with ReadConsistency 0), the cycle waits inside its read of the movements.
  // Where it passes over one, the cycle sends what lies below the first missing number
  // and then waits for the tills, before it reads on.
  bool RelayWaitsBeforeItReads() const {
    Connection connection;
    db_->ConfigureConnection(connection);
    connection.Connect();
    return ReadCommittedPassesUncommittedInserts(connection);
  }

  // A read that waits is a statement still running. The wait before the read holds the
  // snapshot of its marker attachment for as long as it lasts: that snapshot's
  // statement stays prepared until the wait ends.
  bool CycleIsWaitingOn(const std::string& table, bool waits_before_reading) const {
    if (!waits_before_reading) return db_->AnotherAttachmentIsRunningOn(table);
    const auto markers = db_->SelectInteger(
        "SELECT COUNT(*) FROM MON$STATEMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
        "AND MON$SQL_TEXT CONTAINING 'FROM MON$DATABASE INTO'");
    return markers.value_or(0) > 0;
  }

  // The next movement number is `number` + 1 (RESTART WITH means that on Firebird 3
  // and the next value itself on Firebird 4, so the generator is stepped instead).
  void LastPontosNumberTaken(int number) const {
    db_->Execute(
        fmt::format("EXECUTE BLOCK AS DECLARE N BIGINT; "
                    "BEGIN N = GEN_ID(GEN_BRINDEX_PONTOS, {} - GEN_ID(GEN_BRINDEX_PONTOS, 0)); END",
                    number));
  }

  static constexpr const char* kInsertPontos =
      "INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR, DATA) "
      "VALUES ('111.222.333-96', 'VV', {}, 10, '2026-12-10')";
  static constexpr const char* kInsertTopVendas =
      "INSERT INTO BRINDEX_MOV_TOPVENDAS (DATA, HORA, TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE, CODIGOMOVIMENTO) "
      "VALUES ('2026-12-10', '10:00:00', 'V', 1, '789', 1, {})";
};

TEST_F(PendingMovements, AMovementCommittedWhileTheCycleWaitsIsSentInOrder) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
  InsertPontos(1, "VV", 500, "10");
  LastPontosNumberTaken(200);
  auto till_a = db_->OpenSession();
  auto till_b = db_->OpenSession();
  till_a->Execute(fmt::format(kInsertPontos, 201));  // takes 201, not committed yet
  till_b->Execute(fmt::format(kInsertPontos, 202));  // takes 202
  till_b->Commit();

  RunCycleWhileATill("BRINDEX_PONTOS", [&] { till_a->Commit(); }, {"500"});

  EXPECT_EQ(Legados(Postings()), (std::vector<std::string>{"500", "201", "202"}));
  EXPECT_EQ(PontosIndex(), 202);
  EXPECT_FALSE(fs::exists(log_path_));
}

TEST_F(PendingMovements, TopSalesRowsCommittedOutOfOrderAreAllSent) {
  CreateDatabase("BRINDEX_ATIVARPONTUACAO = 'N', BRINDEX_ATIVARTOPVENDA = 'Y', BRINDEX_ULTIMOENVIOTOPVENDA = 0");
  InsertFuncionario(1, "'123.456.789-09'");
  auto till_a = db_->OpenSession();
  auto till_b = db_->OpenSession();
  till_a->Execute(fmt::format(kInsertTopVendas, 71));  // SEQUENCIAL 1, not committed yet
  till_b->Execute(fmt::format(kInsertTopVendas, 72));  // SEQUENCIAL 2
  till_b->Commit();

  RunCycleWhileATill("BRINDEX_MOV_TOPVENDAS", [&] { till_a->Commit(); });

  EXPECT_EQ(Legados(Postings()), (std::vector<std::string>{"71", "72"}));
  EXPECT_EQ(TopVendasIndex(), 2);
}

// A till that keeps its transaction open past the lock time-out: this cycle stops the
// points campaign before the held movement, says so once, still runs top sales, and
// the next cycle after the commit delivers everything.
TEST_F(PendingMovements, ATransactionLeftOpenStopsOnlyThatCampaignForTheCycle) {
  pending_lock_timeout_ = std::chrono::seconds(2);  // the time-out is what this test is about
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0, BRINDEX_ATIVARTOPVENDA = 'Y'");
  InsertFuncionario(1, "'123.456.789-09'");
  db_->Execute(fmt::format(kInsertTopVendas, 90));
  InsertPontos(1, "VV", 500, "10");
  LastPontosNumberTaken(200);
  auto till_a = db_->OpenSession();
  till_a->Execute(fmt::format(kInsertPontos, 201));
  db_->Execute(fmt::format(kInsertPontos, 202));

  EXPECT_TRUE(RunCycle());
  const auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("MovimentoPontos: ", 0), 0u) << log[0];
  EXPECT_NE(log[0].find("transação do ERP ainda aberta"), std::string::npos) << log[0];
  EXPECT_LE(PontosIndex().value_or(0), 1);
  // Top sales of the same cycle still ran.
  EXPECT_EQ(Legados(Only(platform_->Requests(), "POST", "/v1/lancador")).back(), "90");
  EXPECT_EQ(TopVendasIndex(), 1);

  till_a->Commit();
  platform_->Reset();
  EXPECT_TRUE(RunCycle());
  const auto legados = Legados(Postings());
  ASSERT_GE(legados.size(), 2u);
  EXPECT_EQ(legados[legados.size() - 2], "201");
  EXPECT_EQ(legados.back(), "202");
  EXPECT_EQ(PontosIndex(), 202);
}

TEST_F(PendingMovements, ARolledBackInsertLeavesAHoleThatIsPassed) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
  LastPontosNumberTaken(200);
  db_->Execute(fmt::format(kInsertPontos, 1));  // 201: gives the campaign something to do
  auto till_a = db_->OpenSession();
  auto till_b = db_->OpenSession();
  till_a->Execute(fmt::format(kInsertPontos, 202));  // 202, to be rolled back
  till_b->Execute(fmt::format(kInsertPontos, 203));
  till_b->Commit();

  RunCycleWhileATill("BRINDEX_PONTOS", [&] { till_a->Rollback(); });

  EXPECT_EQ(Legados(Postings()), (std::vector<std::string>{"1", "203"})) << ::testing::PrintToString(Log());
  EXPECT_EQ(PontosIndex(), 203);
}

// A till that keeps one transaction all day and commits with retain keeps its insert
// count, and one that has been silent since before a wait may show data from before an
// insert; neither matters when no number is missing: nothing can still appear below the
// highest committed one, so the cycle sends everything without waiting. The wait's
// time-out is short, so a cycle that waited anyway would give up and log.
TEST_F(PendingMovements, NoMissingNumberSendsEverythingPastIdleRetainingTills) {
  pending_lock_timeout_ = std::chrono::seconds(3);
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
  InsertPontos(1, "VV", 501, "10");
  InsertPontos(2, "VV", 502, "10");
  LastPontosNumberTaken(2);
  auto retaining = db_->OpenSession();
  retaining->Execute(fmt::format(kInsertPontos, 503));  // 3
  retaining->Execute("COMMIT RETAIN");
  auto retaining_again = db_->OpenSession();
  retaining_again->Execute(fmt::format(kInsertPontos, 504));  // 4
  retaining_again->Execute("COMMIT RETAIN");
  retaining_again->Execute("INSERT INTO FUNCIONARIOS (CODIGO) VALUES (7)");  // goes on writing elsewhere

  EXPECT_TRUE(RunCycle()) << last_error_;

  EXPECT_EQ(Legados(Postings()), (std::vector<std::string>{"501", "502", "503", "504"}));
  EXPECT_EQ(PontosIndex(), 4);
  EXPECT_FALSE(fs::exists(log_path_)) << ::testing::PrintToString(Log());
}

// Rows below the first missing number go before the wait; the wait is only for what
// lies past it.
TEST_F(PendingMovements, RowsBelowTheFirstGapGoAtOnceAndTheRestAfterTheWait) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
  InsertPontos(1, "VV", 501, "10");
  InsertPontos(2, "VV", 502, "10");
  LastPontosNumberTaken(2);
  auto till_a = db_->OpenSession();
  auto till_b = db_->OpenSession();
  till_a->Execute(fmt::format(kInsertPontos, 503));  // 3, not committed yet
  till_b->Execute(fmt::format(kInsertPontos, 504));  // 4
  till_b->Commit();

  RunCycleWhileATill("BRINDEX_PONTOS", [&] { till_a->Commit(); }, {"501", "502"});

  EXPECT_EQ(Legados(Postings()), (std::vector<std::string>{"501", "502", "503", "504"}));
  EXPECT_EQ(PontosIndex(), 4);
}

}  // namespace
}  // namespace zendrel::testing
