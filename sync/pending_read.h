// Reading pending movements while ERP tills may still be inserting them. The read
// waits for a till's open transaction; when that wait reaches its time-out the
// campaign stops for this cycle, with its send index where it was, and says so once.
#pragma once

#include <string>
#include <string_view>

#include "erp/query.h"

namespace zendrel {

// Opens `query`. Returns false (after one log line with `log_prefix`) when the rows
// are held by an ERP transaction past the lock time-out; other failures throw.
bool OpenPending(Query& query, std::string_view log_prefix);

// Moves `query` to its next row, with the same handling of a held row.
bool NextPending(Query& query, std::string_view log_prefix);

// Characters up to code 32 removed from both ends.
std::string TrimBlanks(std::string_view text);

}  // namespace zendrel
