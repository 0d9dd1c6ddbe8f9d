// Where the running executable lies, on Windows: the module file name of the process.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "support/executable_folder.h"
#include "support/windows_text.h"

namespace zendrel {

const std::filesystem::path& ExecutablePath() {
  static const std::filesystem::path path = [] {
    // Long paths may exceed MAX_PATH: grow the buffer until the name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length == 0) {
        throw std::runtime_error("Cannot find the executable's path: " + SystemErrorText(GetLastError()));
      }
      if (length < buffer.size()) {
        buffer.resize(length);
        break;
      }
      buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer).lexically_normal();
  }();
  return path;
}

const std::filesystem::path& ExecutableFolder() {
  static const std::filesystem::path folder = ExecutablePath().parent_path();
  return folder;
}

}  // namespace zendrel
