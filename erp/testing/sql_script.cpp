// isql-style script splitting.
#include "erp/testing/sql_script.h"

#include "support/text.h"
#include "support/text_codec.h"

namespace zendrel::testing {
namespace {

std::string Trim(std::string_view text) { return std::string(TrimSpacesTabsAndLineEnds(text)); }

}  // namespace

std::vector<std::string> SplitSqlScript(std::string_view script) {
  std::vector<std::string> statements;
  std::string terminator = ";";
  std::string current;
  std::size_t i = 0;
  const auto finish = [&] {
    std::string statement = Trim(current);
    current.clear();
    if (statement.empty()) return;
    const std::string upper = AsciiUpper(statement);
    if (upper.starts_with("SET TERM")) {
      terminator = Trim(std::string_view(statement).substr(8));
      return;
    }
    statements.push_back(std::move(statement));
  };
  while (i < script.size()) {
    const char c = script[i];
    if (c == '\'' || c == '"') {
      std::size_t end = i + 1;
      while (end < script.size()) {
        if (script[end] == c) {
          if (end + 1 < script.size() && script[end + 1] == c) {
            end += 2;
            continue;
          }
          break;
        }
        ++end;
      }
      end = std::min(end + 1, script.size());
      current.append(script.substr(i, end - i));
      i = end;
    } else if (script.substr(i, 2) == "--") {
      const std::size_t end = script.find('\n', i);
      i = (end == std::string_view::npos) ? script.size() : end;
    } else if (script.substr(i, 2) == "/*") {
      const std::size_t end = script.find("*/", i + 2);
      i = (end == std::string_view::npos) ? script.size() : end + 2;
    } else if (script.substr(i, terminator.size()) == terminator) {
      i += terminator.size();
      finish();
    } else {
      current += c;
      ++i;
    }
  }
  finish();
  return statements;
}

}  // namespace zendrel::testing
