// The connection on the real server: attach, refusal, a missing client library,
// disconnect without commit, reconnection after the attachment is killed, and an
// attachment abandoned without asking the server.
#include "erp/connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "erp/database_error.h"
#include "erp/query.h"
#include "erp/statements.h"
#include "erp/testing/test_database.h"
#include "erp/transaction.h"
#include "support/executable_folder.h"
#include "support/testing/eventually.h"

namespace zendrel {
namespace {

using testing::TestDatabase;

constexpr ReconnectPolicy kQuickReconnect{3, std::chrono::milliseconds(100)};

class ConnectionTest : public ::testing::Test {
 protected:
  ConnectionTest() : connection_(kQuickReconnect) { db_.ConfigureConnection(connection_); }

  std::int64_t Count(const std::string& table) const {
    return db_.SelectInteger("SELECT COUNT(*) FROM " + table).value_or(-1);
  }

  TestDatabase db_;
  Connection connection_;
};

TEST_F(ConnectionTest, ConnectsAndDisconnects) {
  EXPECT_FALSE(connection_.Connected());
  connection_.Connect();
  EXPECT_TRUE(connection_.Connected());
  connection_.Connect();  // already connected: nothing happens
  EXPECT_TRUE(connection_.Connected());
  connection_.Disconnect();
  EXPECT_FALSE(connection_.Connected());
  connection_.Disconnect();
  EXPECT_FALSE(connection_.Connected());
}

// The client would name the process itself, in the system's character set, and fail
// on a folder with accents; the server must see the name the relay sends.
TEST_F(ConnectionTest, TheServerSeesThisProgramsPathAsTheAttachmentsProcess) {
  connection_.Connect();
  Transaction read_only(connection_, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection_, read_only);
  query.SetSQL("SELECT MON$REMOTE_PROCESS FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION");
  query.Open();
  const std::u8string path = ExecutablePath().u8string();
  EXPECT_EQ(query.Field("MON$REMOTE_PROCESS").AsString(), std::string(path.begin(), path.end()));
}

TEST_F(ConnectionTest, RefusedLoginCarriesTheServersMessageAndCode) {
  connection_.Params()[4] = "Password=trivel";
  try {
    connection_.Connect();
    FAIL() << "connected with a wrong password";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(error.code(), 335544472);  // isc_login
    EXPECT_NE(std::string(error.what()).find("password"), std::string::npos) << error.what();
    EXPECT_FALSE(error.connection_lost());
  }
  EXPECT_FALSE(connection_.Connected());
}

TEST_F(ConnectionTest, MissingDatabaseIsAnErrorNotACreation) {
  connection_.Params()[2] = "Database=" + db_.path() + ".missing";
  EXPECT_THROW(connection_.Connect(), DatabaseError);
  EXPECT_FALSE(connection_.Connected());
}

TEST_F(ConnectionTest, MissingClientLibraryIsAClearConnectionError) {
  Connection without_client;
  db_.ConfigureConnection(without_client);
  without_client.SetClientLibrary("libfbclient-absent.so.9");
  try {
    without_client.Connect();
    FAIL() << "connected without a client library";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(error.code(), DatabaseError::kClientLibraryMissing);
    EXPECT_NE(std::string(error.what()).find("libfbclient-absent.so.9"), std::string::npos) << error.what();
  }
  EXPECT_FALSE(without_client.Connected());
}

TEST_F(ConnectionTest, DisconnectRollsBackAnOpenCommandTransaction) {
  connection_.Connect();
  Transaction comandos(connection_, TransactionMode::ReadWriteReadCommitted, false);
  Query query(connection_, comandos);
  query.SetSQL("INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (1, 'A', '1')");
  EXPECT_THROW(query.ExecSQL(), DatabaseError);  // an explicit transaction never starts by itself
  comandos.StartTransaction();
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 1);
  EXPECT_TRUE(comandos.Active());
  connection_.Disconnect();
  EXPECT_FALSE(comandos.Active());
  EXPECT_EQ(Count("FUNCIONARIOS"), 0);
}

TEST_F(ConnectionTest, AutomaticTransactionsCommitWhenTheLastQueryCloses) {
  db_.Execute("INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (1, 'A', '1')");
  connection_.Connect();
  Transaction read_only(connection_, TransactionMode::ReadOnlyReadCommitted, true);
  Query first(connection_, read_only);
  Query second(connection_, read_only);
  first.SetSQL("SELECT CODIGO FROM FUNCIONARIOS");
  second.SetSQL("SELECT NOME FROM FUNCIONARIOS");
  first.Open();
  second.Open();
  EXPECT_TRUE(read_only.Active());
  first.Close();
  EXPECT_TRUE(read_only.Active());
  EXPECT_EQ(second.Field("NOME").AsString(), "A");
  second.Close();
  EXPECT_FALSE(read_only.Active());

  // A read-only transaction refuses writes.
  Query write(connection_, read_only);
  write.SetSQL("DELETE FROM FUNCIONARIOS");
  EXPECT_THROW(write.ExecSQL(), DatabaseError);
  EXPECT_FALSE(read_only.Active());
  EXPECT_EQ(Count("FUNCIONARIOS"), 1);
}

TEST_F(ConnectionTest, KilledAttachmentIsReplacedAndTheNextOpenSucceeds) {
  db_.Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF) VALUES (7, '123')");
  connection_.Connect();
  Transaction read_only(connection_, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection_, read_only);
  query.SetSQL(S4);
  query.SetInteger("MOVIMENTO", 0);
  query.Open();
  EXPECT_EQ(query.Field("MOVIMENTO").AsInteger(), 7);
  query.Close();
  const std::uint64_t generation = connection_.generation();

  db_.KillOtherAttachments();

  query.Open();  // fails on the dead attachment, reconnects, runs again
  EXPECT_EQ(query.Field("MOVIMENTO").AsInteger(), 7);
  EXPECT_EQ(query.Field("CPF").AsString(), "123");
  query.Close();
  EXPECT_TRUE(connection_.Connected());
  EXPECT_EQ(connection_.generation(), generation + 1);
}

// What the relay does once the server said the connection is lost: a server that
// killed the attachment may never answer another request on its socket, so nothing
// more is asked of it.
TEST_F(ConnectionTest, AbandonedAttachmentEndsWithoutTheServerAndTheNextOpenReconnects) {
  connection_.Connect();
  Transaction comandos(connection_, TransactionMode::ReadWriteReadCommitted, false);
  Query insert(connection_, comandos);
  insert.SetSQL("INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (1, 'A', '1')");
  comandos.StartTransaction();
  insert.ExecSQL();
  const std::uint64_t generation = connection_.generation();

  connection_.Abandon();
  EXPECT_TRUE(connection_.abandoned());
  // The socket closed, the server ends the attachment and undoes its insert.
  const std::string ours = "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$REMOTE_PID = " + std::to_string(::getpid()) +
                           " AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION";
  EXPECT_TRUE(testing::Eventually([&] { return db_.SelectInteger(ours).value_or(-1) == 0; }))
      << "the server still has the abandoned attachment";
  EXPECT_EQ(Count("FUNCIONARIOS"), 0);

  // The transaction's work is gone, and its commit says so as a lost connection.
  try {
    comandos.Commit();
    FAIL() << "a commit on an abandoned attachment succeeded";
  } catch (const DatabaseError& error) {
    EXPECT_TRUE(error.connection_lost()) << error.what();
  }
  EXPECT_FALSE(comandos.Active());

  Transaction read_only(connection_, TransactionMode::ReadOnlyReadCommitted, true);
  Query count(connection_, read_only);
  count.SetSQL("SELECT COUNT(*) AS N FROM FUNCIONARIOS");
  count.Open();  // fails on the abandoned attachment, reconnects, runs again
  EXPECT_EQ(count.Field("N").AsInteger(), 0);
  count.Close();
  EXPECT_FALSE(connection_.abandoned());
  EXPECT_EQ(connection_.generation(), generation + 1);
}

TEST_F(ConnectionTest, CommandStatementIsNotRunAgainAfterReconnection) {
  connection_.Connect();
  Transaction comandos(connection_, TransactionMode::ReadWriteReadCommitted, false);
  Query query(connection_, comandos);
  comandos.StartTransaction();
  query.SetSQL("INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (1, 'A', '1')");
  query.ExecSQL();

  db_.KillOtherAttachments();

  query.SetSQL("INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (2, 'B', '2')");
  try {
    query.ExecSQL();
    FAIL() << "a statement of the lost command transaction ran";
  } catch (const DatabaseError& error) {
    EXPECT_TRUE(error.connection_lost()) << error.what();
  }
  EXPECT_TRUE(connection_.Connected());  // re-established before the failure reached us
  EXPECT_FALSE(comandos.Active());
  EXPECT_THROW(comandos.Commit(), DatabaseError);  // its work is gone: a commit must not look fine
  EXPECT_EQ(Count("FUNCIONARIOS"), 0);

  // The new attachment works for a new transaction.
  comandos.StartTransaction();
  query.ExecSQL();
  comandos.Commit();
  EXPECT_EQ(Count("FUNCIONARIOS"), 1);
}

TEST_F(ConnectionTest, OpenCursorIsNotReopenedAfterReconnection) {
  db_.Execute(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 5000) DO BEGIN I = I + 1; "
      "INSERT INTO BRINDEX_PONTOS (CPF, NOME, VALOR) VALUES ('12345678901', 'Cliente com nome longo', 1); END END");
  connection_.Connect();
  Transaction read_only(connection_, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection_, read_only);
  query.SetSQL(S4);
  query.SetInteger("MOVIMENTO", 0);
  query.Open();
  EXPECT_EQ(query.Field("MOVIMENTO").AsInteger(), 1);

  db_.KillOtherAttachments();

  int rows = 1;
  bool lost = false;
  try {
    for (query.Next(); !query.Eof(); query.Next()) ++rows;
  } catch (const DatabaseError& error) {
    lost = error.connection_lost();
  }
  EXPECT_TRUE(lost) << "read " << rows << " rows after the kill";
  EXPECT_LT(rows, 5000);
  EXPECT_FALSE(query.Active());
  EXPECT_TRUE(connection_.Connected());
  query.Open();  // a fresh open starts again on the new attachment
  EXPECT_EQ(query.Field("MOVIMENTO").AsInteger(), 1);
  query.Close();
}

}  // namespace
}  // namespace zendrel
