// Whether a relay (the service, a foreground run, a "-once") holds the installation's
// relay lock now, seen from outside without taking it: -status must never keep a
// service that is starting from taking its lock. One implementation per host:
// relay_lock_query_posix.cpp, relay_lock_query_windows.cpp.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zendrel {

struct RelayLockLook {
  std::optional<bool> held;  // nullopt: this process could not tell
  std::string detail;        // why not, or what was looked at
};

// Looks at the relay lock of the installation in `installation_folder` (relay_lock.h).
RelayLockLook LookAtRelayLock(const std::filesystem::path& installation_folder);

}  // namespace zendrel
