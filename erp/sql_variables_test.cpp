#include "erp/sql_variables.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "erp/database_error.h"

namespace zendrel {
namespace {

using ::testing::HasSubstr;

// The bytes of `value` as the client lays it out.
template <typename T>
std::vector<char> Bytes(const T& value) {
  std::vector<char> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

// A VARCHAR's bytes: the length in two bytes, then the text.
std::vector<char> Varying(const std::string& latin1) {
  std::vector<char> bytes = Bytes(static_cast<std::int16_t>(latin1.size()));
  bytes.insert(bytes.end(), latin1.begin(), latin1.end());
  return bytes;
}

std::vector<char> Chars(const std::string& latin1) { return {latin1.begin(), latin1.end()}; }

// A name as the server describes one: not terminated, its length beside it.
template <std::size_t N>
void SetName(char (&field)[N], ISC_SHORT& length, std::string_view name) {
  ASSERT_LE(name.size(), N);
  std::memcpy(field, name.data(), name.size());
  length = static_cast<ISC_SHORT>(name.size());
}

XSQLVAR Column(short sqltype, short sqllen, short sqlscale = 0) {
  XSQLVAR var{};
  var.sqltype = sqltype;
  var.sqllen = sqllen;
  var.sqlscale = sqlscale;
  SetName(var.sqlname, var.sqlname_length, "COLUNA");
  return var;
}

struct ReadCase {
  const char* what;
  short sqltype;
  short sqllen;
  short sqlscale;
  short null_flag;
  std::vector<char> data;
  FieldValue expected;
};

TEST(ReadColumn, EachTypeReadsAsItsValue) {
  const ISC_TIMESTAMP moment{59000, 45000000};
  const ReadCase cases[] = {
      {"CHAR loses its padding", SQL_TEXT, 6, 0, 0, Chars("AB C  "), FieldValue::Text("AB C", "", 6)},
      {"CHAR of blanks", SQL_TEXT, 3, 0, 0, Chars("   "), FieldValue::Text("", "", 3)},
      {"VARCHAR from Latin-1", SQL_VARYING, 10, 0, 0, Varying("ol\xe1 "), FieldValue::Text("olá ", "", 10)},
      {"NULL VARCHAR", SQL_VARYING | 1, 10, 0, -1, Varying(""), FieldValue::Null(FieldValue::Kind::Text)},
      {"SMALLINT", SQL_SHORT, 2, 0, 0, Bytes(std::int16_t{-5}), FieldValue::Integer(-5, 0)},
      {"NUMERIC(9,2)", SQL_LONG | 1, 4, -2, 0, Bytes(std::int32_t{15075}), FieldValue::Integer(15075, -2)},
      {"BIGINT", SQL_INT64, 8, 0, 0, Bytes(std::int64_t{1} << 40), FieldValue::Integer(std::int64_t{1} << 40, 0)},
      {"NULL INTEGER", SQL_LONG | 1, 4, 0, -1, Bytes(std::int32_t{7}), FieldValue::Null(FieldValue::Kind::Integer)},
      // The NULL indicator counts only for a nullable column.
      {"NOT NULL INTEGER", SQL_LONG, 4, 0, -1, Bytes(std::int32_t{7}), FieldValue::Integer(7, 0)},
      {"BOOLEAN true", SQL_BOOLEAN, 1, 0, 0, Bytes(std::uint8_t{2}), FieldValue::Integer(1, 0)},
      {"BOOLEAN false", SQL_BOOLEAN, 1, 0, 0, Bytes(std::uint8_t{0}), FieldValue::Integer(0, 0)},
      {"FLOAT", SQL_FLOAT, 4, 0, 0, Bytes(1.5F), FieldValue::Float(1.5)},
      {"DOUBLE PRECISION", SQL_DOUBLE, 8, 0, 0, Bytes(-2.25), FieldValue::Float(-2.25)},
      {"DATE", SQL_TYPE_DATE, 4, 0, 0, Bytes(ISC_DATE{59000}), FieldValue::Date(59000)},
      {"NULL DATE", SQL_TYPE_DATE | 1, 4, 0, -1, Bytes(ISC_DATE{59000}), FieldValue::Null(FieldValue::Kind::Date)},
      {"TIME", SQL_TYPE_TIME, 4, 0, 0, Bytes(ISC_TIME{45000000}), FieldValue::Time(45000000)},
      {"TIMESTAMP", SQL_TIMESTAMP, 8, 0, 0, Bytes(moment), FieldValue::Timestamp(59000, 45000000)},
      {"NULL TIMESTAMP", SQL_TIMESTAMP | 1, 8, 0, -1, Bytes(moment), FieldValue::Null(FieldValue::Kind::Timestamp)},
      {"the NULL type", SQL_NULL | 1, 0, 0, -1, Bytes(std::int64_t{0}), FieldValue::Null(FieldValue::Kind::Text)},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.what);
    XSQLVAR var = Column(c.sqltype, c.sqllen, c.sqlscale);
    std::vector<char> data = c.data;
    short null_flag = c.null_flag;
    var.sqldata = data.data();
    var.sqlind = &null_flag;
    const FieldValue value = ReadColumn(var);
    EXPECT_TRUE(value.SameValue(c.expected)) << "read as \"" << value.AsString() << "\"";
    EXPECT_EQ(value.name(), "COLUNA");
    EXPECT_EQ(value.declared_length(), c.expected.declared_length());
  }
}

TEST(ReadColumn, AliasNamesTheColumnAndUnknownTypesRaise) {
  XSQLVAR var = Column(SQL_LONG, 4);
  std::vector<char> data = Bytes(std::int32_t{3});
  var.sqldata = data.data();
  SetName(var.aliasname, var.aliasname_length, "APELIDO");
  EXPECT_EQ(ReadColumn(var).name(), "APELIDO");

  var.sqltype = SQL_BLOB;
  try {
    ReadColumn(var);
    ADD_FAILURE() << "a BLOB was read";
  } catch (const DatabaseError& error) {
    EXPECT_STREQ(error.what(), "O campo APELIDO tem um tipo que a aplicação não lê (520)");
    EXPECT_EQ(error.code(), DatabaseError::kDataLayer);
  }
}

TEST(ReserveColumn, GivesEachTypeRoomAndRefusesBlobs) {
  struct Case {
    short sqltype;
    short sqllen;
    std::size_t size;
  };
  // A VARCHAR needs its two length bytes; nothing gets less than eight.
  for (const Case& c :
       {Case{SQL_VARYING | 1, 10, 12}, Case{SQL_TEXT, 20, 20}, Case{SQL_SHORT, 2, 8}, Case{SQL_TIMESTAMP, 8, 8}}) {
    SCOPED_TRACE(c.sqltype);
    XSQLVAR var = Column(c.sqltype, c.sqllen);
    std::vector<char> buffer;
    short null_flag = 5;
    ReserveColumn(var, buffer, null_flag);
    EXPECT_EQ(buffer.size(), c.size);
    EXPECT_EQ(var.sqldata, buffer.data());
    EXPECT_EQ(var.sqlind, &null_flag);
  }
  for (const short type : {SQL_BLOB, SQL_ARRAY}) {
    XSQLVAR var = Column(static_cast<short>(type | 1), 8);
    std::vector<char> buffer;
    short null_flag = 0;
    try {
      ReserveColumn(var, buffer, null_flag);
      ADD_FAILURE() << "type " << type << " was given a buffer";
    } catch (const DatabaseError& error) {
      EXPECT_STREQ(error.what(), "O campo COLUNA é BLOB ou ARRAY, que a aplicação não lê");
    }
  }
}

struct WriteCase {
  const char* what;
  // The parameter as the server described it.
  short described_type;
  short described_len;
  short described_scale;
  short described_subtype;
  FieldValue value;
  // What goes to the server.
  short sqltype;
  short sqllen;
  short sqlscale;
  short sqlsubtype;
  short null_flag;
  std::vector<char> data;
};

TEST(WriteParameter, EachValueGoesInItsOwnType) {
  constexpr short kLatin1 = 21;  // a text parameter's subtype is its character set
  const ISC_TIMESTAMP moment{59000, 45000000};
  const WriteCase cases[] = {
      {"text as Latin-1", SQL_VARYING | 1, 10, 0, kLatin1, FieldValue::Text("olá"), SQL_TEXT | 1, 3, 0, kLatin1, 0,
       Chars("ol\xe1")},
      {"text cut to a CHAR's length", SQL_TEXT, 4, 0, kLatin1, FieldValue::Text("abcdef"), SQL_TEXT | 1, 4, 0, kLatin1,
       0, Chars("abcd")},
      {"text for a number is not cut", SQL_LONG, 4, -2, 1, FieldValue::Text("123456"), SQL_TEXT | 1, 6, 0, 0, 0,
       Chars("123456")},
      {"NULL keeps the described type", SQL_VARYING, 10, 0, kLatin1, FieldValue::Null(FieldValue::Kind::Integer),
       SQL_VARYING | 1, 10, 0, kLatin1, -1, std::vector<char>(12, 0)},
      {"an empty text is NULL", SQL_LONG, 4, 0, 0, FieldValue::Text(""), SQL_LONG | 1, 4, 0, 0, -1,
       std::vector<char>(8, 0)},
      {"integer with its own scale", SQL_LONG | 1, 4, -3, 1, FieldValue::Integer(15075, -2), SQL_INT64 | 1, 8, -2, 0, 0,
       Bytes(std::int64_t{15075})},
      {"integer for a text", SQL_VARYING | 1, 10, 0, kLatin1, FieldValue::Integer(-7, 0), SQL_INT64 | 1, 8, 0, 0, 0,
       Bytes(std::int64_t{-7})},
      {"float", SQL_DOUBLE, 8, 0, 0, FieldValue::Float(2.5), SQL_DOUBLE | 1, 8, 0, 0, 0, Bytes(2.5)},
      {"date for a timestamp", SQL_TIMESTAMP, 8, 0, 0, FieldValue::Date(59000), SQL_TYPE_DATE | 1, 4, 0, 0, 0,
       Bytes(ISC_DATE{59000})},
      {"time", SQL_TYPE_TIME, 4, 0, 0, FieldValue::Time(45000000), SQL_TYPE_TIME | 1, 4, 0, 0, 0,
       Bytes(ISC_TIME{45000000})},
      {"timestamp for a text", SQL_VARYING, 30, 0, kLatin1, FieldValue::Timestamp(59000, 45000000), SQL_TIMESTAMP | 1,
       8, 0, 0, 0, Bytes(moment)},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.what);
    XSQLVAR var = Column(c.described_type, c.described_len, c.described_scale);
    var.sqlsubtype = c.described_subtype;
    std::vector<char> buffer;
    short null_flag = 5;
    WriteParameter(var, c.value, buffer, null_flag);
    EXPECT_EQ(var.sqltype, c.sqltype);
    EXPECT_EQ(var.sqllen, c.sqllen);
    EXPECT_EQ(var.sqlscale, c.sqlscale);
    EXPECT_EQ(var.sqlsubtype, c.sqlsubtype);
    EXPECT_EQ(null_flag, c.null_flag);
    EXPECT_EQ(var.sqlind, &null_flag);
    EXPECT_EQ(var.sqldata, buffer.data());
    EXPECT_EQ(buffer, c.data);
  }
}

// What a parameter carries reads back as the same value: the two layouts agree.
TEST(WriteParameter, WrittenValuesReadBackUnchanged) {
  const FieldValue values[] = {
      FieldValue::Text("Pão de açúcar"), FieldValue::Integer(-5, -3), FieldValue::Integer(1234567890123, 0),
      FieldValue::Float(0.125),          FieldValue::Date(1),         FieldValue::Time(863990000),
      FieldValue::Timestamp(59000, 0),
  };
  for (const FieldValue& value : values) {
    SCOPED_TRACE(value.AsString());
    XSQLVAR var = Column(SQL_VARYING | 1, 40);
    std::vector<char> buffer;
    short null_flag = 0;
    WriteParameter(var, value, buffer, null_flag);
    EXPECT_TRUE(ReadColumn(var).SameValue(value)) << ReadColumn(var).AsString();
  }
}

}  // namespace
}  // namespace zendrel
