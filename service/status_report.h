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
#include "service/status_printer.h"

namespace zendrel {

// Prints the report, in Portuguese, to `out` for the installation in `folder` (where
// Tarvix.ini and Zendrel.log live: the executable's folder). The platform calls use
// `api` (transport, time-outs). Returns the exit status: 0 when this machine is the
// database server, the database was reached and its settings row read, and every
// campaign that is on has its platform answering the reset question; 1 otherwise.
// With StatusFormat::kJson the same report is one JSON object (status_printer.h).
int ReportStatus(const std::filesystem::path& folder, const HostIdentity& host, const ApiSettings& api,
                 std::ostream& out, StatusFormat format = StatusFormat::kText);

// The report's line on the server check: whether this machine counts as the database
// server that Tarvix.ini in `folder` names (set in `is_server`, the poll cycle's own
// verdict), and why: "sim (localhost)", "sim (endereço 127.0.0.1)", "sim (endereço
// deste computador, A)", "sim (nome deste computador, N)", or "não (...)" with this
// machine's name and address.
std::string DatabaseServerVerdict(const std::filesystem::path& folder, const HostIdentity& host, bool& is_server);

}  // namespace zendrel
