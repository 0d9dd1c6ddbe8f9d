// INI reading with the Windows profile functions' rules for ordinary files.
#include "erp/ini_file.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "support/text.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

constexpr std::size_t kMaxValueCharacters = 2047;

std::string DecodeToUtf8(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return SanitizeUtf8(bytes.substr(3));
  if (bytes.starts_with("\xFF\xFE")) return Utf16ToUtf8(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16ToUtf8(bytes.substr(2), true);
  return Windows1252ToUtf8(bytes);
}

}  // namespace

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile file;
  const std::string text = DecodeToUtf8(bytes);
  std::string section;
  bool in_section = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = TrimSpacesTabsAndCr(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::size_t name_size = close == std::string_view::npos ? line.size() - 1 : close - 1;
      section = AsciiLower(TrimSpacesTabsAndCr(line.substr(1, name_size)));
      in_section = true;
      continue;
    }
    if (!in_section) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view value = TrimSpacesTabsAndCr(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    file.entries_.push_back(
        {section, AsciiLower(TrimSpacesTabsAndCr(line.substr(0, equals))), Utf8Prefix(value, kMaxValueCharacters)});
  }
  return file;
}

IniFile IniFile::Load(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return IniFile();
  const std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  return Parse(bytes);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const {
  const std::string wanted_section = AsciiLower(section);
  const std::string wanted_key = AsciiLower(key);
  for (const Entry& entry : entries_) {
    if (entry.section == wanted_section && entry.key == wanted_key) return entry.value;
  }
  return std::string(fallback);
}

std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& folder, std::string_view name) {
  std::error_code error;
  const std::filesystem::path exact = folder / std::string(name);
  if (std::filesystem::is_regular_file(exact, error)) return exact;
  const std::string wanted = AsciiLower(name);
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (AsciiLower(it->path().filename().string()) == wanted && it->is_regular_file(error)) return it->path();
  }
  return std::nullopt;
}

}  // namespace zendrel
