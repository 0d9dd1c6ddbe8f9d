// The relay lock seen from outside on Windows: the named mutex exists exactly as long
// as a relay holds a handle to it, so opening it by name (without waiting for it)
// tells whether one runs.
#include <windows.h>

#include <string>

#include "service/relay_lock.h"
#include "service/relay_lock_query.h"
#include "support/windows_text.h"

namespace zendrel {

RelayLockLook LookAtRelayLock(const std::filesystem::path& installation_folder) {
  RelayLockLook look;
  const std::string name = RelayLockName(installation_folder);
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, Widen(name).c_str());
  const DWORD error = GetLastError();
  look.detail = name;
  if (mutex != nullptr) {
    CloseHandle(mutex);
    look.held = true;
  } else if (error == ERROR_FILE_NOT_FOUND) {
    look.held = false;
  } else if (error == ERROR_ACCESS_DENIED) {
    // The service's mutex may refuse a user's process: it exists, so it is held.
    look.held = true;
  } else {
    look.detail = name + ": " + SystemErrorText(error);
  }
  return look;
}

}  // namespace zendrel
