// The Firebird client library, loaded at run time. The service must start on a
// machine without the client and report a connection failure there, so nothing
// links libfbclient directly: every call goes through this table of functions.
#pragma once

#include <ibase.h>

#include <functional>
#include <memory>
#include <string>

namespace zendrel {

// The entry points of the client's C API that the data layer uses.
struct FirebirdApi {
  decltype(&::isc_attach_database) attach_database = nullptr;
  decltype(&::isc_detach_database) detach_database = nullptr;
  decltype(&::isc_drop_database) drop_database = nullptr;
  decltype(&::isc_start_multiple) start_multiple = nullptr;
  decltype(&::isc_commit_transaction) commit_transaction = nullptr;
  decltype(&::isc_rollback_transaction) rollback_transaction = nullptr;
  decltype(&::fb_disconnect_transaction) disconnect_transaction = nullptr;
  decltype(&::isc_dsql_allocate_statement) dsql_allocate_statement = nullptr;
  decltype(&::isc_dsql_free_statement) dsql_free_statement = nullptr;
  decltype(&::isc_dsql_prepare) dsql_prepare = nullptr;
  decltype(&::isc_dsql_describe) dsql_describe = nullptr;
  decltype(&::isc_dsql_describe_bind) dsql_describe_bind = nullptr;
  decltype(&::isc_dsql_execute) dsql_execute = nullptr;
  decltype(&::isc_dsql_execute_immediate) dsql_execute_immediate = nullptr;
  decltype(&::isc_dsql_fetch) dsql_fetch = nullptr;
  decltype(&::isc_dsql_sql_info) dsql_sql_info = nullptr;
  decltype(&::fb_cancel_operation) cancel_operation = nullptr;
  decltype(&::fb_interpret) interpret = nullptr;
  decltype(&::isc_vax_integer) vax_integer = nullptr;
};

// The name under which the host finds the client ("libfbclient.so.2").
const char* DefaultFirebirdClientName();

// Loads the client library `library_name` (once per name for the whole process; the
// library stays loaded until exit) and resolves its entry points. Throws
// DatabaseError with a clear message when the library or an entry point is missing.
std::shared_ptr<const FirebirdApi> LoadFirebirdClient(const std::string& library_name);

// The host's part of loading: opens the library `library_name` for good (it is never
// closed: the client keeps threads of its own) and returns how to look up one of its
// functions (nullptr when it has none). Throws DatabaseError(kClientLibraryMissing)
// when the library cannot be opened.
using ClientSymbolLookup = std::function<void*(const char* symbol)>;
ClientSymbolLookup OpenClientLibrary(const std::string& library_name);

// Raises the error held in `status` as a DatabaseError (message from the client's
// own texts, every error code kept) when the status holds an error.
void CheckStatus(const FirebirdApi& api, const ISC_STATUS* status);

// The DatabaseError that `status` describes.
[[noreturn]] void ThrowStatus(const FirebirdApi& api, const ISC_STATUS* status);

}  // namespace zendrel
