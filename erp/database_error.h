// The one exception type of the data layer: a failure reported by the Firebird
// client or server, with the server's message and its error codes.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace zendrel {

class DatabaseError : public std::runtime_error {
 public:
  // Code of a failure that never reached a server: the client library is missing.
  static constexpr long kClientLibraryMissing = -1;
  // Code of a failure found by the data layer itself (a settings write that did not
  // change exactly one row, a statement used in the wrong state).
  static constexpr long kDataLayer = -2;
  // Code of a commit whose answer the lost connection took with it: the work may or
  // may not have been stored, so the statement is not run again blindly.
  static constexpr long kCommitOutcomeUnknown = -3;
  // Code of a failure that never reached a server: the only client library found is
  // for the other bitness (a 32-bit fbclient.dll for the 64-bit program, or the
  // reverse).
  static constexpr long kClientWrongBitness = -4;

  DatabaseError(std::string message, long code);
  // `codes` are every error code of the client's status vector, the first one first.
  DatabaseError(std::string message, std::vector<long> codes);

  // The first error code (an isc_* / gds code such as 335544721).
  long code() const { return codes_.empty() ? 0 : codes_.front(); }
  const std::vector<long>& codes() const { return codes_; }

  bool HasCode(long code) const;

  // The connection to the server was lost: the statement may succeed on a new
  // attachment.
  bool connection_lost() const;

  // A wait for a record held by another transaction reached the lock time-out (for
  // a read in a waiting transaction: the read conflict that ends the wait).
  bool lock_timeout() const;

  // A write met a row that another transaction changed and committed while this one
  // waited for it (the row is there, but in a version this transaction cannot change).
  // Firebird 3 also reports so a waiting write whose lock time-out ran out.
  bool update_conflict() const;

 private:
  std::vector<long> codes_;
};

}  // namespace zendrel
