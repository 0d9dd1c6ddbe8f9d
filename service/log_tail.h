// The last entries of the log file, for the status report: a support person sees what
// the service did lately without opening the file. Only the file's end is read, so a
// log of years costs no more than a log of a day.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zendrel {

struct LogTail {
  bool found = false;                // the file exists and could be read
  std::string error;                 // why it could not be read (empty when found or absent)
  std::vector<std::string> entries;  // oldest first; an entry of several lines keeps its "\n"s
};

// The last `count` entries ("DD/MM/YYYY HH:mm:ss - message") of the log at `path`,
// decoded by the file's byte-order mark (UTF-8, UTF-16 LE or BE); a file without one
// is read as UTF-8 when its whole lines read are valid UTF-8 and as Windows-1252
// otherwise (the code page a Brazilian Windows writes): a read window that begins
// inside a character does not decide it. Lines that belong to no entry are left out.
LogTail ReadLogTail(const std::filesystem::path& path, std::size_t count);

}  // namespace zendrel
