// The account the service runs under, and handing a file over to it. On Linux the
// service runs as the system user "zendrel", while an administrator runs "-once" and
// "-status" as root: a file that root's run creates first (the log, the state file)
// must stay one the service can go on appending to and replacing. On Windows the
// service and an administrator's run write files as accounts that may both write
// them, so nothing is handed over there.
#pragma once

#include <filesystem>
#include <string>

namespace zendrel {

// The Linux service's system user and group.
inline constexpr const char* kServiceAccountName = "zendrel";

// Makes `path` owned by the service's account (user and group), when that matters:
// on Linux, when this process runs as root and the account exists. A symbolic link is
// changed itself, never what it points to. Returns an empty text when the file was
// handed over or nothing needed doing, else why it could not be.
std::string GiveToServiceUser(const std::filesystem::path& path);

// The same for the account named `account` (tests use an account every system has).
std::string GiveToServiceUser(const std::filesystem::path& path, const std::string& account);

}  // namespace zendrel
