// The settings row and its write-back.
#include "erp/settings_row.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <thread>

#include "erp/database_error.h"
#include "erp/query.h"
#include "erp/statements.h"
#include "support/errors.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

[[noreturn]] void Fail(const std::string& message) { throw DatabaseError(message, DatabaseError::kDataLayer); }

// The primary key that the catalogue declares for PADRAO, in key order.
const char* const kPrimaryKeyColumns =
    "SELECT S.RDB$FIELD_NAME\n"
    "FROM RDB$RELATION_CONSTRAINTS C\n"
    "INNER JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = C.RDB$INDEX_NAME\n"
    "WHERE C.RDB$RELATION_NAME = 'PADRAO' AND C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'\n"
    "ORDER BY S.RDB$FIELD_POSITION";

}  // namespace

SettingsRow::SettingsRow(Connection& connection, Transaction& read, Transaction& write, SettingsWritePolicy policy)
    : connection_(connection), read_(read), write_(write), policy_(policy) {}

void SettingsRow::Open() {
  primary_key_.reset();
  updates_.clear();
  if (!ReadRowAgain()) {
    // The columns are known all the same: every one reads as NULL.
    Query query(connection_, read_);
    query.SetSQL(S1);
    query.Prepare();
    row_.clear();
    for (std::string& name : query.FieldNames()) row_.push_back(FieldValue::Null(FieldValue::Kind::Text, name));
  }
  active_ = true;
}

bool SettingsRow::ReadRowAgain() {
  Query query(connection_, read_);
  query.SetSQL(S1);
  query.Open();
  has_row_ = !query.Eof();
  if (has_row_) row_ = query.Row();
  query.Close();
  return has_row_;
}

void SettingsRow::Close() {
  active_ = false;
  has_row_ = false;
  row_.clear();
  primary_key_.reset();
  // Before the disconnect that follows a cycle: the prepared statements go with it.
  updates_.clear();
}

std::size_t SettingsRow::ColumnIndex(std::string_view column) const {
  if (!active_) Fail("A tabela PADRAO não está aberta");
  const std::string wanted = AsciiUpper(column);
  for (std::size_t i = 0; i < row_.size(); ++i) {
    if (AsciiUpper(row_[i].name()) == wanted) return i;
  }
  Fail("Campo '" + std::string(column) + "' não encontrado em PADRAO");
}

FieldValue SettingsRow::Field(std::string_view column) const { return row_[ColumnIndex(column)]; }

std::string SettingsRow::ReadText(std::string_view column) const { return Field(column).AsString(); }

void SettingsRow::WriteInteger(std::string_view column, std::int32_t value) {
  const std::size_t index = ColumnIndex(column);
  const FieldValue& current = row_[index];
  switch (current.kind()) {
    case FieldValue::Kind::Integer: {
      // A NUMERIC column keeps its scale, so that "unchanged" compares like with like.
      std::int64_t unscaled = value;
      for (int i = 0; i < -current.scale(); ++i) unscaled *= 10;
      Write(index, FieldValue::Integer(unscaled, std::min(current.scale(), 0), current.name()));
      return;
    }
    case FieldValue::Kind::Float: Write(index, FieldValue::Float(value, current.name())); return;
    case FieldValue::Kind::Text:
      Write(index, FieldValue::Text(std::to_string(value), current.name(), current.declared_length()));
      return;
    default: throw ConversionError("O campo " + current.name() + " não recebe um valor inteiro");
  }
}

void SettingsRow::WriteDateTime(std::string_view column, const DateTime& value) {
  const std::size_t index = ColumnIndex(column);
  const FieldValue& current = row_[index];
  switch (current.kind()) {
    case FieldValue::Kind::Date:
    case FieldValue::Kind::Time:
    case FieldValue::Kind::Timestamp:
      Write(index, FieldValue::FromDateTime(current.kind(), value, current.name()));
      return;
    default: throw ConversionError("O campo " + current.name() + " não recebe uma data");
  }
}

const std::vector<std::string>& SettingsRow::PrimaryKey() {
  if (!primary_key_) {
    std::vector<std::string> columns;
    Query query(connection_, read_);
    query.SetSQL(kPrimaryKeyColumns);
    query.Open();
    for (; !query.Eof(); query.Next()) columns.push_back(query.Field("RDB$FIELD_NAME").AsString());
    query.Close();
    primary_key_ = std::move(columns);
  }
  return *primary_key_;
}

void SettingsRow::Write(std::size_t index, FieldValue value) {
  if (!has_row_) Fail("A tabela PADRAO não tem linha para gravar " + row_[index].name());
  if (!row_[index].is_sql_null() && row_[index].SameValue(value)) return;

  const int attempts = std::max(1, policy_.attempts);
  for (int attempt = 1;; ++attempt) {
    std::exception_ptr failure;
    bool read_again = false;
    try {
      SendWrite(index, value);
      row_[index] = std::move(value);
      return;
    } catch (const DatabaseError& error) {
      if (attempt >= attempts || !MayTryAgain(error)) throw;
      if (retry_observer_) retry_observer_(attempt, error);
      failure = std::current_exception();
      // Without a key every column read is part of the key, so the row must be read
      // as it is now; after a lost commit only the row can tell whether the write
      // was stored, and running it blindly again could not tell either.
      read_again = PrimaryKey().empty() || error.code() == DatabaseError::kCommitOutcomeUnknown;
    }
    std::this_thread::sleep_for(policy_.pause);
    if (read_again) {
      if (!ReadRowAgain()) std::rethrow_exception(failure);
      // Already stored: by the commit whose answer was lost, or by someone else.
      if (!row_[index].is_sql_null() && row_[index].SameValue(value)) return;
    }
  }
}

bool SettingsRow::MayTryAgain(const DatabaseError& error) const {
  if (error.update_conflict() || error.lock_timeout() || error.code() == DatabaseError::kCommitOutcomeUnknown) {
    return true;
  }
  // Without a key, a row that matched nothing may have had another column changed
  // by the ERP; two rows that look alike stay a failure.
  return error.code() == DatabaseError::kDataLayer && last_rows_affected_ == 0 && primary_key_ && primary_key_->empty();
}

void SettingsRow::SendWrite(std::size_t index, const FieldValue& value) {
  const FieldValue& current = row_[index];

  // The row is found by its primary key, or, without one, by every value read.
  std::vector<std::size_t> key;
  for (const std::string& column : PrimaryKey()) {
    std::size_t found = row_.size();
    for (std::size_t i = 0; i < row_.size(); ++i) {
      if (AsciiUpper(row_[i].name()) == AsciiUpper(column)) found = i;
    }
    if (found == row_.size()) Fail("A chave primária " + column + " de PADRAO não está entre os campos lidos");
    key.push_back(found);
  }
  if (key.empty()) {
    for (std::size_t i = 0; i < row_.size(); ++i) key.push_back(i);
  }

  std::string sql = "UPDATE PADRAO SET " + current.name() + " = :NOVO_VALOR\nWHERE ";
  std::vector<std::pair<std::string, FieldValue>> key_values;
  for (std::size_t n = 0; n < key.size(); ++n) {
    const FieldValue& read = row_[key[n]];
    if (n > 0) sql += "\n  AND ";
    if (read.IsNull()) {
      // An empty text reads as NULL, so the column may hold NULL or an empty text
      // (or a CHAR of blanks, which equals '').
      sql += read.kind() == FieldValue::Kind::Text ? fmt::format("({0} IS NULL OR {0} = '')", read.name())
                                                   : read.name() + " IS NULL";
    } else {
      const std::string param = fmt::format("CHAVE_{}", n + 1);
      sql += read.name() + " = :" + param;
      key_values.emplace_back(param, read);
    }
  }

  std::unique_ptr<Query>& prepared = updates_[sql];
  if (!prepared) {
    prepared = std::make_unique<Query>(connection_, write_);
    prepared->SetSQL(sql);
  }
  Query& update = *prepared;
  update.SetValue("NOVO_VALOR", value);
  for (const auto& [param, read] : key_values) update.SetValue(param, read);
  last_write_sql_ = sql;
  last_rows_affected_ = -1;
  try {
    update.ExecSQL(1);
  } catch (const DatabaseError& error) {
    if (error.code() != DatabaseError::kDataLayer || update.RowsAffected() == 1) throw;
    last_rows_affected_ = update.RowsAffected();
    throw DatabaseError(
        fmt::format("A gravação de {} em PADRAO alterou {} linhas em vez de uma", current.name(), last_rows_affected_),
        DatabaseError::kDataLayer);
  }
}

}  // namespace zendrel
