// Firebird's DSQL has no named parameters: statements are written with ":NAME" and
// sent with "?" in their place, and the values are bound by name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zendrel {

struct PositionalSql {
  std::string text;                // the statement with each ":NAME" replaced by "?"
  std::vector<std::string> names;  // the name at each "?", upper-cased, in order
};

// Replaces ":NAME" (a letter or "_", then letters, digits, "_" or "$") outside string
// literals, quoted identifiers and comments. A name may appear several times.
PositionalSql ToPositional(std::string_view sql);

}  // namespace zendrel
