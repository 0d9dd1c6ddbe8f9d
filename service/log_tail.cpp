// Reading the end of the log file: a growing window from the end until it holds
// enough whole entries, decoded by the mark at the file's start.
#include "service/log_tail.h"

#include <fstream>
#include <system_error>

#include "support/text_codec.h"

namespace zendrel {
namespace {

enum class Encoding { kUnmarked, kUtf8, kUtf16Le, kUtf16Be };

constexpr std::size_t kFirstWindow = 16 * 1024;

bool ReadBytes(std::ifstream& in, std::uint64_t offset, std::size_t count, std::string& bytes) {
  bytes.assign(count, '\0');
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes.size() == count;
}

std::string Decode(std::string_view bytes, Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf16Le: return Utf16ToUtf8(bytes, false);
    case Encoding::kUtf16Be: return Utf16ToUtf8(bytes, true);
    case Encoding::kUtf8: return SanitizeUtf8(bytes);
    case Encoding::kUnmarked: break;
  }
  const std::string as_utf8 = SanitizeUtf8(bytes);
  return as_utf8 == bytes ? as_utf8 : Windows1252ToUtf8(bytes);
}

// Removes everything up to and including the first line end: the rest of a line the
// window began inside of. (A line end is the byte LF in every encoding but UTF-16,
// which is decoded first.)
void DropPartialFirstLine(std::string& text) {
  const std::size_t line_end = text.find('\n');
  text.erase(0, line_end == std::string::npos ? text.size() : line_end + 1);
}

// Whether `line` starts with "DD/MM/YYYY HH:mm:ss - ". (std::regex recurses per
// character and would overflow the stack on a long message.)
bool IsEntryStart(std::string_view line) {
  constexpr std::string_view kShape = "00/00/0000 00:00:00 - ";
  if (line.size() < kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (kShape[i] == '0' ? !digit : line[i] != kShape[i]) return false;
  }
  return true;
}

// The entries of `text`, which starts at a line's start. Lines before the first entry
// are the end of an entry cut off by the window and are dropped.
std::vector<std::string> SplitEntries(const std::string& text) {
  std::vector<std::string> entries;
  std::vector<std::string> pending_blank;  // blank lines, kept only inside an entry
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();

    if (IsEntryStart(line)) {
      entries.push_back(std::move(line));
      pending_blank.clear();
    } else if (line.empty()) {
      pending_blank.push_back(line);
    } else if (!entries.empty()) {
      // A message of several lines: its later lines, with any blank lines between them.
      for (const std::string& blank : pending_blank) entries.back() += "\n" + blank;
      pending_blank.clear();
      entries.back() += "\n" + line;
    }
  }
  return entries;
}

}  // namespace

LogTail ReadLogTail(const std::filesystem::path& path, std::size_t count) {
  LogTail tail;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return tail;
  const std::uint64_t size = std::filesystem::file_size(path, error);
  if (error) {
    tail.error = error.message();
    return tail;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    tail.error = "não foi possível abrir o arquivo";
    return tail;
  }

  std::string head;
  ReadBytes(in, 0, size < 3 ? static_cast<std::size_t>(size) : 3, head);
  Encoding encoding = Encoding::kUnmarked;
  std::uint64_t mark_size = 0;
  if (head.starts_with("\xEF\xBB\xBF")) {
    encoding = Encoding::kUtf8;
    mark_size = 3;
  } else if (head.starts_with("\xFF\xFE")) {
    encoding = Encoding::kUtf16Le;
    mark_size = 2;
  } else if (head.starts_with("\xFE\xFF")) {
    encoding = Encoding::kUtf16Be;
    mark_size = 2;
  }
  const bool utf16 = encoding == Encoding::kUtf16Le || encoding == Encoding::kUtf16Be;

  tail.found = true;
  const std::uint64_t text_size = size - mark_size;
  for (std::uint64_t window = kFirstWindow;; window *= 4) {
    const bool whole = window >= text_size;
    std::uint64_t offset = whole ? mark_size : size - window;
    // UTF-16 code units start at even distances from the mark.
    if (utf16 && (offset - mark_size) % 2 != 0) ++offset;
    std::string bytes;
    if (!ReadBytes(in, offset, static_cast<std::size_t>(size - offset), bytes)) {
      tail.found = false;
      tail.error = "falha ao ler o arquivo";
      return tail;
    }
    std::string text;
    if (utf16) {
      text = Decode(bytes, encoding);
      if (!whole) DropPartialFirstLine(text);
    } else {
      // The window may begin inside a line, even inside a character: drop that line
      // before the bytes are decoded, so that the encoding of a file without a mark
      // is judged from whole lines only.
      if (!whole) DropPartialFirstLine(bytes);
      text = Decode(bytes, encoding);
    }
    std::vector<std::string> entries = SplitEntries(text);
    if (whole || entries.size() >= count) {
      if (entries.size() > count) entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(count));
      tail.entries = std::move(entries);
      return tail;
    }
  }
}

}  // namespace zendrel
