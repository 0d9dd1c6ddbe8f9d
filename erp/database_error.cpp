// The data layer's exception and the reading of the client's status vector.
#include "erp/database_error.h"

#include <algorithm>
#include <array>

#include "erp/firebird_client.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

// Error codes with which Firebird 3 reports a connection that is gone: the
// attachment deleted from MON$ATTACHMENTS, the server stopped or unreachable.
constexpr std::array<long, 9> kConnectionLostCodes = {
    335544856,  // isc_att_shutdown: connection shutdown
    335544726,  // isc_net_read_err
    335544727,  // isc_net_write_err
    335544721,  // isc_network_error: unable to complete network request
    335544722,  // isc_net_connect_err
    335544741,  // isc_lost_db_connection
    335544648,  // isc_conn_lost
    335544528,  // isc_shutdown: database shut down
    335544971,  // isc_net_server_shutdown
};

}  // namespace

DatabaseError::DatabaseError(std::string message, long code) : std::runtime_error(std::move(message)), codes_{code} {}

DatabaseError::DatabaseError(std::string message, std::vector<long> codes)
    : std::runtime_error(std::move(message)), codes_(std::move(codes)) {}

bool DatabaseError::HasCode(long code) const { return std::find(codes_.begin(), codes_.end(), code) != codes_.end(); }

bool DatabaseError::connection_lost() const {
  return std::any_of(kConnectionLostCodes.begin(), kConnectionLostCodes.end(),
                     [this](long code) { return HasCode(code); });
}

bool DatabaseError::lock_timeout() const {
  // A write that waited too long reports isc_lock_timeout; a read without record
  // versions whose wait ran out reports "deadlock; read conflicts with concurrent
  // update" (isc_read_conflict), and only a wait can end that way in a waiting
  // transaction.
  return HasCode(335544510) || HasCode(335545096);
}

bool DatabaseError::update_conflict() const {
  // isc_update_conflict, and isc_concurrent_transaction that comes with it.
  return HasCode(335544451) || HasCode(335544878);
}

void ThrowStatus(const FirebirdApi& api, const ISC_STATUS* status) {
  std::vector<long> codes;
  // The vector is a list of clusters: isc_arg_gds carries an error code; the other
  // argument kinds carry their value (and strings with a length carry two).
  for (const ISC_STATUS* p = status; *p != isc_arg_end;) {
    const ISC_STATUS kind = *p;
    if (kind == isc_arg_gds) codes.push_back(static_cast<long>(p[1]));
    p += (kind == isc_arg_cstring) ? 3 : 2;
  }
  std::string message;
  const ISC_STATUS* cursor = status;
  std::array<char, 1024> line{};
  while (api.interpret(line.data(), line.size(), &cursor) > 0) {
    if (!message.empty()) message += "; ";
    message += Latin1ToUtf8(line.data());
  }
  if (message.empty()) message = "Erro do Firebird";
  throw DatabaseError(std::move(message), std::move(codes));
}

void CheckStatus(const FirebirdApi& api, const ISC_STATUS* status) {
  if (status[0] == 1 && status[1] != 0) ThrowStatus(api, status);
}

}  // namespace zendrel
