// The server stopped for longer than the reconnection attempts last: the error
// reaches the caller, and the connection works again once the server is back.
// Stops the shared local server, so CTest runs it alone.
#include <gtest/gtest.h>

#include <chrono>

#include "erp/database_error.h"
#include "erp/query.h"
#include "erp/statements.h"
#include "erp/testing/test_database.h"

namespace zendrel {
namespace {

using testing::TestDatabase;

TEST(ServerStop, ErrorReachesTheCallerAfterTheLastAttempt) {
  TestDatabase db;
  db.Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF) VALUES (1, '1')");
  const ReconnectPolicy policy{3, std::chrono::milliseconds(300)};
  Connection connection(policy);
  db.ConfigureConnection(connection);
  connection.Connect();
  Transaction read_only(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, read_only);
  query.SetSQL(S4);
  query.SetInteger("MOVIMENTO", 0);
  query.Open();
  query.Close();

  ASSERT_TRUE(testing::StopFirebirdServer());
  struct Restart {
    ~Restart() { testing::StartFirebirdServer(); }
  } restart_whatever_happens;

  const auto started = std::chrono::steady_clock::now();
  try {
    query.Open();
    FAIL() << "a statement succeeded with the server stopped";
  } catch (const DatabaseError& error) {
    EXPECT_TRUE(error.connection_lost()) << error.what();
  }
  // Three attempts: the second and the third each after a pause.
  EXPECT_GE(std::chrono::steady_clock::now() - started, 2 * policy.pause);
  EXPECT_FALSE(connection.Connected());
  EXPECT_FALSE(read_only.Active());

  ASSERT_TRUE(testing::StartFirebirdServer());
  connection.Connect();  // the next cycle connects afresh
  query.Open();
  EXPECT_EQ(query.Field("MOVIMENTO").AsInteger(), 1);
  query.Close();
  connection.Disconnect();
}

}  // namespace
}  // namespace zendrel
