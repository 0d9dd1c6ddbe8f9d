// Entry point of Zendrel, the same on every host: the shipped defaults, or in a test
// build the short schedules a test asks for.
#include <string>
#include <vector>

#include "service/program.h"
#include "service/program_entry.h"

#ifdef ZENDREL_TEST_OVERRIDES
#include "service/test_overrides.h"
#endif

namespace zendrel {

int ProgramEntry(const std::vector<std::string>& args) {
  ModuleSettings module_settings;
  ServiceHostOptions host_options;
#ifdef ZENDREL_TEST_OVERRIDES
  ApplyTestOverrides(module_settings, host_options);
#endif
  return RunProgram(args, module_settings, host_options);
}

}  // namespace zendrel
