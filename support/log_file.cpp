// The log file: entries appended in the encoding of the file's byte-order mark, and
// the process-wide DoSaveLog with its redirection and echo.
//
// Only the file's first bytes (its mark) and last bytes (whether it ends a line) are
// read, and each entry goes to the end in one write: the cost of an entry does not
// grow with the log, and a failure can never take earlier entries with it.
#include "support/log_file.h"

#include <utility>

#include "support/errors.h"
#include "support/executable_folder.h"
#include "support/log_file_host.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

enum class LogEncoding { kUnmarked, kUtf8, kUtf16LittleEndian, kUtf16BigEndian };

struct LogShape {
  LogEncoding encoding = LogEncoding::kUnmarked;
  bool needs_line_end = false;  // the last line of the file is not finished
};

bool IsLineEnd(char32_t c) { return c == U'\r' || c == U'\n'; }

// Reads the mark and the last character of the file. False, with `error` set, when
// either cannot be read.
bool InspectLog(LogFileHandle& file, LogShape& shape, std::string& error) {
  std::uint64_t size = 0;
  if (!file.Size(size, error)) return false;
  if (size == 0) return true;  // an empty file counts as new

  std::string head;
  if (!file.ReadAt(0, size < 3 ? static_cast<std::size_t>(size) : 3, head, error)) return false;
  std::uint64_t mark_size = 0;
  if (head.starts_with("\xEF\xBB\xBF")) {
    shape.encoding = LogEncoding::kUtf8;
    mark_size = 3;
  } else if (head.starts_with("\xFF\xFE")) {
    shape.encoding = LogEncoding::kUtf16LittleEndian;
    mark_size = 2;
  } else if (head.starts_with("\xFE\xFF")) {
    shape.encoding = LogEncoding::kUtf16BigEndian;
    mark_size = 2;
  }
  if (size == mark_size) return true;  // a mark and no text: no line to finish

  const bool utf16 =
      shape.encoding == LogEncoding::kUtf16LittleEndian || shape.encoding == LogEncoding::kUtf16BigEndian;
  const std::size_t unit = utf16 ? 2 : 1;
  if (size - mark_size < unit) {
    shape.needs_line_end = true;
    return true;
  }
  std::string tail;
  if (!file.ReadAt(size - unit, unit, tail, error)) return false;
  char32_t last = static_cast<unsigned char>(tail[0]);
  if (utf16) {
    const auto first = static_cast<unsigned char>(tail[0]);
    const auto second = static_cast<unsigned char>(tail[1]);
    last = shape.encoding == LogEncoding::kUtf16BigEndian ? (first << 8) | second : (second << 8) | first;
  }
  shape.needs_line_end = !IsLineEnd(last);
  return true;
}

std::string Encode(std::string_view utf8, LogEncoding encoding) {
  switch (encoding) {
    case LogEncoding::kUtf8: return SanitizeUtf8(utf8);
    case LogEncoding::kUtf16LittleEndian: return Utf8ToUtf16(utf8, false);
    case LogEncoding::kUtf16BigEndian: return Utf8ToUtf16(utf8, true);
    case LogEncoding::kUnmarked: break;
  }
  return EncodeForUnmarkedLog(utf8);
}

// The LogFile DoSaveLog writes to while a LogRedirect is alive; the echo of its entries.
// Both are used from the poll cycle's thread only.
const LogFile* redirected_log = nullptr;
std::function<void(const std::string&)> log_echo;

const LogFile& ProcessLog() {
  static const LogFile log = [] {
    try {
      return LogFile(ExecutableFolder() / "Zendrel.log", SystemClock());
    } catch (const std::exception& e) {
      throw LogWriteError(std::string("Cannot find the log file's folder: ") + e.what());
    }
  }();
  return log;
}

}  // namespace

LogFile::LogFile(std::filesystem::path path, const Clock& clock) : path_(std::move(path)), clock_(clock) {}

void LogFile::Append(std::string_view message) const { AppendEntry(message); }

std::string LogFile::AppendEntry(std::string_view message) const {
  const std::unique_ptr<LogFileHandle> file = LogFileHandle::Open(path_);
  const std::string timestamp = FormatLogTimestamp(clock_.Now());

  LogShape shape;
  std::string read_error = file->read_error();
  if (read_error.empty()) InspectLog(*file, shape, read_error);

  std::string line;
  std::string text;
  if (!read_error.empty()) {
    // The entry is replaced by the reason the file could not be read, and without
    // the empty line: the mark and the file's last line are unknown.
    line = timestamp + " - " + read_error;
    text = line + "\r\n";
  } else {
    line = timestamp + " - ";
    line += message;
    text = shape.needs_line_end ? "\r\n\r\n" : "\r\n";
    text += line;
    text += "\r\n";
  }
  file->Append(Encode(text, shape.encoding));
  file->Close();
  return line;
}

void DoSaveLog(const std::string& Msg) {
  const LogFile& log = redirected_log != nullptr ? *redirected_log : ProcessLog();
  const std::string line = log.AppendEntry(Msg);
  if (log_echo) log_echo(line);
}

LogRedirect::LogRedirect(std::filesystem::path path, const Clock& clock)
    : previous_(redirected_log), file_(std::move(path), clock) {
  redirected_log = &file_;
}

LogRedirect::~LogRedirect() { redirected_log = previous_; }

void SetLogEcho(std::function<void(const std::string& entry_line)> echo) { log_echo = std::move(echo); }

}  // namespace zendrel
