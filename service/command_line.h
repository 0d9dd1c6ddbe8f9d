// What the program is asked to do, from its command line. A switch is a whole argument
// that starts with "-" or "/"; the rest is compared with the switch's name without
// regard to case. Other arguments are ignored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zendrel {

enum class ProgramMode {
  Install,    // register the service and exit
  Uninstall,  // remove the service and exit
  Status,     // print what an operator needs to know, change nothing, and exit
  Once,       // run one poll cycle now, in the foreground, and exit
  Service,    // run as the service until the host asks it to stop
};

struct CommandLine {
  ProgramMode mode = ProgramMode::Service;
  bool silent = false;  // no success message after install or uninstall
  bool json = false;    // the status report as one JSON object
};

// Whether `args` holds the switch `name` ("-NAME" or "/name", any case).
bool HasSwitch(const std::vector<std::string>& args, std::string_view name);

// INSTALL wins over UNINSTALL, then STATUS, then ONCE; with none of them the program
// runs as the service.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace zendrel
