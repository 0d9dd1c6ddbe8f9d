// Opens the Firebird client with dlopen on POSIX hosts: the dynamic loader's own
// search (ld.so.conf, LD_LIBRARY_PATH) is where a Linux installation puts it.
#include <dlfcn.h>

#include "erp/firebird_client.h"

namespace zendrel {

const char* DefaultFirebirdClientName() { return "libfbclient.so.2"; }

std::vector<ClientPlace> ClientPlaces(const std::string& library_name) { return {{library_name, ""}}; }

OpenedClient OpenClientPlace(const ClientPlace& place) {
  OpenedClient opened;
  void* library = dlopen(place.file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    opened.failure = reason != nullptr ? reason : "dlopen falhou";
    return opened;
  }
  opened.lookup = [library](const char* symbol) { return dlsym(library, symbol); };
  // A library that is not the client stays open too: closing it gains nothing, and
  // the dynamic loader does not free all it took for it.
  // The file the loader chose, for the report.
  Dl_info info{};
  void* some_symbol = dlsym(library, "isc_attach_database");
  if (some_symbol != nullptr && dladdr(some_symbol, &info) != 0 && info.dli_fname != nullptr) {
    opened.path = info.dli_fname;
  }
  return opened;
}

}  // namespace zendrel
