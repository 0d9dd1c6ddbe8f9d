// The Firebird client library, loaded at run time. The service must start on a
// machine without the client and report a connection failure there, so nothing
// links libfbclient directly: every call goes through this table of functions.
#pragma once

#include <ibase.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "erp/client_load.h"

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

// As LoadFirebirdClientReport, returning the entry points. Throws DatabaseError with
// a message that names every place tried when no client loads: the code is
// kClientWrongBitness when only a client for the other bitness was found, otherwise
// kClientLibraryMissing.
std::shared_ptr<const FirebirdApi> LoadFirebirdClient(const std::string& library_name);

// --- The host's part of loading ---

// A place to look for the client: a file (a full path, or a bare name that the
// host's own search resolves) and where it comes from, as the report names it.
struct ClientPlace {
  std::string file;
  std::string origin;
};

// Where the host looks for `library_name`, in order. A name with a folder in it is
// only looked for there.
std::vector<ClientPlace> ClientPlaces(const std::string& library_name);

// How to look up one function of an opened library (nullptr when it has none).
using ClientSymbolLookup = std::function<void*(const char* symbol)>;

// One place opened, or why not.
struct OpenedClient {
  ClientSymbolLookup lookup;      // empty when the place failed
  std::string path;               // the file opened, full path
  std::string failure;            // why not, when `lookup` is empty
  int other_bitness = 0;          // 32 or 64 when the file is a library for the other bitness
  std::function<void()> release;  // closes a library that turns out unusable (may be empty)
};

// Opens the library at `place`. A library that is kept is never closed: the client
// keeps threads of its own.
OpenedClient OpenClientPlace(const ClientPlace& place);

// Raises the error held in `status` as a DatabaseError (message from the client's
// own texts, every error code kept) when the status holds an error.
void CheckStatus(const FirebirdApi& api, const ISC_STATUS* status);

// The DatabaseError that `status` describes.
[[noreturn]] void ThrowStatus(const FirebirdApi& api, const ISC_STATUS* status);

}  // namespace zendrel
