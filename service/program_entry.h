// The program's entry, behind the host's own: main on Linux, wmain on Windows. Each
// host hands the command line here as UTF-8 texts, without the program's name.
#pragma once

#include <string>
#include <vector>

namespace zendrel {

// Runs Zendrel with `args` and returns the process's exit status.
int ProgramEntry(const std::vector<std::string>& args);

}  // namespace zendrel
