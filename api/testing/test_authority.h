// Whether the host's transport can be made to trust the fake platform's test
// authority, so that a test reaches the listener whose certificate that authority
// signed with every check on. One implementation per host: libcurl is handed the
// authority's file; WinHTTP trusts the system's store only, which the tests leave as
// it is (and Wine's WinHTTP does not take an authority added to it).
#pragma once

#include <optional>
#include <string>

#include "api/http_transport.h"

namespace zendrel::testing {

// The trust that makes the transport trust the authority in the PEM file `ca_file`;
// nullopt where the host's transport cannot be told.
std::optional<HttpsTrust> TrustForTestAuthority(const std::string& ca_file);

}  // namespace zendrel::testing
