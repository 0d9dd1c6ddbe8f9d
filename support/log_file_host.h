// The host side of the log file: opening it for appending, reading the few bytes at
// its ends that tell its encoding and whether it ends a line, appending an entry in
// one piece, and the encoding of a log file that carries no byte-order mark.
// One implementation per host (log_file_host_posix.cpp, ...).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace zendrel {

// An open log file. Every write goes to its end; nothing before it is ever touched.
class LogFileHandle {
 public:
  // Opens `path` for appending, creating an empty file when there is none. When the
  // file can be written but not read, the handle still opens and read_error() says
  // why. Throws LogWriteError, naming the path and the host's error, when the file
  // cannot be opened for writing.
  static std::unique_ptr<LogFileHandle> Open(const std::filesystem::path& path);

  virtual ~LogFileHandle() = default;

  // Empty when the file could be opened for reading; else the read failure's text.
  virtual const std::string& read_error() const = 0;

  // The file's size in bytes. False, with `error` set, when the host cannot tell.
  virtual bool Size(std::uint64_t& size, std::string& error) = 0;

  // Reads `count` bytes from `offset` into `bytes`. False, with `error` set, when they
  // cannot be read.
  virtual bool ReadAt(std::uint64_t offset, std::size_t count, std::string& bytes, std::string& error) = 0;

  // Appends `bytes` at the end of the file. On failure any part already written is
  // cut off again, so the file is as it was, and LogWriteError is thrown.
  virtual void Append(std::string_view bytes) = 0;

  // Closes the file, throwing LogWriteError when the host reports that earlier
  // writes failed.
  virtual void Close() = 0;
};

// `utf8` in the encoding the host uses for a log file without a byte-order mark:
// UTF-8 on Linux (malformed bytes replaced), the ANSI code page on Windows.
std::string EncodeForUnmarkedLog(std::string_view utf8);

// The UTF-8 text of bytes read from a log file without a byte-order mark: the
// reverse of EncodeForUnmarkedLog, for programs and tests that read the log back.
std::string DecodeUnmarkedLog(std::string_view bytes);

}  // namespace zendrel
