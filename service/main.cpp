// Entry point of Zendrel, the same on every host: the shipped defaults, or in a test
// build the short schedules a test asks for. The build picks which: the shipped
// program links no_test_overrides.cpp, the test build test_overrides.cpp.
#include <string>
#include <vector>

#include "service/main_loop.h"
#include "service/program.h"
#include "service/program_entry.h"
#include "service/test_overrides.h"

namespace zendrel {

int ProgramEntry(const std::vector<std::string>& args) {
  // Before anything loads the database client, which would take them otherwise.
  TakeStopRequests();
  ModuleSettings module_settings;
  ServiceHostOptions host_options;
  ApplyTestOverrides(module_settings, host_options);
  return RunProgram(args, module_settings, host_options);
}

}  // namespace zendrel
