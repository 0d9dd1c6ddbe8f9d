// An attachment to the ERP's Firebird database, with the automatic reconnection
// that a lost connection calls for, and the registry of the statements and
// transactions that hold handles of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "erp/client_types.h"

namespace zendrel {

struct FirebirdApi;

// How a lost connection is re-established: `attempts` attaches, the second and later
// ones each after `pause`. Tests pass short pauses.
struct ReconnectPolicy {
  int attempts = 3;
  std::chrono::milliseconds pause{3000};
};

// Something that holds client handles belonging to the attachment (a query's
// statement, a transaction) and must let go of them before the attachment ends.
class AttachmentUser {
 public:
  virtual ~AttachmentUser() = default;
  // Frees the handles. `attachment_alive` is false when the connection is already
  // lost: the handles are then dropped whatever the client answers. Never throws.
  virtual void ReleaseHandles(bool attachment_alive) noexcept = 0;
};

class Connection {
 public:
  explicit Connection(ReconnectPolicy policy = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The parameter lines ("DriverID=FB", "Database=...", ...) that Connect reads.
  std::vector<std::string>& Params() { return params_; }
  const std::vector<std::string>& Params() const { return params_; }

  // The value of the parameter line `name` ("Server", "Database"...), or "".
  std::string Param(std::string_view name) const;

  // Attaches as Server/Port:Database with User_Name, Password, the connection's
  // character set (ISO8859_1) and SQL dialect 3. Does nothing when connected.
  // Throws DatabaseError (a missing client library is one, with a clear message).
  void Connect();

  // Rolls back every open transaction (never commits), then detaches. Lets go of the
  // handle even when the server is gone. Never throws.
  void Disconnect() noexcept;

  bool Connected() const { return handle_ != 0; }

  // The client library that Connect loads; the host's default unless a test names
  // another one.
  void SetClientLibrary(std::string library_name) { client_library_ = std::move(library_name); }
  const std::string& client_library() const { return client_library_; }
  void SetReconnectPolicy(ReconnectPolicy policy) { policy_ = policy; }

  // Counts attachments: a handle taken under an older generation is dead.
  std::uint64_t generation() const { return generation_; }

  // --- For the data layer's own classes ---

  const FirebirdApi& api() const;
  ClientHandle* handle() { return &handle_; }

  // Runs `work`, a statement's round trip. When it fails because the connection was
  // lost, the connection is re-established (or the last attempt's error raised);
  // then `work` runs once more when `may_run_again`, otherwise the original failure
  // reaches the caller on the new attachment.
  void RunStatement(bool may_run_again, const std::function<void()>& work);

  // Drops the lost attachment and attaches again following the policy. Throws the
  // error of the last attempt when none succeeds (the connection is then closed).
  void Reconnect();

  // Throws the DatabaseError that `status` holds, if any. An error that says the
  // connection is lost first abandons the attachment (below), so that the rollback
  // and release calls that follow a failure never wait on it.
  void Check(const ClientStatus* status);

  // Closes this end of an attachment the server has given up on, without asking the
  // server: a server that killed an attachment may keep its socket open and never
  // answer another request on it (seen with Firebird 4 after a DELETE FROM
  // MON$ATTACHMENTS). Every later call on the attachment then fails at once with a
  // network error, and Reconnect or Disconnect let go of it. Never throws.
  void Abandon() noexcept;
  bool abandoned() const { return abandoned_; }

  void Register(AttachmentUser* user, bool is_transaction);
  void Unregister(AttachmentUser* user);

 private:
  void Attach();
  void ReleaseUsers(bool attachment_alive) noexcept;

  ReconnectPolicy policy_;
  std::vector<std::string> params_;
  std::string client_library_;
  std::shared_ptr<const FirebirdApi> api_;
  ClientHandle handle_ = 0;
  std::uint64_t generation_ = 0;
  bool abandoned_ = false;
  std::vector<AttachmentUser*> statements_;
  std::vector<AttachmentUser*> transactions_;
};

}  // namespace zendrel
