// Zendrel -status: what a support person needs when a store calls because points did
// not arrive. It reads the settings file, tries the database the way the poll cycle
// does, reads each campaign's send index and what waits after it, asks the platform
// the reset question of each campaign that is on, and shows the log's last entries.
// It changes nothing: the database is read in read-only transactions, the platform
// only gets the reset question (a GET), and the service's log is not written.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "api/api_settings.h"
#include "erp/host_identity.h"
#include "service/service_state.h"
#include "service/status_printer.h"

namespace zendrel {

// Prints the report, in Portuguese, to `out` for the installation in `folder` (where
// Tarvix.ini and Zendrel.log live: the executable's folder). The platform calls use
// `api` (transport, time-outs). Returns the exit status: 0 when this machine is the
// database server, the database was reached and its settings row read, every
// campaign that is on has its platform answering the reset question without refusing
// our token or address (401, 403, 404), and a running service still records its
// cycles; 1 otherwise.
// With StatusFormat::kJson the same report is one JSON object (status_printer.h).
// `service` answers whether the service is installed and running; nullptr: the
// host's service manager. The last cycle comes from the state file in `folder`.
int ReportStatus(const std::filesystem::path& folder, const HostIdentity& host, const ApiSettings& api,
                 std::ostream& out, StatusFormat format = StatusFormat::kText,
                 const ServiceStateProbe* service = nullptr);

// The report's line on the server check: whether this machine counts as the database
// server that Tarvix.ini in `folder` names (set in `is_server`, the poll cycle's own
// verdict), and why: "sim (localhost)", "sim (endereço 127.0.0.1)", "sim (endereço
// deste computador, A)", "sim (nome deste computador, N)", or "não (...)" with this
// machine's name and address.
std::string DatabaseServerVerdict(const std::filesystem::path& folder, const HostIdentity& host, bool& is_server);

}  // namespace zendrel
