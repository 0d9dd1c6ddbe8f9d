// One relay at a time, two ways. The running relay (the service, a foreground run, a
// "-once" run) holds the lock of its installation folder for its whole life, so that
// the log and the folder's settings have one writer. And each poll cycle, from its
// connect to its disconnect, holds the machine-wide lock of the database it works on,
// so that two copies of the relay in two folders (a copy on the desktop, a folder an
// update unpacked) never read the same send index and post the same movements twice.
// Every relay of one database runs on its server's machine (the server check), so a
// lock of this machine is enough. One implementation per host: advisory locks on
// files of a folder only root and the service's user may enter on Linux, named
// mutexes on Windows.
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

// Where the locks live. Empty fields take the host's own: on Linux the folder
// /run/zendrel and the service's system user "zendrel"; Windows has no such place.
struct LockPlace {
  std::filesystem::path folder;
  std::string service_user;
};

// Takes the relay lock of the installation in `installation_folder` (the executable's
// folder). Returns nullptr when another relay holds it. Throws std::runtime_error when
// the host cannot take the lock at all.
std::unique_ptr<RelayLock> TryTakeRelayLock(const std::filesystem::path& installation_folder,
                                            const LockPlace& place = {});

// What the lock is on, for messages and tests: the lock file's path on Linux, the
// mutex's name on Windows.
std::string RelayLockName(const std::filesystem::path& installation_folder, const LockPlace& place = {});

struct DatabaseLockAttempt {
  std::unique_ptr<RelayLock> lock;  // nullptr: another relay holds the database
  std::string holder_folder;        // that relay's folder, as it wrote it ("" if unknown)
};

// Takes the machine-wide lock of the database file the server names `database_file`,
// writing `installation_folder` into it for a relay that finds it held. Throws
// std::runtime_error when the host cannot take the lock at all.
DatabaseLockAttempt TryTakeDatabaseLock(const std::string& database_file,
                                        const std::filesystem::path& installation_folder, const LockPlace& place = {});

// What the database's lock is on, for messages and tests.
std::string DatabaseLockName(const std::string& database_file, const LockPlace& place = {});

// The command that stops the service on this host ("systemctl stop SrvZendrel").
std::string ServiceStopCommand();

}  // namespace zendrel
