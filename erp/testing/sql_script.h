// Splitting an isql-style script into statements, for fixtures and the demo.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zendrel::testing {

// The statements of `script`, without their terminators. Follows "SET TERM x ;"
// (a trigger body holds ";" of its own), skips comments, keeps string literals whole.
// "SET TERM" lines themselves are not returned.
std::vector<std::string> SplitSqlScript(std::string_view script);

}  // namespace zendrel::testing
