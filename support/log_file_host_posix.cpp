// The log file's host operations on POSIX: one descriptor opened with O_APPEND, so
// every write lands at the end, and positioned reads for the file's first and last bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <system_error>

#include "support/errors.h"
#include "support/log_file_host.h"
#include "support/service_account.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

std::string ErrnoText(int error) { return std::system_category().message(error); }

LogWriteError WriteError(const std::filesystem::path& path, int error) {
  return LogWriteError(fmt::format("Cannot write the log file '{}': {}", path.string(), ErrnoText(error)));
}

class PosixLogFileHandle final : public LogFileHandle {
 public:
  PosixLogFileHandle(std::filesystem::path path, int fd, std::string read_error)
      : path_(std::move(path)), fd_(fd), read_error_(std::move(read_error)) {}

  ~PosixLogFileHandle() override {
    if (fd_ >= 0) ::close(fd_);
  }

  PosixLogFileHandle(const PosixLogFileHandle&) = delete;
  PosixLogFileHandle& operator=(const PosixLogFileHandle&) = delete;

  const std::string& read_error() const override { return read_error_; }

  bool Size(std::uint64_t& size, std::string& error) override {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
      error = ReadErrorText(errno);
      return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
  }

  bool ReadAt(std::uint64_t offset, std::size_t count, std::string& bytes, std::string& error) override {
    bytes.assign(count, '\0');
    std::size_t done = 0;
    while (done < count) {
      const ssize_t got = ::pread(fd_, bytes.data() + done, count - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        error = ReadErrorText(errno);
        return false;
      }
      if (got == 0) {
        error = fmt::format("Cannot read the log file '{}': it ended early", path_.string());
        return false;
      }
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

  void Append(std::string_view bytes) override {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) throw WriteError(path_, errno);
    const off_t size_before = info.st_size;

    std::size_t done = 0;
    while (done < bytes.size()) {
      // Normally a single write; a short one (disk nearly full) is continued.
      const ssize_t wrote = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        const int error = wrote < 0 ? errno : EIO;
        // Leave no half entry behind: the file keeps exactly its earlier content.
        if (done > 0) {
          while (::ftruncate(fd_, size_before) != 0 && errno == EINTR) {
          }
        }
        throw WriteError(path_, error);
      }
      done += static_cast<std::size_t>(wrote);
    }
  }

  void Close() override {
    const int fd = fd_;
    fd_ = -1;
    // Some file systems (NFS) report a failed write only here; close is not retried
    // after EINTR, since the descriptor is gone either way on Linux.
    if (::close(fd) != 0 && errno != EINTR) throw WriteError(path_, errno);
  }

 private:
  std::string ReadErrorText(int error) const {
    return fmt::format("Cannot read the log file '{}': {}", path_.string(), ErrnoText(error));
  }

  std::filesystem::path path_;
  int fd_;
  std::string read_error_;
};

int OpenRetrying(const std::filesystem::path& path, int flags) {
  int fd;
  do {
    // O_NOFOLLOW: the service's user may write the log's folder, and root must not
    // append to whatever a link planted there points to.
    fd = ::open(path.c_str(), flags | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens an existing log without O_CREAT (with it, the kernel's protected_regular rule
// may refuse root a file the service's user owns), and creates the file only when
// there is none; a file root creates is handed to the service's user at once, so that
// the service can go on appending to it. -1 with errno set when neither works.
int OpenOrCreate(const std::filesystem::path& path, int flags) {
  for (;;) {
    const int fd = OpenRetrying(path, flags);
    if (fd >= 0 || errno != ENOENT) return fd;
    const int created = OpenRetrying(path, flags | O_CREAT | O_EXCL);
    if (created >= 0) {
      // Not being able to hand it over leaves the entry written: the service then
      // says so itself when it cannot append.
      (void)GiveToServiceUser(path);
      return created;
    }
    if (errno != EEXIST) return -1;  // else another process created it first: open that one
  }
}

}  // namespace

std::unique_ptr<LogFileHandle> LogFileHandle::Open(const std::filesystem::path& path) {
  int fd = OpenOrCreate(path, O_RDWR);
  std::string read_error;
  if (fd < 0) {
    const int read_errno = errno;
    // A file that may be written but not read still takes the entry.
    fd = OpenOrCreate(path, O_WRONLY);
    if (fd < 0) throw WriteError(path, errno);
    read_error = fmt::format("Cannot read the log file '{}': {}", path.string(), ErrnoText(read_errno));
  }
  return std::make_unique<PosixLogFileHandle>(path, fd, std::move(read_error));
}

std::string EncodeForUnmarkedLog(std::string_view utf8) { return SanitizeUtf8(utf8); }

std::string DecodeUnmarkedLog(std::string_view bytes) { return std::string(bytes); }

}  // namespace zendrel
