// The service's system user and the installation's owners and modes on Linux.
#include "service/installation_posix.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>

namespace zendrel {
namespace {

std::string ErrnoText(int error) { return std::system_category().message(error); }

// Runs `program` with `args`, its output going where ours goes; its exit status, or
// 127 when it cannot be started.
int RunCommand(const std::string& program, std::vector<std::string> args) {
  std::vector<char*> argv;
  std::string name = program;
  argv.push_back(name.data());
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) {
    ::execvp(name.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void ChangeOwnerAndMode(const std::filesystem::path& path, uid_t uid, gid_t gid, mode_t mode) {
  // The folder and the program are root's and given by path; a link in their place
  // would not be an installation made by the package or by hand.
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    throw std::runtime_error(fmt::format("cannot read {}: {}", path.string(), ErrnoText(errno)));
  }
  if (S_ISLNK(info.st_mode)) throw std::runtime_error(path.string() + " is a symbolic link");
  if (::chown(path.c_str(), uid, gid) != 0 || ::chmod(path.c_str(), mode) != 0) {
    throw std::runtime_error(fmt::format("cannot set the owner and mode of {}: {}", path.string(), ErrnoText(errno)));
  }
}

}  // namespace

std::optional<ServiceAccount> FindServiceAccount(const std::string& name) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  int error = 0;
  while ((error = ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0) throw std::runtime_error(fmt::format("cannot look up the user {}: {}", name, ErrnoText(error)));
  if (found == nullptr) return std::nullopt;
  return ServiceAccount{entry.pw_uid, entry.pw_gid};
}

ServiceAccount EnsureServiceAccount(const std::string& name, bool& created) {
  created = false;
  if (auto account = FindServiceAccount(name)) return *account;
  // No home and no login: the account only runs the service.
  int status =
      RunCommand("adduser", {"--system", "--group", "--quiet", "--no-create-home", "--home", "/nonexistent", name});
  if (status == 127) {
    status = RunCommand("useradd", {"--system", "--user-group", "--no-create-home", "--home-dir", "/nonexistent",
                                    "--shell", "/usr/sbin/nologin", name});
  }
  if (auto account = FindServiceAccount(name)) {
    created = true;
    return *account;
  }
  throw std::runtime_error(fmt::format(
      "the system user {} that the service runs as is missing and could not be created (adduser and useradd "
      "exit status {}); create it with: adduser --system --group {}",
      name, status, name));
}

void SecureInstallation(const std::filesystem::path& folder, const std::filesystem::path& program,
                        const std::vector<std::filesystem::path>& service_files, const ServiceAccount& account) {
  ChangeOwnerAndMode(folder, 0, account.gid, S_ISVTX | S_IRWXU | S_IRWXG);
  ChangeOwnerAndMode(program, 0, account.gid, S_IRWXU | S_IRGRP | S_IXGRP);
  for (const std::filesystem::path& file : service_files) {
    // AT_SYMLINK_NOFOLLOW: the service's user may have put a link there; root gives
    // away the link at most, never what it points to.
    if (::fchownat(AT_FDCWD, file.c_str(), account.uid, account.gid, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT) {
      throw std::runtime_error(
          fmt::format("cannot give {} to the service's user: {}", file.string(), ErrnoText(errno)));
    }
  }
}

}  // namespace zendrel
