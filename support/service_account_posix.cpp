// Handing a file over to the service's system user on Linux.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "support/service_account.h"

namespace zendrel {

std::string GiveToServiceUser(const std::filesystem::path& path) {
  return GiveToServiceUser(path, kServiceAccountName);
}

std::string GiveToServiceUser(const std::filesystem::path& path, const std::string& account) {
  // Only root can give a file away; any other user's files are already its own to keep.
  if (::geteuid() != 0) return "";
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  int error = 0;
  while ((error = ::getpwnam_r(account.c_str(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0) {
    return fmt::format("cannot look up the user {}: {}", account, std::system_category().message(error));
  }
  // A copy run without the service installed: nobody else needs the file.
  if (found == nullptr) return "";
  // AT_SYMLINK_NOFOLLOW: the service's user may write the folder, so a link there could
  // point anywhere; root must never give away what it points to.
  if (::fchownat(AT_FDCWD, path.c_str(), entry.pw_uid, entry.pw_gid, AT_SYMLINK_NOFOLLOW) != 0) {
    return fmt::format("cannot give {} to the user {}: {}", path.string(), account,
                       std::system_category().message(errno));
  }
  return "";
}

}  // namespace zendrel
