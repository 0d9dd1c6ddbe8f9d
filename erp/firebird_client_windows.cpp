// Loads the Firebird client (fbclient.dll) with LoadLibraryW on Windows.
#include <windows.h>

#include <map>
#include <mutex>

#include "erp/database_error.h"
#include "erp/firebird_client.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

template <typename Function>
void Resolve(HMODULE library, const std::string& library_name, const char* symbol, Function& target) {
  FARPROC address = GetProcAddress(library, symbol);
  if (address == nullptr) {
    throw DatabaseError("A biblioteca cliente do Firebird (" + library_name + ") não tem a função " + symbol,
                        DatabaseError::kClientLibraryMissing);
  }
  target = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

std::shared_ptr<const FirebirdApi> Load(const std::string& library_name) {
  HMODULE library = LoadLibraryW(Widen(library_name).c_str());
  if (library == nullptr) {
    throw DatabaseError("Biblioteca cliente do Firebird não encontrada (" + library_name +
                            "): " + SystemErrorText(GetLastError()),
                        DatabaseError::kClientLibraryMissing);
  }
  auto api = std::make_shared<FirebirdApi>();
  Resolve(library, library_name, "isc_attach_database", api->attach_database);
  Resolve(library, library_name, "isc_detach_database", api->detach_database);
  Resolve(library, library_name, "isc_drop_database", api->drop_database);
  Resolve(library, library_name, "isc_start_multiple", api->start_multiple);
  Resolve(library, library_name, "isc_commit_transaction", api->commit_transaction);
  Resolve(library, library_name, "isc_rollback_transaction", api->rollback_transaction);
  Resolve(library, library_name, "fb_disconnect_transaction", api->disconnect_transaction);
  Resolve(library, library_name, "isc_dsql_allocate_statement", api->dsql_allocate_statement);
  Resolve(library, library_name, "isc_dsql_free_statement", api->dsql_free_statement);
  Resolve(library, library_name, "isc_dsql_prepare", api->dsql_prepare);
  Resolve(library, library_name, "isc_dsql_describe", api->dsql_describe);
  Resolve(library, library_name, "isc_dsql_describe_bind", api->dsql_describe_bind);
  Resolve(library, library_name, "isc_dsql_execute", api->dsql_execute);
  Resolve(library, library_name, "isc_dsql_execute_immediate", api->dsql_execute_immediate);
  Resolve(library, library_name, "isc_dsql_fetch", api->dsql_fetch);
  Resolve(library, library_name, "isc_dsql_sql_info", api->dsql_sql_info);
  Resolve(library, library_name, "fb_interpret", api->interpret);
  Resolve(library, library_name, "isc_vax_integer", api->vax_integer);
  // The library is never freed: the client keeps threads of its own that must not
  // lose their code while the process runs.
  return api;
}

}  // namespace

const char* DefaultFirebirdClientName() { return "fbclient.dll"; }

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
