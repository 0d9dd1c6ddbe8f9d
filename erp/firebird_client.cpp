// Resolves the Firebird client's entry points through the host's library loader, once
// per library name for the whole process.
#include <map>
#include <mutex>
#include <type_traits>

#include "erp/client_types.h"
#include "erp/database_error.h"
#include "erp/firebird_client.h"

namespace zendrel {

// The data layer's headers name the client's types without <ibase.h>; a client
// whose types differ (a 32-bit one declares its handles as pointers) must not build.
static_assert(std::is_same_v<ClientHandle, isc_db_handle> && std::is_same_v<ClientHandle, isc_tr_handle> &&
                  std::is_same_v<ClientHandle, isc_stmt_handle>,
              "ClientHandle must be the client's handle type");
static_assert(std::is_same_v<ClientStatus, ISC_STATUS>, "ClientStatus must be the client's status type");

namespace {

template <typename Function>
void Resolve(const ClientSymbolLookup& lookup, const std::string& library_name, const char* symbol, Function& target) {
  void* address = lookup(symbol);
  if (address == nullptr) {
    throw DatabaseError("A biblioteca cliente do Firebird (" + library_name + ") não tem a função " + symbol,
                        DatabaseError::kClientLibraryMissing);
  }
  target = reinterpret_cast<Function>(address);
}

std::shared_ptr<const FirebirdApi> Load(const std::string& library_name) {
  const ClientSymbolLookup lookup = OpenClientLibrary(library_name);
  auto api = std::make_shared<FirebirdApi>();
  Resolve(lookup, library_name, "isc_attach_database", api->attach_database);
  Resolve(lookup, library_name, "isc_detach_database", api->detach_database);
  Resolve(lookup, library_name, "isc_drop_database", api->drop_database);
  Resolve(lookup, library_name, "isc_start_multiple", api->start_multiple);
  Resolve(lookup, library_name, "isc_commit_transaction", api->commit_transaction);
  Resolve(lookup, library_name, "isc_rollback_transaction", api->rollback_transaction);
  Resolve(lookup, library_name, "fb_disconnect_transaction", api->disconnect_transaction);
  Resolve(lookup, library_name, "isc_dsql_allocate_statement", api->dsql_allocate_statement);
  Resolve(lookup, library_name, "isc_dsql_free_statement", api->dsql_free_statement);
  Resolve(lookup, library_name, "isc_dsql_prepare", api->dsql_prepare);
  Resolve(lookup, library_name, "isc_dsql_describe", api->dsql_describe);
  Resolve(lookup, library_name, "isc_dsql_describe_bind", api->dsql_describe_bind);
  Resolve(lookup, library_name, "isc_dsql_execute", api->dsql_execute);
  Resolve(lookup, library_name, "isc_dsql_execute_immediate", api->dsql_execute_immediate);
  Resolve(lookup, library_name, "isc_dsql_fetch", api->dsql_fetch);
  Resolve(lookup, library_name, "isc_dsql_sql_info", api->dsql_sql_info);
  Resolve(lookup, library_name, "fb_cancel_operation", api->cancel_operation);
  Resolve(lookup, library_name, "fb_interpret", api->interpret);
  Resolve(lookup, library_name, "isc_vax_integer", api->vax_integer);
  return api;
}

}  // namespace

std::shared_ptr<const FirebirdApi> LoadFirebirdClient(const std::string& library_name) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const FirebirdApi>> loaded;
  std::lock_guard lock(mutex);
  auto found = loaded.find(library_name);
  if (found != loaded.end()) return found->second;
  auto api = Load(library_name);
  loaded.emplace(library_name, api);
  return api;
}

}  // namespace zendrel
