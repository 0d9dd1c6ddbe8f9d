// Values in and out of the client's XSQLDA records: a fetched column read into a
// FieldValue, and a FieldValue put into a parameter the server described.
#pragma once

#include <ibase.h>

#include <memory>
#include <string>
#include <vector>

#include "erp/field_value.h"

namespace zendrel {

struct SqldaDeleter {
  void operator()(XSQLDA* sqlda) const;
};
using SqldaPtr = std::unique_ptr<XSQLDA, SqldaDeleter>;

// A record with room for `count` variables, none described yet.
SqldaPtr AllocateSqlda(int count);

// The column's alias when it has one, else its name.
std::string ColumnName(const XSQLVAR& var);

// Gives the column `var` (as the server described it) `buffer` for its value and
// `null_flag` for its NULL indicator. Throws DatabaseError for BLOB and ARRAY
// columns, which the system never reads.
void ReserveColumn(XSQLVAR& var, std::vector<char>& buffer, short& null_flag);

// The value that a fetch left in `var`. CHAR padding is removed; texts come from
// Latin-1. Throws DatabaseError for a type the system does not read.
FieldValue ReadColumn(const XSQLVAR& var);

// Puts `value` into the parameter `var` (as the server described it) using `buffer`
// for its bytes and `null_flag` for its NULL indicator. The variable's type becomes
// the value's own, and the server converts it; a NULL keeps the described type. A
// text goes as Latin-1, cut to a text parameter's declared length.
void WriteParameter(XSQLVAR& var, const FieldValue& value, std::vector<char>& buffer, short& null_flag);

}  // namespace zendrel
