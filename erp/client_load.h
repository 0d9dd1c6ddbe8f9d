// What loading the Firebird client came to, for the status report and the poll
// cycle's log: the file in use, or every place looked at. Free of <ibase.h>, which
// only the data layer's own files include.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zendrel {

struct FirebirdApi;

// The name under which the host finds the client ("libfbclient.so.2", "fbclient.dll").
const char* DefaultFirebirdClientName();

// The bitness of this program (32 or 64): a client library must have the same.
constexpr int kProgramBitness = static_cast<int>(sizeof(void*) * 8);

// One place where the client was looked for and not taken, and why ("não existe",
// the system's error, "não tem a função isc_dsql_fetch").
struct ClientPlaceTried {
  std::string place;
  std::string failure;
};

// What loading the client came to: the library in use, or every place tried.
struct ClientLoad {
  std::shared_ptr<const FirebirdApi> api;  // null when no place gave a usable client
  std::string path;                        // the file loaded, full path
  std::string version;                     // isc_get_client_version's text ("" if it has none)
  std::vector<ClientPlaceTried> tried;     // the places that failed, in the order tried
  // When nothing loaded but a client library for the other bitness was found there:
  // 32 or 64, the bitness of the program this machine needs. 0 otherwise.
  int needed_bitness = 0;
};

// Loads the client: the host's places for `library_name` in their order (see
// ClientPlaces), the first that opens and has every entry point the data layer uses
// wins. A success is kept for the whole process (the library stays loaded until
// exit); a failure is not, so the next attempt looks again. Never throws.
ClientLoad LoadFirebirdClientReport(const std::string& library_name);

// The operator's advice when this machine needs the other build of the program:
// "... precisa do Zendrel.exe de 32 bits ...". Empty when `load` has nothing to say.
std::string ClientBitnessAdvice(const ClientLoad& load);

}  // namespace zendrel
