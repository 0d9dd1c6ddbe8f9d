// The shipped program's side of the test-override seam: it keeps the shipped defaults
// and reads nothing from its environment. The test build links test_overrides.cpp
// instead.
#include "service/test_overrides.h"

namespace zendrel {

void ApplyTestOverrides(ModuleSettings& /*module_settings*/, ServiceHostOptions& /*host_options*/) {}

}  // namespace zendrel
