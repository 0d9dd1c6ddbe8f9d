// Entry point of Zendrel.
#include <string>
#include <vector>

#include "service/program.h"

#ifdef ZENDREL_TEST_OVERRIDES
#include "service/test_overrides.h"
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  zendrel::ModuleSettings module_settings;
  zendrel::ServiceHostOptions host_options;
#ifdef ZENDREL_TEST_OVERRIDES
  zendrel::ApplyTestOverrides(module_settings, host_options);
#endif
  return zendrel::RunProgram(args, module_settings, host_options);
}
