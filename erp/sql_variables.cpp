// Reading fetched columns and writing parameters in the client's own layouts.
#include "erp/sql_variables.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "erp/database_error.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

[[noreturn]] void Fail(const std::string& message) { throw DatabaseError(message, DatabaseError::kDataLayer); }

int BaseType(const XSQLVAR& var) { return var.sqltype & ~1; }

bool IsText(int type) { return type == SQL_TEXT || type == SQL_VARYING; }

// The size of the buffer that a value of the variable's type takes.
std::size_t BufferSize(const XSQLVAR& var) {
  const int type = BaseType(var);
  if (type == SQL_VARYING) return static_cast<std::size_t>(var.sqllen) + 2;
  return static_cast<std::size_t>(std::max<ISC_SHORT>(var.sqllen, 8));
}

// The client's buffers carry no alignment promise: values are copied out.
template <typename T>
T Load(const char* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

// A fixed-size value of the SQL type `type`, nullable like every parameter here.
template <typename T>
void PutScalar(XSQLVAR& var, std::vector<char>& buffer, const T& value, int type, int scale = 0) {
  buffer.resize(sizeof value);
  std::memcpy(buffer.data(), &value, sizeof value);
  var.sqltype = static_cast<ISC_SHORT>(type | 1);
  var.sqllen = sizeof value;
  var.sqlscale = static_cast<ISC_SHORT>(scale);
  var.sqlsubtype = 0;
}

std::string_view TextBytes(const XSQLVAR& var) {
  const char* data = var.sqldata;
  if (BaseType(var) == SQL_VARYING) {
    return std::string_view(data + 2, static_cast<std::size_t>(Load<short>(data)));
  }
  const std::string_view bytes(data, static_cast<std::size_t>(var.sqllen));
  // Fixed-length text comes padded with blanks; the program never sees them.
  const std::size_t last = bytes.find_last_not_of(' ');
  return (last == std::string_view::npos) ? std::string_view() : bytes.substr(0, last + 1);
}

}  // namespace

void SqldaDeleter::operator()(XSQLDA* sqlda) const { std::free(sqlda); }

SqldaPtr AllocateSqlda(int count) {
  auto* sqlda = static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(count)));
  if (sqlda == nullptr) throw std::bad_alloc();
  sqlda->version = SQLDA_VERSION1;
  sqlda->sqln = static_cast<ISC_SHORT>(count);
  return SqldaPtr(sqlda);
}

std::string ColumnName(const XSQLVAR& var) {
  if (var.aliasname_length > 0) return std::string(var.aliasname, static_cast<std::size_t>(var.aliasname_length));
  return std::string(var.sqlname, static_cast<std::size_t>(var.sqlname_length));
}

void ReserveColumn(XSQLVAR& var, std::vector<char>& buffer, short& null_flag) {
  if (BaseType(var) == SQL_BLOB || BaseType(var) == SQL_ARRAY) {
    Fail("O campo " + ColumnName(var) + " é BLOB ou ARRAY, que a aplicação não lê");
  }
  buffer.assign(BufferSize(var), 0);
  var.sqldata = buffer.data();
  var.sqlind = &null_flag;
}

FieldValue ReadColumn(const XSQLVAR& var) {
  const int type = BaseType(var);
  std::string name = ColumnName(var);
  const bool is_null = (var.sqltype & 1) != 0 && var.sqlind != nullptr && *var.sqlind == -1;
  const char* data = var.sqldata;
  switch (type) {
    case SQL_TEXT:
    case SQL_VARYING:
      if (is_null) return FieldValue::Null(FieldValue::Kind::Text, std::move(name));
      return FieldValue::Text(Latin1ToUtf8(TextBytes(var)), std::move(name), var.sqllen);
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
    case SQL_BOOLEAN: {
      if (is_null) return FieldValue::Null(FieldValue::Kind::Integer, std::move(name));
      std::int64_t value = 0;
      if (type == SQL_SHORT) {
        value = Load<std::int16_t>(data);
      } else if (type == SQL_LONG) {
        value = Load<std::int32_t>(data);
      } else if (type == SQL_BOOLEAN) {
        value = static_cast<unsigned char>(data[0]) != 0 ? 1 : 0;
      } else {
        value = Load<std::int64_t>(data);
      }
      return FieldValue::Integer(value, type == SQL_BOOLEAN ? 0 : var.sqlscale, std::move(name));
    }
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      if (is_null) return FieldValue::Null(FieldValue::Kind::Float, std::move(name));
      return FieldValue::Float(type == SQL_FLOAT ? Load<float>(data) : Load<double>(data), std::move(name));
    case SQL_TYPE_DATE:
      if (is_null) return FieldValue::Null(FieldValue::Kind::Date, std::move(name));
      return FieldValue::Date(Load<ISC_DATE>(data), std::move(name));
    case SQL_TYPE_TIME:
      if (is_null) return FieldValue::Null(FieldValue::Kind::Time, std::move(name));
      return FieldValue::Time(Load<ISC_TIME>(data), std::move(name));
    case SQL_TIMESTAMP: {
      if (is_null) return FieldValue::Null(FieldValue::Kind::Timestamp, std::move(name));
      const auto moment = Load<ISC_TIMESTAMP>(data);
      return FieldValue::Timestamp(moment.timestamp_date, moment.timestamp_time, std::move(name));
    }
    case SQL_NULL: return FieldValue::Null(FieldValue::Kind::Text, std::move(name));
    default: Fail("O campo " + name + " tem um tipo que a aplicação não lê (" + std::to_string(type) + ")");
  }
}

void WriteParameter(XSQLVAR& var, const FieldValue& value, std::vector<char>& buffer, short& null_flag) {
  const int described = BaseType(var);
  var.sqlind = &null_flag;
  if (value.IsNull()) {
    buffer.assign(BufferSize(var), 0);
    var.sqldata = buffer.data();
    var.sqltype = static_cast<ISC_SHORT>(described | 1);
    null_flag = -1;
    return;
  }
  null_flag = 0;
  switch (value.kind()) {
    case FieldValue::Kind::Text: {
      std::string latin1 = Utf8ToLatin1(value.text());
      // Cut to the declared length here: the server would refuse it with "string
      // right truncation". On the Latin-1 connection a byte is a character.
      if (IsText(described) && latin1.size() > static_cast<std::size_t>(var.sqllen)) {
        latin1.resize(static_cast<std::size_t>(var.sqllen));
      }
      if (!IsText(described)) var.sqlsubtype = 0;
      buffer.assign(latin1.begin(), latin1.end());
      if (buffer.empty()) buffer.push_back(0);
      var.sqltype = SQL_TEXT | 1;
      var.sqllen = static_cast<ISC_SHORT>(latin1.size());
      var.sqlscale = 0;
      break;
    }
    case FieldValue::Kind::Integer: PutScalar(var, buffer, value.unscaled(), SQL_INT64, value.scale()); break;
    case FieldValue::Kind::Float: PutScalar(var, buffer, value.float_value(), SQL_DOUBLE); break;
    case FieldValue::Kind::Date: PutScalar(var, buffer, ISC_DATE{value.isc_date()}, SQL_TYPE_DATE); break;
    case FieldValue::Kind::Time: PutScalar(var, buffer, ISC_TIME{value.isc_time()}, SQL_TYPE_TIME); break;
    case FieldValue::Kind::Timestamp:
      PutScalar(var, buffer, ISC_TIMESTAMP{value.isc_date(), value.isc_time()}, SQL_TIMESTAMP);
      break;
  }
  var.sqldata = buffer.data();
}

}  // namespace zendrel
