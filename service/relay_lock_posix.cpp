// The relay locks on Linux: flock on files in /run/zendrel, zendrel-<key>.lock for an
// installation folder and zendrel-database-<key>.lock for a database, where the key is
// taken from the folder's path or the database file's. The folder is one only root and
// the service's user may enter (0750): in a folder every user may write, such as
// /run/lock, any local user could open a lock file and flock it, and so keep the
// service from ever starting (and, with fs.protected_regular, root could not even open
// a lock file another user made there). The files lie outside the installation folder,
// which may be read-only and whose files a package upgrade replaces: a lock on a file
// that was replaced would be a lock on the old inode, and a new process would lock the
// new one beside the old process. They are never deleted (that would open the same
// gap), and a stale file holds nothing: flock ends with its process.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "service/relay_lock.h"

namespace zendrel {
namespace {

const char* const kLockFolder = "/run/zendrel";
const char* const kServiceUser = "zendrel";
// Owner and group read and write: the file may be made by root and used by the
// service's user, or the other way round.
constexpr mode_t kLockFileMode = 0660;
constexpr mode_t kLockFolderMode = 0750;

// FNV-1a over a path: the same path gives the same file name.
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

std::filesystem::path FolderOf(const LockPlace& place) {
  return place.folder.empty() ? std::filesystem::path(kLockFolder) : place.folder;
}

struct Owner {
  uid_t user;
  gid_t group;
};

// The service's user and its group, when that user exists on this machine.
std::optional<Owner> ServiceOwner(const LockPlace& place) {
  const std::string name = place.service_user.empty() ? kServiceUser : place.service_user;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  return Owner{found->pw_uid, found->pw_gid};
}

// Root gives what it makes to the service's user, so that the service, running as that
// user, can use it later; anyone else makes its files as itself.
void GiveToServiceUser(int descriptor, const LockPlace& place) {
  if (::geteuid() != 0) return;
  if (const std::optional<Owner> owner = ServiceOwner(place)) {
    if (::fchown(descriptor, owner->user, owner->group) != 0) {
      throw std::runtime_error(
          fmt::format("Não foi possível dar a trava ao usuário do serviço: {}", std::strerror(errno)));
    }
  }
}

class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return descriptor_; }
  int release() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
  }

 private:
  int descriptor_;
};

// Opens the lock folder, making it when it is missing: mode 0750, owned by the
// service's user and its group when root makes it and that user exists.
Descriptor OpenLockFolder(const LockPlace& place) {
  const std::string folder = FolderOf(place).string();
  const auto open_folder = [&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); };
  int descriptor = open_folder();
  if (descriptor < 0 && errno == ENOENT) {
    // Made closed (0700) and opened only once it has its owner, so that nobody else
    // can open a file in it meanwhile.
    if (::mkdir(folder.c_str(), 0700) == 0) {
      Descriptor made(open_folder());
      if (made.get() < 0) {
        throw std::runtime_error(
            fmt::format("Não foi possível abrir a pasta de travas {}: {}", folder, std::strerror(errno)));
      }
      GiveToServiceUser(made.get(), place);
      if (::fchmod(made.get(), kLockFolderMode) != 0) {
        throw std::runtime_error(
            fmt::format("Não foi possível ajustar a pasta de travas {}: {}", folder, std::strerror(errno)));
      }
      return Descriptor(made.release());
    }
    if (errno != EEXIST) {
      throw std::runtime_error(
          fmt::format("Não foi possível criar a pasta de travas {}: {}", folder, std::strerror(errno)));
    }
    descriptor = open_folder();
  }
  if (descriptor < 0) {
    throw std::runtime_error(
        fmt::format("Não foi possível abrir a pasta de travas {}: {}", folder, std::strerror(errno)));
  }
  return Descriptor(descriptor);
}

struct LockFile {
  Descriptor descriptor;
  bool writable;
};

// Opens the lock file `name` of the lock folder: as it is when it is there (read-only
// when it may not be written: flock needs no more), made new otherwise. Never follows
// a symbolic link.
LockFile OpenLockFile(const LockPlace& place, const std::string& name) {
  const Descriptor folder = OpenLockFolder(place);
  const std::string path = (FolderOf(place) / name).string();
  const auto failure = [&path] {
    return std::runtime_error(
        fmt::format("Não foi possível abrir o arquivo de trava {}: {}", path, std::strerror(errno)));
  };
  // A file made by another process between two attempts is simply opened next time.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int descriptor = ::openat(folder.get(), name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor >= 0) return {Descriptor(descriptor), true};
    if (errno == EACCES || errno == EPERM) {
      descriptor = ::openat(folder.get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      if (descriptor >= 0) return {Descriptor(descriptor), false};
      throw failure();
    }
    if (errno != ENOENT) throw failure();
    descriptor =
        ::openat(folder.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kLockFileMode);
    if (descriptor >= 0) {
      Descriptor made(descriptor);
      // The process's umask may have taken the group's write away.
      if (::fchmod(made.get(), kLockFileMode) != 0) throw failure();
      GiveToServiceUser(made.get(), place);
      return {Descriptor(made.release()), true};
    }
    if (errno != EEXIST) throw failure();
  }
  throw failure();
}

// Whether the lock was taken; false when another process holds it.
bool TryFlock(int descriptor, const std::string& path) {
  while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return false;
    if (errno != EINTR) {
      throw std::runtime_error(fmt::format("Não foi possível travar o arquivo {}: {}", path, std::strerror(errno)));
    }
  }
  return true;
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

std::string RelayLockFileName(const std::filesystem::path& installation_folder) {
  return fmt::format("zendrel-{:016x}.lock", PathKey(CanonicalText(installation_folder)));
}

std::string DatabaseLockFileName(const std::string& database_file) {
  return fmt::format("zendrel-database-{:016x}.lock", PathKey(database_file));
}

// The holder's folder as it wrote it; "" when it wrote nothing (yet).
std::string ReadHolder(int descriptor) {
  char buffer[4096];
  const ssize_t length = ::pread(descriptor, buffer, sizeof buffer, 0);
  if (length <= 0) return "";
  std::string text(buffer, static_cast<std::size_t>(length));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

void WriteHolder(int descriptor, const std::string& folder) {
  const std::string text = folder + "\n";
  // Only a help for the message of a relay that finds the lock held: a failed write
  // leaves that relay without the folder's name, nothing more.
  if (::ftruncate(descriptor, 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::pwrite(descriptor, text.data(), text.size(), 0);
  }
}

}  // namespace

std::string RelayLockName(const std::filesystem::path& installation_folder, const LockPlace& place) {
  return (FolderOf(place) / RelayLockFileName(installation_folder)).string();
}

std::string DatabaseLockName(const std::string& database_file, const LockPlace& place) {
  return (FolderOf(place) / DatabaseLockFileName(database_file)).string();
}

std::unique_ptr<RelayLock> TryTakeRelayLock(const std::filesystem::path& installation_folder, const LockPlace& place) {
  LockFile file = OpenLockFile(place, RelayLockFileName(installation_folder));
  if (!TryFlock(file.descriptor.get(), RelayLockName(installation_folder, place))) return nullptr;
  return std::make_unique<FileRelayLock>(file.descriptor.release());
}

DatabaseLockAttempt TryTakeDatabaseLock(const std::string& database_file,
                                        const std::filesystem::path& installation_folder, const LockPlace& place) {
  LockFile file = OpenLockFile(place, DatabaseLockFileName(database_file));
  if (!TryFlock(file.descriptor.get(), DatabaseLockName(database_file, place))) {
    return {nullptr, ReadHolder(file.descriptor.get())};
  }
  if (file.writable) WriteHolder(file.descriptor.get(), CanonicalText(installation_folder));
  return {std::make_unique<FileRelayLock>(file.descriptor.release()), ""};
}

std::string ServiceStopCommand() { return "systemctl stop SrvZendrel"; }

}  // namespace zendrel
