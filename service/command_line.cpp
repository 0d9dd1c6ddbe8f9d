// Reading the program's switches.
#include "service/command_line.h"

#include "support/text_codec.h"

namespace zendrel {

bool HasSwitch(const std::vector<std::string>& args, std::string_view name) {
  const std::string wanted = AsciiUpper(name);
  for (const std::string& arg : args) {
    if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) continue;
    if (AsciiUpper(std::string_view(arg).substr(1)) == wanted) return true;
  }
  return false;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  line.silent = HasSwitch(args, "SILENT");
  line.json = HasSwitch(args, "JSON");
  if (HasSwitch(args, "INSTALL")) {
    line.mode = ProgramMode::Install;
  } else if (HasSwitch(args, "UNINSTALL")) {
    line.mode = ProgramMode::Uninstall;
  } else if (HasSwitch(args, "STATUS")) {
    line.mode = ProgramMode::Status;
  } else if (HasSwitch(args, "ONCE")) {
    line.mode = ProgramMode::Once;
  }
  return line;
}

}  // namespace zendrel
