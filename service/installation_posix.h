// What "-install" sets up on Linux besides the unit: the service's system user, and
// the owners and modes of the installation folder and of the files in it, so that the
// service can write its log and state there but can neither replace the program nor
// change the settings file, and other users cannot read the program (it holds the
// compiled-in passwords and token).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zendrel {

struct ServiceAccount {
  uid_t uid = 0;
  gid_t gid = 0;  // the account's own group
};

// The system user `name`, when it exists.
std::optional<ServiceAccount> FindServiceAccount(const std::string& name);

// The system user `name`, created when it is missing (adduser --system --group, or
// useradd --system where there is no adduser). `created` says whether it was. Throws
// std::runtime_error, saying that the user is missing, when it cannot be created.
ServiceAccount EnsureServiceAccount(const std::string& name, bool& created);

// Owners and modes of an installation, for `account`:
// - the folder root:<group> 1770: the service may create files in it, and the sticky
//   bit keeps it from renaming or deleting files it does not own (the program, the
//   settings file, both root's); others cannot enter it;
// - the program root:<group> 0750: the service runs it, others cannot read it;
// - `service_files` that exist (the log, the state file, the lock) are handed to the
//   account, so that a service whose earlier version ran as root, or that starts
//   after a run by root, can go on writing them.
// Throws std::runtime_error naming the path that could not be changed.
void SecureInstallation(const std::filesystem::path& folder, const std::filesystem::path& program,
                        const std::vector<std::filesystem::path>& service_files, const ServiceAccount& account);

}  // namespace zendrel
