// Opens the Firebird client (fbclient.dll) with LoadLibraryW on Windows.
#include <windows.h>

#include "erp/database_error.h"
#include "erp/firebird_client.h"
#include "support/windows_text.h"

namespace zendrel {

const char* DefaultFirebirdClientName() { return "fbclient.dll"; }

ClientSymbolLookup OpenClientLibrary(const std::string& library_name) {
  HMODULE library = LoadLibraryW(Widen(library_name).c_str());
  if (library == nullptr) {
    throw DatabaseError(
        "Biblioteca cliente do Firebird não encontrada (" + library_name + "): " + SystemErrorText(GetLastError()),
        DatabaseError::kClientLibraryMissing);
  }
  return [library](const char* symbol) { return reinterpret_cast<void*>(GetProcAddress(library, symbol)); };
}

}  // namespace zendrel
