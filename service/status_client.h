// The status report's lines on the Firebird client: the file in use and its version,
// or, when none loads, every place looked at and why each one was not taken.
#pragma once

#include <string>
#include <vector>

#include "service/status_printer.h"

namespace zendrel {

// Prints the section "Cliente Firebird"; returns the problems for the verdict (none
// when a client loaded).
std::vector<std::string> ReportFirebirdClient(StatusPrinter& print);

}  // namespace zendrel
