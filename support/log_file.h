// The log file: the one place an operator learns what the service did. Every entry
// is an empty line, then "DD/MM/YYYY HH:mm:ss - message", each line ending in CR LF,
// appended to "Zendrel.log" in the executable's folder.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "support/clock.h"

namespace zendrel {

// One log file at a fixed path. Entries are appended, never rewriting what is
// there, in the encoding the file's byte-order mark names (UTF-8, UTF-16 LE/BE);
// a new file, or one without a mark, gets the host's default encoding.
class LogFile {
 public:
  LogFile(std::filesystem::path path, const Clock& clock);

  // Appends one entry for `message` (UTF-8). Throws LogWriteError when the file
  // cannot be written; the file's earlier content is never lost.
  void Append(std::string_view message) const;

  // As Append, and returns the entry line written ("DD/MM/YYYY HH:mm:ss - message",
  // without its line ends).
  std::string AppendEntry(std::string_view message) const;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  const Clock& clock_;
};

// Appends one entry to the process's log ("Zendrel.log" beside the executable, or
// where a LogRedirect points). Throws LogWriteError when the file cannot be written.
void DoSaveLog(const std::string& Msg);

// While alive, DoSaveLog writes to `path` with `clock` instead of the process's log.
// For tests and for tools that run the cycle in another folder.
class LogRedirect {
 public:
  LogRedirect(std::filesystem::path path, const Clock& clock);
  ~LogRedirect();
  LogRedirect(const LogRedirect&) = delete;
  LogRedirect& operator=(const LogRedirect&) = delete;

 private:
  const LogFile* previous_;
  LogFile file_;
};

// Called with each entry line ("DD/MM/YYYY HH:mm:ss - message") after DoSaveLog has
// written it; the ONCE mode echoes the entries to standard output this way. An empty
// function switches the echo off.
void SetLogEcho(std::function<void(const std::string& entry_line)> echo);

}  // namespace zendrel
