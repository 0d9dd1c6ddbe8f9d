// Where the running executable lies: the log file and the settings file live there.
#pragma once

#include <filesystem>

namespace zendrel {

// The folder of the running executable (resolved, not the working directory),
// found once. Throws std::runtime_error when the host cannot tell.
const std::filesystem::path& ExecutableFolder();

// The executable's own full path.
const std::filesystem::path& ExecutablePath();

}  // namespace zendrel
