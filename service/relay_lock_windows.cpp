// The relay locks on Windows: named mutexes in the global namespace, "Global\Zendrel-
// <key>" for an installation folder and "Global\Zendrel-database-<key>" for a database,
// where the key is taken from the folder's or the database file's path (in any case,
// as Windows compares paths). Global, so that they hold across logon sessions: the
// service runs in session 0, a "-once" from a desktop in another. A mutex lives as long
// as a process holds a handle to it; a relay that ends in any way lets go of it. The
// holder of a database's mutex writes its folder into a named memory section beside
// it, "Global\Zendrel-database-<key>-folder", for the relay that finds it held.
#include <windows.h>

#include <algorithm>
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

// The holder's folder, in UTF-16 with a closing zero, fits in this.
constexpr DWORD kHolderSectionBytes = 65536;

class MutexRelayLock final : public RelayLock {
 public:
  explicit MutexRelayLock(HANDLE mutex, HANDLE holder_section = nullptr)
      : mutex_(mutex), holder_section_(holder_section) {}
  ~MutexRelayLock() override {
    if (holder_section_ != nullptr) CloseHandle(holder_section_);
    CloseHandle(mutex_);
  }
  MutexRelayLock(const MutexRelayLock&) = delete;
  MutexRelayLock& operator=(const MutexRelayLock&) = delete;

 private:
  HANDLE mutex_;
  HANDLE holder_section_;
};

std::wstring CanonicalText(const std::filesystem::path& folder) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::weakly_canonical(folder, error);
  return (error ? folder : absolute).wstring();
}

// The mutex `name`, owned by this process; nullptr when another process has it.
HANDLE TryCreateOwnedMutex(const std::wstring& name) {
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
  return mutex;
}

std::wstring HolderSectionName(const std::wstring& mutex_name) { return mutex_name + L"-folder"; }

// Writes `folder` into a new section beside the mutex; nullptr when the section cannot
// be made, which only leaves a relay that finds the mutex held without the name.
HANDLE WriteHolder(const std::wstring& mutex_name, const std::wstring& folder) {
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kHolderSectionBytes,
                                      HolderSectionName(mutex_name).c_str());
  if (section == nullptr) return nullptr;
  if (void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, kHolderSectionBytes)) {
    const std::size_t units = std::min<std::size_t>(folder.size(), kHolderSectionBytes / sizeof(wchar_t) - 1);
    auto* text = static_cast<wchar_t*>(view);
    std::copy_n(folder.data(), units, text);
    text[units] = L'\0';
    UnmapViewOfFile(view);
  }
  return section;
}

std::string ReadHolder(const std::wstring& mutex_name) {
  HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, HolderSectionName(mutex_name).c_str());
  if (section == nullptr) return "";
  std::wstring folder;
  if (const void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, kHolderSectionBytes)) {
    const auto* text = static_cast<const wchar_t*>(view);
    const std::size_t limit = kHolderSectionBytes / sizeof(wchar_t);
    std::size_t length = 0;
    while (length < limit && text[length] != L'\0') ++length;
    folder.assign(text, length);
    UnmapViewOfFile(view);
  }
  CloseHandle(section);
  return Narrow(folder);
}

}  // namespace

std::string RelayLockName(const std::filesystem::path& installation_folder, const LockPlace&) {
  return fmt::format("Global\\Zendrel-{:016x}", PathKey(CanonicalText(installation_folder)));
}

std::string DatabaseLockName(const std::string& database_file, const LockPlace&) {
  return fmt::format("Global\\Zendrel-database-{:016x}", PathKey(Widen(database_file)));
}

std::unique_ptr<RelayLock> TryTakeRelayLock(const std::filesystem::path& installation_folder, const LockPlace& place) {
  HANDLE mutex = TryCreateOwnedMutex(Widen(RelayLockName(installation_folder, place)));
  if (mutex == nullptr) return nullptr;
  return std::make_unique<MutexRelayLock>(mutex);
}

DatabaseLockAttempt TryTakeDatabaseLock(const std::string& database_file,
                                        const std::filesystem::path& installation_folder, const LockPlace& place) {
  const std::wstring name = Widen(DatabaseLockName(database_file, place));
  HANDLE mutex = TryCreateOwnedMutex(name);
  if (mutex == nullptr) return {nullptr, ReadHolder(name)};
  return {std::make_unique<MutexRelayLock>(mutex, WriteHolder(name, CanonicalText(installation_folder))), ""};
}

std::string ServiceStopCommand() { return "sc stop SrvZendrel"; }

}  // namespace zendrel
