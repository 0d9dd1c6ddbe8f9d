// The program Zendrel: picks its mode from the command line and runs it.
#pragma once

#include <string>
#include <vector>

#include "service/service_host.h"
#include "service/service_module.h"

namespace zendrel {

// Runs the program with `args` (without the program's name) and returns its exit
// status. `module_settings` and `host_options` are the shipped defaults unless a test
// build overrides them.
int RunProgram(const std::vector<std::string>& args, const ModuleSettings& module_settings,
               const ServiceHostOptions& host_options);

}  // namespace zendrel
