// Where the running executable lies, on Linux: the resolved target of /proc/self/exe.
#include <stdexcept>
#include <system_error>

#include "support/executable_folder.h"

namespace zendrel {

const std::filesystem::path& ExecutablePath() {
  static const std::filesystem::path path = [] {
    std::error_code error;
    // The link names the real file even when the program was started through a
    // symbolic link or a relative path, so the log lands beside the binary itself.
    std::filesystem::path resolved = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || resolved.empty() || !resolved.is_absolute()) {
      throw std::runtime_error("Cannot find the executable's path: " +
                               (error ? error.message() : std::string("/proc/self/exe is not absolute")));
    }
    return resolved.lexically_normal();
  }();
  return path;
}

const std::filesystem::path& ExecutableFolder() {
  static const std::filesystem::path folder = ExecutablePath().parent_path();
  return folder;
}

}  // namespace zendrel
