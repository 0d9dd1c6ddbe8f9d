// A query component: one SQL statement with ":NAME" parameters bound by name, run
// in one transaction of the connection, with forward reading of its rows.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "erp/connection.h"
#include "erp/field_value.h"
#include "erp/named_parameters.h"
#include "erp/transaction.h"
#include "support/date_time.h"

namespace zendrel {

class Query final : public AttachmentUser {
 public:
  Query(Connection& connection, Transaction& transaction);
  ~Query() override;
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // Replaces the statement: an open cursor is closed, a prepared statement freed,
  // and the parameter values forgotten.
  void SetSQL(std::string sql);
  const std::string& SQL() const { return sql_; }

  // Parameter values, by name without the colon (any case). An empty text is NULL;
  // a text longer than the parameter is cut to its declared length.
  void SetInteger(std::string_view param, std::int32_t value);
  void SetText(std::string_view param, std::string_view utf8);
  void SetDate(std::string_view param, const DateTime& value);
  // A value as it was read, sent back unchanged (a settings row's key).
  void SetValue(std::string_view param, const FieldValue& value);

  // Runs a SELECT and stands on its first row (Eof when there is none). Does nothing
  // when already open. An automatic transaction starts here and commits when the
  // last open query on it closes.
  void Open();
  // Closes the cursor; closing a query that is not open does nothing.
  void Close();
  bool Active() const;
  bool Eof() const { return !has_row_; }
  // Moves to the next row (Eof after the last). Throws when the query is not open.
  void Next();

  // Runs a statement that returns no rows. In an automatic transaction it is
  // committed at once; in an explicit one it waits for the caller's commit. A commit
  // that fails is rolled back; one the lost connection took with it raises
  // DatabaseError::kCommitOutcomeUnknown (after reconnecting) instead of running again.
  void ExecSQL();
  // Runs it like ExecSQL, but when it changed other than `required_rows` rows an
  // automatic transaction is rolled back instead of committed, and DatabaseError is
  // thrown (an explicit transaction is left to its caller).
  void ExecSQL(long required_rows);
  // The rows that the last ExecSQL inserted, updated or deleted.
  long RowsAffected() const;

  void Prepare();
  void Unprepare();
  bool Prepared() const;

  // The column `column` (any case) of the current row. Throws DatabaseError when the
  // query is not open, stands after the last row, or has no such column.
  FieldValue Field(std::string_view column) const;
  // The columns of the current row, in the statement's order.
  const std::vector<FieldValue>& Row() const;
  // The statement's column names, once prepared.
  std::vector<std::string> FieldNames() const;

  void ReleaseHandles(bool attachment_alive) noexcept override;

 private:
  void DoOpen();
  void DoExec(long required_rows, bool& commit_sent);
  void DoPrepare();
  void Fetch();
  void ExecuteStatement();
  void CloseCursorQuietly() noexcept;
  void FreeStatement(unsigned short option) noexcept;
  void BindInput();
  long CountAffectedRows() const;
  void SetParam(std::string_view param, FieldValue value);

  Connection& connection_;
  Transaction& transaction_;
  std::string sql_;
  PositionalSql positional_;
  std::map<std::string, FieldValue> params_;

  ClientHandle statement_ = 0;
  std::uint64_t generation_ = 0;
  int statement_type_ = 0;
  // The client's descriptions of the columns and parameters, with the buffers they
  // point into (defined with the client's types in query.cpp).
  struct Descriptors;
  std::unique_ptr<Descriptors> sqlda_;

  bool cursor_open_ = false;
  bool in_use_ = false;  // holds one use of the transaction
  bool has_row_ = false;
  std::vector<FieldValue> row_;
  // In an explicit transaction the count is asked of the server only when wanted:
  // it costs a round trip, and the product refresh runs one statement per product.
  mutable long rows_affected_ = 0;
  mutable bool rows_pending_ = false;
};

}  // namespace zendrel
