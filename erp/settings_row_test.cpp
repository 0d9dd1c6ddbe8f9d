// The settings row on the real server: which row, the write-back with and without a
// primary key, unchanged values, failures, the write tried again when an ERP till holds
// or changes the row, a refused commit, a commit lost with the connection, and the
// CNPJ read.
#include "erp/settings_row.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "erp/database_error.h"
#include "erp/testing/test_database.h"
#include "support/company_cnpj.h"

namespace zendrel {
namespace {

using testing::TestDatabase;

class SettingsRowTest : public ::testing::TestWithParam<bool> {
 protected:
  // `write_lock_timeout`: how long the settings write waits for a row another
  // transaction holds.
  explicit SettingsRowTest(std::chrono::seconds write_lock_timeout = std::chrono::seconds(2))
      : db_(TestDatabase::Options{.padrao_primary_key = GetParam()}),
        read_(connection_, TransactionMode::ReadOnlyReadCommitted, true),
        write_(connection_, TransactionMode::ReadWriteReadCommitted, true, write_lock_timeout),
        row_(connection_, read_, write_) {
    db_.ConfigureConnection(connection_);
    connection_.Connect();
    row_.SetWritePolicy({5, std::chrono::milliseconds(50)});
    row_.SetRetryObserver([this](int, const DatabaseError& error) {
      retries_.push_back({error.code(), error.update_conflict(), error.lock_timeout(), error.what()});
    });
  }

  // Waits until the settings write's UPDATE is running (waiting for a lock) on the
  // server; returns what did not happen, or "".
  std::string WaitForTheWriteToWait() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (db_.SelectInteger("SELECT COUNT(*) FROM MON$STATEMENTS WHERE MON$STATE = 1 "
                            "AND MON$SQL_TEXT STARTING WITH 'UPDATE PADRAO'")
              .value_or(0) > 0) {
        return "";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "the settings write never waited for the till's lock within 30 s";
  }

  struct Retry {
    long code;
    bool update_conflict;
    bool lock_timeout;
    std::string message;
  };

  std::optional<std::int64_t> Stored(const std::string& column, int codigo) const {
    return db_.SelectInteger("SELECT " + column + " FROM PADRAO WHERE CODIGO = " + std::to_string(codigo));
  }

  TestDatabase db_;
  Connection connection_;
  Transaction read_;
  Transaction write_;
  SettingsRow row_;
  std::vector<Retry> retries_;
};

// The same fixture with another lock time-out on the settings write: shorter, so that
// a held row fails quickly, or longer, so that a slow commit trigger never runs out.
template <int kWriteLockTimeoutSeconds>
class SettingsRowLockTest : public SettingsRowTest {
 protected:
  SettingsRowLockTest() : SettingsRowTest(std::chrono::seconds(kWriteLockTimeoutSeconds)) {}
};
using SettingsRowShortLockTest = SettingsRowLockTest<1>;
using SettingsRowLongLockTest = SettingsRowLockTest<20>;

TEST_P(SettingsRowTest, OnlyTheLowestCodigoIsReadAndWritten) {
  db_.RunScript(
      "INSERT INTO PADRAO (CODIGO, CGC, BRINDEX_ULTIMOENVIO, BRINDEX_ATIVARPONTUACAO) VALUES (7, '99', 70, 'N');"
      "INSERT INTO PADRAO (CODIGO, CGC, BRINDEX_ULTIMOENVIO, BRINDEX_ATIVARPONTUACAO) "
      "VALUES (3, '12.345.678/0001-95', 30, 'Y');"
      "INSERT INTO PADRAO (CODIGO, CGC, BRINDEX_ULTIMOENVIO) VALUES (5, '55', 50);");
  row_.Open();
  EXPECT_TRUE(row_.Active());
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 30);
  EXPECT_EQ(row_.ReadText("BRINDEX_ATIVARPONTUACAO"), "Y");

  row_.WriteInteger("BRINDEX_ULTIMOENVIO", 31);
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 31);  // visible at once
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 3), 31);               // and committed
  row_.WriteInteger("BRINDEX_ULTIMOENVIO", 32);                  // keyed on what is now stored
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 3), 32);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 5), 50);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 7), 70);
  EXPECT_FALSE(write_.Active());

  if (GetParam()) {
    EXPECT_NE(row_.last_write_sql().find("WHERE CODIGO = :CHAVE_1"), std::string::npos) << row_.last_write_sql();
    EXPECT_EQ(row_.last_write_sql().find("CGC"), std::string::npos);
  } else {
    EXPECT_NE(row_.last_write_sql().find("CGC = :CHAVE_2"), std::string::npos) << row_.last_write_sql();
    EXPECT_NE(row_.last_write_sql().find("(BRINDEXWEBSERVICE IS NULL OR BRINDEXWEBSERVICE = '')"), std::string::npos);
    EXPECT_NE(row_.last_write_sql().find("AND BRINDEX_ULTIMODOWNLODPRODUTOS IS NULL"), std::string::npos);
  }

  SetCompanySettingsRow(&row_);
  EXPECT_EQ(CNPJEmpresa(), "12345678000195");
  SetCompanySettingsRow(nullptr);
}

TEST_P(SettingsRowTest, NullSendIndexReadsAsZeroAndEmptyAndZeroAsZero) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, CGC, BRINDEX_ATIVARTOPVENDA, BRINDEXWEBSERVICE) VALUES (1, '', '  ', '')");
  row_.Open();
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIOTOPVENDA").AsInteger(), 0);
  EXPECT_EQ(row_.ReadText("BRINDEX_ULTIMOENVIOTOPVENDA"), "");
  EXPECT_EQ(row_.ReadText("BRINDEX_ULTIMODOWNLODPRODUTOS"), "");
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMODOWNLODPRODUTOS").AsDateTime(), DateTime::Zero());

  // NULL -> 0 is a change: it is written, also without a key where CGC holds '' and
  // a CHAR holds blanks (both read as empty).
  row_.WriteInteger("BRINDEX_ULTIMOENVIOTOPVENDA", 0);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIOTOPVENDA", 1), 0);
  EXPECT_EQ(row_.ReadText("BRINDEX_ULTIMOENVIOTOPVENDA"), "0");

  const DateTime today = DateTime::Date(2024, 3, 15);
  row_.WriteDateTime("BRINDEX_ULTIMODOWNLODPRODUTOS", today);
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMODOWNLODPRODUTOS").AsDateTime(), today);
  EXPECT_EQ(db_.SelectText("SELECT BRINDEX_ULTIMODOWNLODPRODUTOS FROM PADRAO"), "15/03/2024");

  row_.Close();
  row_.Open();  // a later cycle reads what was stored
  EXPECT_EQ(row_.ReadText("BRINDEX_ULTIMOENVIOTOPVENDA"), "0");
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMODOWNLODPRODUTOS").AsDateTime(), today);
}

TEST_P(SettingsRowTest, UnchangedValueSendsNothing) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, BRINDEX_ULTIMOENVIO) VALUES (1, 40)");
  row_.Open();
  // Once the row is gone any UPDATE would fail: a write that succeeds sent nothing.
  db_.Execute("DELETE FROM PADRAO");
  EXPECT_NO_THROW(row_.WriteInteger("BRINDEX_ULTIMOENVIO", 40));
  EXPECT_EQ(row_.last_write_sql(), "");
}

TEST_P(SettingsRowTest, DeletedRowMakesTheWriteFailAndKeepsTheOldValue) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, BRINDEX_ULTIMOENVIO) VALUES (1, 40)");
  row_.Open();
  db_.Execute("DELETE FROM PADRAO");
  try {
    row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41);
    FAIL() << "a write that changed no row succeeded";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("0 linhas"), std::string::npos) << error.what();
  }
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 40);
  EXPECT_FALSE(write_.Active());
}

// With a primary key a changed key means another row; without one, every column is
// the key, and a row whose other column the ERP changed is read again and written.
TEST_P(SettingsRowTest, ChangedKeyFailsWithAKeyAndIsReadAgainWithout) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, BRINDEX_ULTIMOENVIO) VALUES (1, 40)");
  row_.Open();
  db_.Execute("UPDATE PADRAO SET CODIGO = 2");
  if (GetParam()) {
    EXPECT_THROW(row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41), DatabaseError);
    EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 2), 40);
    EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 40);
  } else {
    row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41);
    EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 2), 41);
    EXPECT_EQ(row_.Field("CODIGO").AsInteger(), 2);
    ASSERT_EQ(retries_.size(), 1U);
    EXPECT_EQ(retries_[0].code, DatabaseError::kDataLayer);
  }
}

// An ERP till that changed another column of the row and committed before the write.
TEST_P(SettingsRowTest, WriteLandsAfterTheErpChangedAnotherColumn) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, CGC, BRINDEX_ULTIMOENVIO) VALUES (1, '11', 40)");
  row_.Open();
  db_.Execute("UPDATE PADRAO SET CGC = '22'");
  row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 41);
  EXPECT_EQ(db_.SelectText("SELECT CGC FROM PADRAO"), "22");  // the ERP's change stays
  EXPECT_EQ(retries_.size(), GetParam() ? 0U : 1U);
  EXPECT_FALSE(write_.Active());
}

// An ERP transaction changes the row and commits while the write waits for it: the
// waiting UPDATE ends in an update conflict, and a new transaction writes the value.
TEST_P(SettingsRowTest, WriteLandsAfterAnUpdateConflict) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, CGC, BRINDEX_ULTIMOENVIO) VALUES (1, '11', 40)");
  row_.Open();
  std::unique_ptr<testing::SqlSession> till = db_.OpenSession();
  till->Execute("UPDATE PADRAO SET CGC = '22'");
  std::string helper_failure;
  std::thread committer([&] {
    helper_failure = WaitForTheWriteToWait();
    till->Commit();
  });
  EXPECT_NO_THROW(row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41));
  committer.join();
  ASSERT_EQ(helper_failure, "");
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 41);
  EXPECT_EQ(db_.SelectText("SELECT CGC FROM PADRAO"), "22");
  ASSERT_FALSE(retries_.empty());
  EXPECT_TRUE(retries_[0].update_conflict) << retries_[0].message;
  EXPECT_FALSE(write_.Active());
}

// An ERP transaction holds the row past the lock time-out: with one attempt the
// write fails and the row keeps its value; with more, the attempt after the ERP let
// go of the row writes it.
TEST_P(SettingsRowShortLockTest, LockTimeOutIsTriedAgainWithinTheAttempts) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, CGC, BRINDEX_ULTIMOENVIO) VALUES (1, '11', 40)");
  struct Case {
    int attempts;
    bool lands;
  };
  for (const Case& c : {Case{1, false}, Case{3, true}}) {
    SCOPED_TRACE(c.attempts);
    retries_.clear();
    row_.SetWritePolicy({c.attempts, std::chrono::milliseconds(50)});
    row_.Open();
    std::unique_ptr<testing::SqlSession> till = db_.OpenSession();
    till->Execute("UPDATE PADRAO SET CGC = '11'");
    // The till lets go of the row once the first attempt has failed.
    const auto started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration first_wait{};
    row_.SetRetryObserver([&](int, const DatabaseError& error) {
      first_wait = std::chrono::steady_clock::now() - started;
      retries_.push_back({error.code(), error.update_conflict(), error.lock_timeout(), error.what()});
      if (till->InTransaction()) till->Rollback();
    });
    // Firebird 3 reports a waiting UPDATE's time-out as an update conflict.
    const auto held = [](bool update_conflict, bool lock_timeout) { return update_conflict || lock_timeout; };
    if (c.lands) {
      EXPECT_NO_THROW(row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41));
      EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 41);
      ASSERT_EQ(retries_.size(), 1U);
      EXPECT_TRUE(held(retries_[0].update_conflict, retries_[0].lock_timeout)) << retries_[0].message;
      // It failed by waiting out the lock time-out, not at once.
      EXPECT_GE(first_wait, std::chrono::milliseconds(500));
    } else {
      try {
        row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41);
        FAIL() << "a write into a held row succeeded";
      } catch (const DatabaseError& error) {
        EXPECT_TRUE(held(error.update_conflict(), error.lock_timeout())) << error.what();
      }
      EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 40);
      EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 40);
      EXPECT_TRUE(retries_.empty());
    }
    EXPECT_FALSE(write_.Active());
    till.reset();
    row_.Close();
  }
}

// A commit the database refuses (here an ERP commit trigger) is rolled back: the
// caller gets the error, the row keeps what is stored and is not left locked, and
// the failed value is not committed later together with another write.
TEST_P(SettingsRowTest, RefusedCommitIsRolledBackAndLeavesTheRowFree) {
  db_.Execute(
      "INSERT INTO PADRAO (CODIGO, CGC, BRINDEX_ULTIMOENVIO, BRINDEX_ULTIMOENVIOTOPVENDA) "
      "VALUES (1, '11', 40, 7)");
  db_.Execute("CREATE EXCEPTION INDICE_RECUSADO 'indice recusado'");
  db_.Execute(
      "CREATE TRIGGER RECUSA_INDICE_99 ON TRANSACTION COMMIT AS BEGIN "
      "IF (EXISTS (SELECT 1 FROM PADRAO WHERE BRINDEX_ULTIMOENVIO = 99)) THEN EXCEPTION INDICE_RECUSADO; END");
  // An attachment learns of database triggers when it is made.
  connection_.Disconnect();
  connection_.Connect();
  row_.Open();
  try {
    row_.WriteInteger("BRINDEX_ULTIMOENVIO", 99);
    FAIL() << "a write whose commit was refused succeeded";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("indice recusado"), std::string::npos) << error.what();
  }
  EXPECT_FALSE(write_.Active());
  EXPECT_TRUE(retries_.empty());
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 40);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 40);
  // A till that never waits can change the row at once: nothing holds it.
  std::unique_ptr<testing::SqlSession> till = db_.OpenSession();
  EXPECT_NO_THROW(till->Execute("UPDATE PADRAO SET BRINDEX_ULTIMOENVIOTOPVENDA = 8"));
  till->Rollback();
  row_.WriteInteger("BRINDEX_ULTIMOENVIOTOPVENDA", 9);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIOTOPVENDA", 1), 9);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 40);
}

// The connection is lost while the commit runs (an ERP commit trigger waits for a till,
// and the attachment is killed meanwhile): whether the write was stored is unknown, so
// it is not run again blindly; the row read again tells, and here it was not stored,
// so the write runs again on the new attachment and lands once.
TEST_P(SettingsRowLongLockTest, CommitLostWithTheConnectionIsDecidedByReadingTheRowAgain) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, CGC, BRINDEX_ULTIMOENVIO) VALUES (1, '11', 40)");
  db_.Execute("CREATE TABLE TRAVA (ID INTEGER)");
  db_.Execute("INSERT INTO TRAVA (ID) VALUES (1)");
  // Only the transaction that writes 41 waits in its commit.
  db_.Execute(
      "CREATE TRIGGER MARCA_ESPERA FOR PADRAO AFTER UPDATE AS BEGIN "
      "IF (NEW.BRINDEX_ULTIMOENVIO = 41) THEN RDB$SET_CONTEXT('USER_TRANSACTION', 'ESPERAR', '1'); END");
  // It first says, committed, that it is about to wait.
  db_.Execute("CREATE TABLE SINAL (ID INTEGER)");
  db_.Execute(
      "CREATE TRIGGER ESPERA_NA_CONFIRMACAO ON TRANSACTION COMMIT AS BEGIN "
      "IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'ESPERAR') = '1') THEN BEGIN "
      "IN AUTONOMOUS TRANSACTION DO INSERT INTO SINAL (ID) VALUES (1); "
      "IN AUTONOMOUS TRANSACTION DO UPDATE TRAVA SET ID = ID; END END");
  connection_.Disconnect();  // an attachment learns of database triggers when it is made
  connection_.Connect();
  connection_.SetReconnectPolicy({3, std::chrono::milliseconds(100)});
  row_.SetWritePolicy({2, std::chrono::milliseconds(50)});
  row_.Open();
  std::unique_ptr<testing::SqlSession> till = db_.OpenSession();
  till->Execute("UPDATE TRAVA SET ID = 2");  // held: the commit trigger waits for it

  std::string helper_failure = "the commit never waited in its trigger within 20 s";
  std::thread killer([&] {
    try {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (std::chrono::steady_clock::now() < deadline) {
        if (db_.SelectInteger("SELECT COUNT(*) FROM SINAL").value_or(0) > 0) {
          // From the signal on, the commit is under way: its trigger runs inside it.
          db_.KillOtherAttachments();  // the write's and the till's
          helper_failure.clear();
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    } catch (const std::exception& e) {
      helper_failure = e.what();
    }
  });
  EXPECT_NO_THROW(row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41));
  killer.join();
  ASSERT_EQ(helper_failure, "");
  ASSERT_FALSE(retries_.empty());
  EXPECT_EQ(retries_[0].code, DatabaseError::kCommitOutcomeUnknown) << retries_[0].message;
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 41);
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 41);
  EXPECT_FALSE(write_.Active());
}

TEST_P(SettingsRowTest, EmptyTableReadsEveryColumnAsNull) {
  row_.Open();
  EXPECT_TRUE(row_.Active());
  EXPECT_FALSE(row_.HasRow());
  EXPECT_EQ(row_.ReadText("BRINDEX_ATIVARPONTUACAO"), "");
  EXPECT_EQ(row_.ReadText("CGC"), "");
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 0);
  EXPECT_THROW(row_.Field("NAO_EXISTE"), DatabaseError);
  EXPECT_THROW(row_.WriteInteger("BRINDEX_ULTIMOENVIO", 1), DatabaseError);
  row_.Close();
  EXPECT_THROW(row_.ReadText("CGC"), DatabaseError);  // closed
}

TEST_P(SettingsRowTest, WriteRunsAgainAfterTheAttachmentIsKilled) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, BRINDEX_ULTIMOENVIO) VALUES (1, 40)");
  connection_.SetReconnectPolicy({3, std::chrono::milliseconds(100)});
  row_.Open();
  db_.KillOtherAttachments();
  row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 41);
  EXPECT_EQ(row_.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 41);
}

// The write's UPDATE stays prepared between writes; on a new attachment it is
// prepared again instead of running a statement of the lost one.
TEST_P(SettingsRowTest, KeptWriteIsPreparedAgainAfterTheAttachmentIsKilled) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, BRINDEX_ULTIMOENVIO, BRINDEX_ULTIMOENVIOTOPVENDA) VALUES (1, 40, 7)");
  connection_.SetReconnectPolicy({3, std::chrono::milliseconds(100)});
  row_.Open();
  row_.WriteInteger("BRINDEX_ULTIMOENVIO", 41);
  row_.WriteInteger("BRINDEX_ULTIMOENVIOTOPVENDA", 8);
  db_.KillOtherAttachments();
  row_.WriteInteger("BRINDEX_ULTIMOENVIO", 42);
  row_.WriteInteger("BRINDEX_ULTIMOENVIO", 43);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 43);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIOTOPVENDA", 1), 8);
  // A row read again in the next cycle starts without kept statements.
  row_.Close();
  connection_.Disconnect();
  connection_.Connect();
  row_.Open();
  row_.WriteInteger("BRINDEX_ULTIMOENVIO", 44);
  EXPECT_EQ(Stored("BRINDEX_ULTIMOENVIO", 1), 44);
}

std::string KeyCaseName(const ::testing::TestParamInfo<bool>& info) { return info.param ? "WithKey" : "WithoutKey"; }
INSTANTIATE_TEST_SUITE_P(PrimaryKey, SettingsRowTest, ::testing::Values(true, false), KeyCaseName);
INSTANTIATE_TEST_SUITE_P(PrimaryKey, SettingsRowShortLockTest, ::testing::Values(true, false), KeyCaseName);
INSTANTIATE_TEST_SUITE_P(PrimaryKey, SettingsRowLongLockTest, ::testing::Values(true, false), KeyCaseName);

TEST(SettingsRowWithoutKey, TwoIdenticalRowsMakeTheWriteFailAndChangeNothing) {
  TestDatabase db(TestDatabase::Options{.padrao_primary_key = false});
  db.RunScript(
      "INSERT INTO PADRAO (CODIGO, BRINDEX_ULTIMOENVIO) VALUES (1, 40);"
      "INSERT INTO PADRAO (CODIGO, BRINDEX_ULTIMOENVIO) VALUES (1, 40);");
  Connection connection;
  db.ConfigureConnection(connection);
  connection.Connect();
  Transaction read(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Transaction write(connection, TransactionMode::ReadWriteReadCommitted, true);
  SettingsRow row(connection, read, write);
  row.Open();
  try {
    row.WriteInteger("BRINDEX_ULTIMOENVIO", 41);
    FAIL() << "a write that changed two rows succeeded";
  } catch (const DatabaseError& error) {
    EXPECT_NE(std::string(error.what()).find("2 linhas"), std::string::npos) << error.what();
  }
  EXPECT_EQ(db.SelectInteger("SELECT COUNT(*) FROM PADRAO WHERE BRINDEX_ULTIMOENVIO = 40"), 2);
  EXPECT_EQ(row.Field("BRINDEX_ULTIMOENVIO").AsInteger(), 40);
}

}  // namespace
}  // namespace zendrel
