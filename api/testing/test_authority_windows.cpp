// The test authority on Windows: WinHTTP verifies against the system's store only.
#include "api/testing/test_authority.h"

namespace zendrel::testing {

std::optional<HttpsTrust> TrustForTestAuthority(const std::string&) { return std::nullopt; }

}  // namespace zendrel::testing
