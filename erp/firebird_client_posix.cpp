// Opens the Firebird client with dlopen on POSIX hosts.
#include <dlfcn.h>

#include "erp/database_error.h"
#include "erp/firebird_client.h"

namespace zendrel {

const char* DefaultFirebirdClientName() { return "libfbclient.so.2"; }

ClientSymbolLookup OpenClientLibrary(const std::string& library_name) {
  void* library = dlopen(library_name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    throw DatabaseError("Biblioteca cliente do Firebird não encontrada (" + library_name + ")" +
                            (reason != nullptr ? std::string(": ") + reason : std::string()),
                        DatabaseError::kClientLibraryMissing);
  }
  return [library](const char* symbol) { return dlsym(library, symbol); };
}

}  // namespace zendrel
