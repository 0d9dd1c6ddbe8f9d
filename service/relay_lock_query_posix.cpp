// The relay lock seen from outside on Linux: the kernel lists every flock it holds in
// /proc/locks by device and inode, so the lock file's inode says whether a process
// holds it, without a lock attempt of our own.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <fmt/format.h>

#include "service/relay_lock.h"
#include "service/relay_lock_query.h"

namespace zendrel {

RelayLockLook LookAtRelayLock(const std::filesystem::path& installation_folder) {
  RelayLockLook look;
  const std::string path = RelayLockName(installation_folder);
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) {
    if (errno == ENOENT) {
      look.held = false;
      look.detail = path + " não existe: nenhum relay rodou desde o início do sistema";
    } else {
      look.detail = fmt::format("não foi possível ver {}: {}", path, std::strerror(errno));
    }
    return look;
  }
  std::ifstream locks("/proc/locks");
  if (!locks) {
    look.detail = "não foi possível ler /proc/locks";
    return look;
  }
  // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF": the device in hex, the inode.
  const std::string wanted = fmt::format("{:02x}:{:02x}:{}", major(file.st_dev), minor(file.st_dev), file.st_ino);
  look.held = false;
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, pid, where;
    fields >> number >> kind;
    if (kind == "->") fields >> kind;  // a process waiting for the lock
    fields >> mode >> access >> pid >> where;
    if (kind == "FLOCK" && where == wanted) {
      look.held = true;
      look.detail = fmt::format("processo {}, {}", pid, path);
      return look;
    }
  }
  look.detail = path;
  return look;
}

}  // namespace zendrel
