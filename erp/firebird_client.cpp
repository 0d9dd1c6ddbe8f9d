// Finds and loads the Firebird client: tries the host's places in their order and
// takes the first library that has every entry point, once per library name for the
// whole process.
#include <map>
#include <mutex>
#include <type_traits>

#include <fmt/format.h>

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

// Each entry point and where it goes; the first missing one names the failure.
template <typename Function>
bool Resolve(const ClientSymbolLookup& lookup, const char* symbol, Function& target, std::string& missing) {
  if (!missing.empty()) return false;
  void* address = lookup(symbol);
  if (address == nullptr) {
    missing = symbol;
    return false;
  }
  target = reinterpret_cast<Function>(address);
  return true;
}

// The entry points, or the name of the first one the library lacks.
std::shared_ptr<FirebirdApi> ResolveAll(const ClientSymbolLookup& lookup, std::string& missing) {
  auto api = std::make_shared<FirebirdApi>();
  Resolve(lookup, "isc_attach_database", api->attach_database, missing);
  Resolve(lookup, "isc_detach_database", api->detach_database, missing);
  Resolve(lookup, "isc_drop_database", api->drop_database, missing);
  Resolve(lookup, "isc_start_multiple", api->start_multiple, missing);
  Resolve(lookup, "isc_commit_transaction", api->commit_transaction, missing);
  Resolve(lookup, "isc_rollback_transaction", api->rollback_transaction, missing);
  Resolve(lookup, "fb_disconnect_transaction", api->disconnect_transaction, missing);
  Resolve(lookup, "isc_dsql_allocate_statement", api->dsql_allocate_statement, missing);
  Resolve(lookup, "isc_dsql_free_statement", api->dsql_free_statement, missing);
  Resolve(lookup, "isc_dsql_prepare", api->dsql_prepare, missing);
  Resolve(lookup, "isc_dsql_describe", api->dsql_describe, missing);
  Resolve(lookup, "isc_dsql_describe_bind", api->dsql_describe_bind, missing);
  Resolve(lookup, "isc_dsql_execute", api->dsql_execute, missing);
  Resolve(lookup, "isc_dsql_execute_immediate", api->dsql_execute_immediate, missing);
  Resolve(lookup, "isc_dsql_fetch", api->dsql_fetch, missing);
  Resolve(lookup, "isc_dsql_sql_info", api->dsql_sql_info, missing);
  Resolve(lookup, "fb_cancel_operation", api->cancel_operation, missing);
  Resolve(lookup, "fb_interpret", api->interpret, missing);
  Resolve(lookup, "isc_vax_integer", api->vax_integer, missing);
  if (!missing.empty()) return nullptr;
  return api;
}

// The client's own version text; only for the report, so a client without the
// function still serves.
std::string ClientVersion(const ClientSymbolLookup& lookup) {
  void* address = lookup("isc_get_client_version");
  if (address == nullptr) return {};
  char text[256] = {};
  reinterpret_cast<decltype(&::isc_get_client_version)>(address)(text);
  text[sizeof text - 1] = '\0';
  return text;
}

ClientLoad Load(const std::string& library_name) {
  ClientLoad load;
  bool other_bitness_found = false;
  for (const ClientPlace& place : ClientPlaces(library_name)) {
    const std::string where = place.origin.empty() ? place.file : place.origin + ": " + place.file;
    OpenedClient opened = OpenClientPlace(place);
    if (!opened.lookup) {
      if (opened.other_bitness != 0 && opened.other_bitness != kProgramBitness) other_bitness_found = true;
      load.tried.push_back({where, opened.failure});
      continue;
    }
    std::string missing;
    std::shared_ptr<FirebirdApi> api = ResolveAll(opened.lookup, missing);
    if (!api) {
      if (opened.release) opened.release();
      load.tried.push_back({where, "não tem a função " + missing});
      continue;
    }
    load.api = std::move(api);
    load.path = opened.path.empty() ? place.file : opened.path;
    load.version = ClientVersion(opened.lookup);
    return load;
  }
  if (other_bitness_found) load.needed_bitness = kProgramBitness == 64 ? 32 : 64;
  return load;
}

}  // namespace

ClientLoad LoadFirebirdClientReport(const std::string& library_name) {
  static std::mutex mutex;
  static std::map<std::string, ClientLoad> loaded;
  std::lock_guard lock(mutex);
  auto found = loaded.find(library_name);
  if (found != loaded.end()) return found->second;
  ClientLoad load = Load(library_name);
  if (load.api) loaded.emplace(library_name, load);
  return load;
}

std::shared_ptr<const FirebirdApi> LoadFirebirdClient(const std::string& library_name) {
  ClientLoad load = LoadFirebirdClientReport(library_name);
  if (load.api) return load.api;
  std::string message = "Biblioteca cliente do Firebird não encontrada (" + library_name + ")";
  const char* separator = ": ";
  for (const ClientPlaceTried& tried : load.tried) {
    message += separator + tried.place + " (" + tried.failure + ")";
    separator = "; ";
  }
  const std::string advice = ClientBitnessAdvice(load);
  if (!advice.empty()) message += ". " + advice;
  throw DatabaseError(
      message, load.needed_bitness != 0 ? DatabaseError::kClientWrongBitness : DatabaseError::kClientLibraryMissing);
}

std::string ClientBitnessAdvice(const ClientLoad& load) {
  if (load.api || load.needed_bitness == 0) return {};
  return fmt::format(
      "A biblioteca cliente do Firebird deste computador é de {0} bits e este programa é de {1} bits: "
      "este computador precisa do Zendrel.exe de {0} bits (Zendrel-{2}-win{0}.zip)",
      load.needed_bitness, kProgramBitness, ZENDREL_VERSION);
}

}  // namespace zendrel
