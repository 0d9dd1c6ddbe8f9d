// Rewrites ":NAME" parameters to the "?" markers that Firebird's DSQL takes.
#include "erp/named_parameters.h"

#include "support/text_codec.h"

namespace zendrel {
namespace {

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNamePart(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '$'; }

// The position just after a quoted run that opens at `start` with `quote`; a doubled
// quote inside stands for one quote and does not end it.
std::size_t SkipQuoted(std::string_view sql, std::size_t start, char quote) {
  std::size_t i = start + 1;
  while (i < sql.size()) {
    if (sql[i] == quote) {
      if (i + 1 < sql.size() && sql[i + 1] == quote) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return sql.size();
}

}  // namespace

PositionalSql ToPositional(std::string_view sql) {
  PositionalSql result;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    std::size_t end = i + 1;
    if (c == '\'' || c == '"') {
      end = SkipQuoted(sql, i, c);
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      end = sql.find('\n', i);
      end = (end == std::string_view::npos) ? sql.size() : end;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      end = sql.find("*/", i + 2);
      end = (end == std::string_view::npos) ? sql.size() : end + 2;
    } else if (c == ':' && i + 1 < sql.size() && IsNameStart(sql[i + 1])) {
      end = i + 2;
      while (end < sql.size() && IsNamePart(sql[end])) ++end;
      result.names.push_back(AsciiUpper(sql.substr(i + 1, end - i - 1)));
      result.text += '?';
      i = end;
      continue;
    }
    result.text.append(sql.substr(i, end - i));
    i = end;
  }
  return result;
}

}  // namespace zendrel
