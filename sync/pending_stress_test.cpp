// A stress run of the wait at a gap on the real server: tills insert a movement and
// then stay idle with their transaction open (or roll back), another client polls the
// monitoring tables back to back, and a relay loop sends as the send loop does: at once
// without a gap, up to the first missing number, and past it only after the wait. Every
// number the relay moves past must be committed by then or never be: one committed
// later was passed over. ZENDREL_PENDING_STRESS_S sets the length (default 20 s);
// ZENDREL_PENDING_STRESS_NO_MARKER=1 looks the way the wait did before the marker, to
// see whether the run can catch stale monitoring data letting a movement through.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "erp/query.h"
#include "erp/testing/test_database.h"
#include "erp/transaction.h"
#include "sync/monitoring_marker.h"
#include "sync/pending_holders.h"
#include "sync/pending_window.h"

namespace zendrel {
namespace {

using std::chrono::milliseconds;
using testing::TestDatabase;

int EnvInt(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

std::vector<std::int64_t> CommittedBetween(Connection& connection, std::int64_t after, std::int64_t up_to) {
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL(
      fmt::format("SELECT MOVIMENTO FROM BRINDEX_PONTOS WHERE MOVIMENTO > {} AND MOVIMENTO <= {}", after, up_to));
  std::vector<std::int64_t> numbers;
  for (query.Open(); !query.Eof(); query.Next()) numbers.push_back(query.Row().front().unscaled());
  query.Close();
  return numbers;
}

TEST(PendingStress, NoMovementIsPassedOverWhileAnotherClientPollsTheMonitoringTables) {
  const auto length = std::chrono::seconds(EnvInt("ZENDREL_PENDING_STRESS_S", 20));
  const bool with_marker = EnvInt("ZENDREL_PENDING_STRESS_NO_MARKER", 0) == 0;
  constexpr int kTills = 12;
  TestDatabase db;
  std::atomic<bool> stop{false};
  std::atomic<long> inserts{0};
  std::atomic<long> polls{0};

  std::vector<std::thread> tills;
  for (int t = 0; t < kTills; ++t) {
    tills.emplace_back([&, t] {
      std::mt19937 rng(20261211 + t);
      auto session = db.OpenSession();
      while (!stop) {
        session->Execute("INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, VALOR) VALUES ('1', 'VV', 1)");
        ++inserts;
        // Idle with the insert open: no call until the commit.
        std::this_thread::sleep_for(milliseconds(std::uniform_int_distribution<int>(20, 1500)(rng)));
        if (rng() % 100 < 5) {
          session->Rollback();
        } else {
          session->Commit();
        }
        std::this_thread::sleep_for(milliseconds(std::uniform_int_distribution<int>(0, 30)(rng)));
      }
      if (session->InTransaction()) session->Commit();
    });
  }
  std::thread observer([&] {
    Connection connection;
    db.ConfigureConnection(connection);
    connection.Connect();
    while (!stop) {
      Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
      Query query(connection, transaction);
      query.SetSQL("SELECT COUNT(*) FROM MON$TRANSACTIONS");
      query.Open();
      query.Close();
      ++polls;
    }
  });

  Connection relay;
  db.ConfigureConnection(relay);
  relay.Connect();
  MonitoringMarker marker(relay);
  PendingServerFacts facts;
  const bool knows_states = facts.KnowsTransactionStates(relay);
  std::int64_t index = 0;
  std::set<std::int64_t> sent;
  long passes = 0;
  long gaps = 0;
  long gaps_passed = 0;
  const auto end = std::chrono::steady_clock::now() + length;
  while (std::chrono::steady_clock::now() < end) {
    const PendingWindow window = ReadPendingWindow(relay, kPontosTable, index);
    ++passes;
    if (!window.highest) continue;
    std::int64_t up_to = window.consecutive_up_to;
    if (!window.HasGap()) {
      up_to = *window.highest;
    } else {
      ++gaps;
      const std::optional<std::int64_t> highest = HighestCommittedNumber(relay, kPontosTable);
      HoldersLook look{kPontosTable, TransactionNumberNow(relay), knows_states, std::nullopt};
      std::optional<PlacedMarker> placed;
      if (with_marker) {
        placed.emplace(marker);
        look.marker_attachment = placed->attachment_id();
      }
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
      bool settled = false;
      while (!settled && std::chrono::steady_clock::now() < deadline) {
        settled = ListPendingHolders(relay, look).empty();
        if (!settled) std::this_thread::sleep_for(milliseconds(20));
      }
      if (settled && highest) {
        up_to = *highest;
        ++gaps_passed;
      }
    }
    if (up_to <= index) continue;
    for (const std::int64_t number : CommittedBetween(relay, index, up_to)) sent.insert(number);
    index = up_to;
  }
  stop = true;
  for (std::thread& till : tills) till.join();
  observer.join();

  // Everything is committed or rolled back now: a number up to the index that is
  // committed and was not there when the relay moved past it was passed over.
  long passed_over = 0;
  for (const std::int64_t number : CommittedBetween(relay, 0, index)) {
    if (sent.count(number) == 0) {
      ++passed_over;
      ADD_FAILURE() << "movement " << number << " was passed over";
    }
  }
  std::cout << fmt::format(
                   "pending stress ({}): {} s, {} tills, {} inserts, {} monitoring polls by another client, "
                   "{} relay passes, {} at a gap ({} passed after the wait), index {}, {} sent, {} passed over",
                   with_marker ? "with the marker" : "without the marker", length.count(), kTills, inserts.load(),
                   polls.load(), passes, gaps, gaps_passed, index, sent.size(), passed_over)
            << std::endl;
  EXPECT_GT(gaps_passed, 0) << "the run never passed a gap: it shows nothing";
}

}  // namespace
}  // namespace zendrel
