// The relay lock on Windows: a named mutex in the global namespace, "Global\Zendrel-
// <key>", where the key is taken from the installation folder's path (in any case, as
// Windows compares paths). Global, so that it holds across logon sessions: the service
// runs in session 0, a "-once" from a desktop in another. The mutex lives as long as a
// process holds a handle to it; a relay that ends in any way lets go of it.
#include <windows.h>

#include <cstdint>
#include <stdexcept>

#include <fmt/format.h>

#include "service/relay_lock.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

// FNV-1a over the folder's path with ASCII letters in lower case.
std::uint64_t PathKey(const std::wstring& path) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (wchar_t c : path) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c == L'/') c = L'\\';
    for (int shift = 0; shift < 16; shift += 8) {
      hash ^= static_cast<std::uint64_t>((static_cast<unsigned>(c) >> shift) & 0xFF);
      hash *= 1099511628211ULL;
    }
  }
  return hash;
}

class MutexRelayLock final : public RelayLock {
 public:
  explicit MutexRelayLock(HANDLE mutex) : mutex_(mutex) {}
  ~MutexRelayLock() override { CloseHandle(mutex_); }
  MutexRelayLock(const MutexRelayLock&) = delete;
  MutexRelayLock& operator=(const MutexRelayLock&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace

std::string RelayLockName(const std::filesystem::path& installation_folder) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::weakly_canonical(installation_folder, error);
  return fmt::format("Global\\Zendrel-{:016x}", PathKey((error ? installation_folder : absolute).wstring()));
}

std::unique_ptr<RelayLock> TryTakeRelayLock(const std::filesystem::path& installation_folder) {
  const std::wstring name = Widen(RelayLockName(installation_folder));
  HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
  const DWORD error = GetLastError();
  if (mutex == nullptr) {
    // A mutex the service (as LocalSystem) made may refuse a user's process: it
    // exists, so a relay holds it.
    if (error == ERROR_ACCESS_DENIED) return nullptr;
    throw std::runtime_error(
        fmt::format("Não foi possível criar o mutex {}: {}", Narrow(name), SystemErrorText(error)));
  }
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return nullptr;
  }
  return std::make_unique<MutexRelayLock>(mutex);
}

std::string ServiceStopCommand() { return "sc stop SrvZendrel"; }

}  // namespace zendrel
