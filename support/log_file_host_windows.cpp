// The log file's host operations on Windows: one handle per entry, shared for reading
// and writing with other programs (an operator's viewer), every entry written at the
// file's end in one piece, and a log without a byte-order mark in the ANSI code page.
#include <windows.h>

#include <fmt/format.h>

#include "support/errors.h"
#include "support/log_file_host.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

std::string PathText(const std::filesystem::path& path) { return Narrow(path.wstring()); }

LogWriteError WriteError(const std::filesystem::path& path, DWORD error) {
  return LogWriteError(fmt::format("Cannot write the log file '{}': {}", PathText(path), SystemErrorText(error)));
}

class WindowsLogFileHandle final : public LogFileHandle {
 public:
  WindowsLogFileHandle(std::filesystem::path path, HANDLE file, std::string read_error)
      : path_(std::move(path)), file_(file), read_error_(std::move(read_error)) {}

  ~WindowsLogFileHandle() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  WindowsLogFileHandle(const WindowsLogFileHandle&) = delete;
  WindowsLogFileHandle& operator=(const WindowsLogFileHandle&) = delete;

  const std::string& read_error() const override { return read_error_; }

  bool Size(std::uint64_t& size, std::string& error) override {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(file_, &value)) {
      error = ReadErrorText(GetLastError());
      return false;
    }
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
  }

  bool ReadAt(std::uint64_t offset, std::size_t count, std::string& bytes, std::string& error) override {
    bytes.assign(count, '\0');
    std::size_t done = 0;
    while (done < count) {
      OVERLAPPED at{};
      const std::uint64_t position = offset + done;
      at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
      at.OffsetHigh = static_cast<DWORD>(position >> 32);
      DWORD got = 0;
      if (!ReadFile(file_, bytes.data() + done, static_cast<DWORD>(count - done), &got, &at)) {
        error = ReadErrorText(GetLastError());
        return false;
      }
      if (got == 0) {
        error = fmt::format("Cannot read the log file '{}': it ended early", PathText(path_));
        return false;
      }
      done += got;
    }
    return true;
  }

  void Append(std::string_view bytes) override {
    LARGE_INTEGER size_before{};
    if (!GetFileSizeEx(file_, &size_before)) throw WriteError(path_, GetLastError());
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file_, LARGE_INTEGER{}, &end, FILE_END)) throw WriteError(path_, GetLastError());

    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD wrote = 0;
      const BOOL ok = WriteFile(file_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &wrote, nullptr);
      if (!ok || wrote == 0) {
        const DWORD error = ok ? ERROR_WRITE_FAULT : GetLastError();
        // Leave no half entry behind: the file keeps exactly its earlier content.
        if (done > 0 && SetFilePointerEx(file_, size_before, nullptr, FILE_BEGIN)) SetEndOfFile(file_);
        throw WriteError(path_, error);
      }
      done += wrote;
    }
  }

  void Close() override {
    const HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) throw WriteError(path_, GetLastError());
  }

 private:
  std::string ReadErrorText(DWORD error) const {
    return fmt::format("Cannot read the log file '{}': {}", PathText(path_), SystemErrorText(error));
  }

  std::filesystem::path path_;
  HANDLE file_;
  std::string read_error_;
};

HANDLE OpenShared(const std::filesystem::path& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::unique_ptr<LogFileHandle> LogFileHandle::Open(const std::filesystem::path& path) {
  HANDLE file = OpenShared(path, GENERIC_READ | GENERIC_WRITE);
  std::string read_error;
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD read_failure = GetLastError();
    // A file that may be written but not read still takes the entry.
    file = OpenShared(path, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) throw WriteError(path, GetLastError());
    read_error = fmt::format("Cannot read the log file '{}': {}", PathText(path), SystemErrorText(read_failure));
  }
  return std::make_unique<WindowsLogFileHandle>(path, file, std::move(read_error));
}

std::string EncodeForUnmarkedLog(std::string_view utf8) {
  // The ANSI code page in force may be UTF-8 (the "Beta: Unicode UTF-8" setting),
  // which takes no best-fit flag; a conversion that fails must fail the write, never
  // leave an empty entry.
  const UINT code_page = GetACP();
  try {
    return ToCodePage(utf8, code_page);
  } catch (const std::exception& e) {
    throw LogWriteError(std::string("Cannot write the log entry: ") + e.what());
  }
}

std::string DecodeUnmarkedLog(std::string_view bytes) { return FromCodePage(bytes, GetACP()); }

}  // namespace zendrel
