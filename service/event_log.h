// The host's own failure channel, for what cannot go to the log file: the Windows
// event log, or syslog (and standard error, which systemd keeps) on Linux.
#pragma once

#include <string>

namespace zendrel {

// Writes one error entry under `source`. Never throws.
void ReportHostEvent(const std::string& source, const std::string& text);

}  // namespace zendrel
