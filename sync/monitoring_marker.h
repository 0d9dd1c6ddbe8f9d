// A mark in the server's monitoring data that tells which attachments have written
// their data since a given moment, set by an attachment of the relay's own.
//
// Why it works (Firebird 3.0, 4.0 and 5.0, src/jrd/Monitoring.cpp; not documented,
// proved by the tests of pending_holders_test):
//  - the monitoring data of all attachments is one shared list; an attachment that
//    writes its data first removes its old entry and then appends the new one at the
//    tail, so the list is in the order of each attachment's last write;
//  - a monitoring snapshot writes the data of its own attachment first, asks the
//    others to write theirs, and then lists MON$ATTACHMENTS in the order of the list;
//  - an attachment writes its data when asked at most once between two calls it makes
//    (and every 100 execution steps of a long call), never while it is idle.
// So when the marker attachment takes a snapshot at moment T, an attachment listed
// after it in any later snapshot has written its data after T; one listed before it
// has not, and its data may predate anything it did up to its last call.
#pragma once

#include <cstdint>
#include <memory>

#include "erp/connection.h"
#include "erp/query.h"
#include "erp/transaction.h"

namespace zendrel {

class MonitoringMarker {
 public:
  // Attaches (on the first Place) with the parameters and client library of `like`.
  explicit MonitoringMarker(const Connection& like);
  ~MonitoringMarker();
  MonitoringMarker(const MonitoringMarker&) = delete;
  MonitoringMarker& operator=(const MonitoringMarker&) = delete;

  // Takes the marker's snapshot now and returns the marker's attachment id. Until
  // Lift, the marker makes no call, so its entry stays where the snapshot put it
  // (a call would only move it later, never earlier). Throws DatabaseError.
  std::int64_t Place();

  // Ends the snapshot's transaction. Never throws.
  void Lift() noexcept;

  // Lifts the marker and closes its attachment, as the cycle closes its own: between
  // cycles the relay holds no attachment, and the next cycle may work on another
  // database. Never throws.
  void Detach() noexcept;

 private:
  const Connection& like_;
  Connection connection_;
  Transaction transaction_;
  std::unique_ptr<Query> snapshot_;
  std::int64_t attachment_id_ = 0;
  std::uint64_t id_generation_ = 0;
};

// Places a marker for the life of the scope.
class PlacedMarker {
 public:
  explicit PlacedMarker(MonitoringMarker& marker) : marker_(marker), attachment_id_(marker.Place()) {}
  ~PlacedMarker() { marker_.Lift(); }
  PlacedMarker(const PlacedMarker&) = delete;
  PlacedMarker& operator=(const PlacedMarker&) = delete;
  std::int64_t attachment_id() const { return attachment_id_; }

 private:
  MonitoringMarker& marker_;
  std::int64_t attachment_id_;
};

}  // namespace zendrel
