// The status report's database lines: each password the poll cycle tries, in its
// order, with the cause of a failure and its fix, then the client's own words; and the
// settings row.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "erp/connection.h"
#include "erp/settings_row.h"
#include "service/status_printer.h"

namespace zendrel {

// Connects with the poll cycle's passwords and reads the settings row; `row` is
// active afterwards only when it was read. Returns the report's reasons to fail.
std::vector<std::string> ReportDatabase(StatusPrinter& print, const std::filesystem::path& folder,
                                        Connection& connection, SettingsRow& row);

}  // namespace zendrel
