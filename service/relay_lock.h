// One relay per installation: the running relay (the service, a foreground run, a
// "-once" run) holds this lock for its whole life, so that no second process reads
// the same send index and posts the same movements again. One implementation per
// host: an advisory lock on a file on Linux, a named mutex on Windows.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace zendrel {

// Held while alive; released when destroyed or when the process ends in any way.
class RelayLock {
 public:
  virtual ~RelayLock() = default;
};

// Takes the relay lock of the installation in `installation_folder` (the executable's
// folder). Returns nullptr when another relay holds it. Throws std::runtime_error when
// the host cannot take the lock at all.
std::unique_ptr<RelayLock> TryTakeRelayLock(const std::filesystem::path& installation_folder);

// What the lock is on, for messages and tests: the lock file's path on Linux, the
// mutex's name on Windows.
std::string RelayLockName(const std::filesystem::path& installation_folder);

// The command that stops the service on this host ("systemctl stop SrvZendrel").
std::string ServiceStopCommand();

}  // namespace zendrel
