// The relay lock on Linux: flock on /run/lock/zendrel-<key>.lock, where the key is
// taken from the installation folder's path. The file lies outside the installation
// folder, which may be read-only and whose files a package upgrade replaces: a lock on
// a file that an upgrade (or anyone) replaced would be a lock on the old inode, and a
// new process would lock the new one beside the old process. /run/lock is a tmpfs
// that every Linux with systemd has; the file is never deleted (deleting it would open
// that same gap), and a stale file holds nothing: flock ends with its process.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "service/relay_lock.h"
#include "support/service_account.h"

namespace zendrel {
namespace {

const char* const kLockFolder = "/run/lock";

// FNV-1a over the folder's path: the same folder gives the same file name.
std::uint64_t PathKey(const std::string& path) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : path) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string CanonicalText(const std::filesystem::path& folder) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(folder, error);
  return (error ? folder : canonical).string();
}

class FileRelayLock final : public RelayLock {
 public:
  explicit FileRelayLock(int descriptor) : descriptor_(descriptor) {}
  ~FileRelayLock() override { ::close(descriptor_); }
  FileRelayLock(const FileRelayLock&) = delete;
  FileRelayLock& operator=(const FileRelayLock&) = delete;

 private:
  int descriptor_;
};

// Opens the lock file, creating it when there is none. An existing file is opened
// without O_CREAT: in a sticky folder open to all, the kernel's protected_regular rule
// refuses an O_CREAT open of a file someone else owns, even to root. The file root
// creates is handed to the service's user, which must open it too. -1 with errno set
// when it cannot be opened.
int OpenLockFile(const std::string& path) {
  for (;;) {
    int descriptor = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor >= 0 || errno != ENOENT) return descriptor;
    // Readable by all: the lock says nothing secret, and any user may look at it.
    descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (descriptor >= 0) {
      (void)GiveToServiceUser(path);
      return descriptor;
    }
    if (errno != EEXIST) return -1;  // else another relay created it first: open that one
  }
}

}  // namespace

std::string RelayLockName(const std::filesystem::path& installation_folder) {
  return fmt::format("{}/zendrel-{:016x}.lock", kLockFolder, PathKey(CanonicalText(installation_folder)));
}

std::unique_ptr<RelayLock> TryTakeRelayLock(const std::filesystem::path& installation_folder) {
  const std::string path = RelayLockName(installation_folder);
  const int descriptor = OpenLockFile(path);
  if (descriptor < 0) {
    throw std::runtime_error(
        fmt::format("Não foi possível abrir o arquivo de trava {}: {}", path, std::strerror(errno)));
  }
  auto lock = std::make_unique<FileRelayLock>(descriptor);
  while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return nullptr;
    if (errno != EINTR) {
      throw std::runtime_error(fmt::format("Não foi possível travar o arquivo {}: {}", path, std::strerror(errno)));
    }
  }
  return lock;
}

std::string ServiceStopCommand() { return "systemctl stop SrvZendrel"; }

}  // namespace zendrel
