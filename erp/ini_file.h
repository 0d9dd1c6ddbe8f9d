// Reading the ERP's settings file the way the Windows profile functions read an
// ordinary INI file, on every host.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zendrel {

class IniFile {
 public:
  // Parses INI text (bytes as stored: a UTF-8 or UTF-16 byte-order mark decides the
  // encoding, otherwise Windows-1252). CR LF or LF line ends.
  static IniFile Parse(std::string_view bytes);
  // Reads `path`; a missing or unreadable file gives an empty IniFile.
  static IniFile Load(const std::filesystem::path& path);

  // The value of `key` in `section` (both without regard to case; the first match
  // wins), blanks around it removed and one pair of enclosing quotes taken off, at
  // most 2047 characters. `fallback` when the section or key is missing; a key
  // present with an empty value gives "".
  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;

 private:
  struct Entry {
    std::string section;  // lower-cased
    std::string key;      // lower-cased
    std::string value;
  };
  std::vector<Entry> entries_;
};

// The file named `name` in `folder`, found without regard to case (the exact
// spelling first). Nothing when the folder holds no such file.
std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& folder, std::string_view name);

}  // namespace zendrel
