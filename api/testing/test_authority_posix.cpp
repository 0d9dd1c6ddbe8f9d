// The test authority on Linux: libcurl reads it from its file.
#include "api/testing/test_authority.h"

namespace zendrel::testing {

std::optional<HttpsTrust> TrustForTestAuthority(const std::string& ca_file) { return HttpsTrust{ca_file}; }

}  // namespace zendrel::testing
