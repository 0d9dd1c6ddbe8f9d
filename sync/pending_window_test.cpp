// The window of committed pending rows on the real server: how far they run without a
// missing number after the send index, whatever the tills still hold uncommitted.
#include "sync/pending_window.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <vector>

#include "erp/testing/test_database.h"

namespace zendrel {
namespace {

using testing::TestDatabase;

TEST(PendingWindow, RunsUpToTheFirstMissingNumber) {
  struct Case {
    const char* name;
    std::vector<int> committed;
    int after;
    bool gap;
    std::int64_t consecutive_up_to;
    std::int64_t highest;
  };
  const Case cases[] = {
      {"consecutive", {11, 12, 13}, 10, false, 13, 13},
      {"a missing number in the middle", {11, 12, 14, 15}, 10, true, 12, 15},
      {"the next number missing", {12, 13}, 10, true, 10, 13},
      {"rows at and below the index do not count", {5, 9, 10, 11, 12}, 10, false, 12, 12},
      {"one row", {11}, 10, false, 11, 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestDatabase db;
    for (const int number : c.committed) {
      db.Execute(fmt::format("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF) VALUES ({}, '1')", number));
    }
    Connection relay;
    db.ConfigureConnection(relay);
    relay.Connect();
    const PendingWindow window = ReadPendingWindow(relay, kPontosTable, c.after);
    EXPECT_EQ(window.HasGap(), c.gap);
    EXPECT_EQ(window.consecutive_up_to, c.consecutive_up_to);
    EXPECT_EQ(window.highest, std::optional<std::int64_t>(c.highest));
  }
}

TEST(PendingWindow, AnUncommittedRowIsAGapAndNothingPendingHasNoHighest) {
  TestDatabase db;
  Connection relay;
  db.ConfigureConnection(relay);
  relay.Connect();
  EXPECT_FALSE(ReadPendingWindow(relay, kTopVendasTable, 0).highest.has_value());

  db.Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF) VALUES (1, '1')");
  auto till = db.OpenSession();
  till->Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF) VALUES (2, '1')");  // left open
  db.Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF) VALUES (3, '1')");
  PendingWindow window = ReadPendingWindow(relay, kPontosTable, 0);
  EXPECT_TRUE(window.HasGap());
  EXPECT_EQ(window.consecutive_up_to, 1);
  till->Commit();
  window = ReadPendingWindow(relay, kPontosTable, 0);
  EXPECT_FALSE(window.HasGap());
  EXPECT_EQ(window.consecutive_up_to, 3);
}

}  // namespace
}  // namespace zendrel
