// Statements on the connection: preparation, binding by name, execution, fetching.
#include "erp/query.h"

#include <algorithm>
#include <optional>

#include "erp/database_error.h"
#include "erp/firebird_client.h"
#include "erp/sql_variables.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

constexpr unsigned short kDialect = 3;

[[noreturn]] void Fail(const std::string& message) { throw DatabaseError(message, DatabaseError::kDataLayer); }

// A read-only transaction of its own for preparing a statement whose transaction has
// not started yet (an explicit one prepared before its start): the server needs one
// to look up the metadata. Ends with the scope.
class PrepareTransaction {
 public:
  explicit PrepareTransaction(Connection& connection) : api_(connection.api()) {
    isc_db_handle* database = connection.handle();
    static const char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                               isc_tpb_nowait};
    struct {
      isc_db_handle* database;
      int tpb_length;
      const char* tpb;
    } teb{database, sizeof tpb, tpb};
    ISC_STATUS_ARRAY status{};
    api_.start_multiple(status, &handle_, 1, &teb);
    connection.Check(status);
  }
  ~PrepareTransaction() {
    ISC_STATUS_ARRAY status{};
    if (handle_ != 0) api_.commit_transaction(status, &handle_);
    if (handle_ != 0) api_.disconnect_transaction(status, &handle_);
  }
  PrepareTransaction(const PrepareTransaction&) = delete;
  PrepareTransaction& operator=(const PrepareTransaction&) = delete;
  isc_tr_handle* handle() { return &handle_; }

 private:
  const FirebirdApi& api_;
  isc_tr_handle handle_ = 0;
};

}  // namespace

struct Query::Descriptors {
  SqldaPtr output;
  SqldaPtr input;
  std::vector<std::vector<char>> output_buffers;
  std::vector<short> output_nulls;
  // The parameters as the server described them: each execution starts from these.
  std::vector<XSQLVAR> input_described;
  std::vector<std::vector<char>> input_buffers;
  std::vector<short> input_nulls;
};

Query::Query(Connection& connection, Transaction& transaction)
    : connection_(connection), transaction_(transaction), sqlda_(std::make_unique<Descriptors>()) {
  connection_.Register(this, false);
}

Query::~Query() {
  ReleaseHandles(connection_.Connected());
  connection_.Unregister(this);
}

void Query::SetSQL(std::string sql) {
  Close();
  Unprepare();
  sql_ = std::move(sql);
  positional_ = ToPositional(sql_);
  params_.clear();
}

void Query::SetParam(std::string_view param, FieldValue value) {
  std::string name = AsciiUpper(param);
  if (!name.empty() && name.front() == ':') name.erase(0, 1);
  params_[name] = std::move(value);
}

void Query::SetInteger(std::string_view param, std::int32_t value) { SetParam(param, FieldValue::Integer(value, 0)); }

void Query::SetText(std::string_view param, std::string_view utf8) {
  SetParam(param, utf8.empty() ? FieldValue::Null(FieldValue::Kind::Text) : FieldValue::Text(std::string(utf8)));
}

void Query::SetDate(std::string_view param, const DateTime& value) {
  SetParam(param, FieldValue::FromDateTime(FieldValue::Kind::Timestamp, value));
}

void Query::SetValue(std::string_view param, const FieldValue& value) { SetParam(param, value); }

bool Query::Prepared() const { return statement_ != 0 && generation_ == connection_.generation(); }

bool Query::Active() const { return cursor_open_ && generation_ == connection_.generation(); }

void Query::Prepare() {
  if (Prepared()) return;
  connection_.RunStatement(true, [this] {
    const bool started_here = !transaction_.Active() && transaction_.auto_start_commit();
    if (started_here) transaction_.BeginUse();
    try {
      DoPrepare();
    } catch (...) {
      if (started_here) transaction_.EndUse(false);
      throw;
    }
    if (started_here) transaction_.EndUse(true);
  });
}

void Query::DoPrepare() {
  if (Prepared()) return;
  if (!connection_.Connected()) Fail("Conexão com o banco de dados não está aberta");
  if (sql_.empty()) Fail("A consulta não tem comando SQL");
  statement_ = 0;  // a handle of a lost attachment was already let go of
  const FirebirdApi& api = connection_.api();
  ISC_STATUS_ARRAY status{};
  api.dsql_allocate_statement(status, connection_.handle(), &statement_);
  connection_.Check(status);
  generation_ = connection_.generation();
  try {
    sqlda_->output = AllocateSqlda(16);
    const std::string text = Utf8ToLatin1(positional_.text);
    std::optional<PrepareTransaction> own;
    if (!transaction_.Active()) own.emplace(connection_);
    isc_tr_handle* transaction = own ? own->handle() : transaction_.handle();
    api.dsql_prepare(status, transaction, &statement_, 0, text.c_str(), kDialect, sqlda_->output.get());
    connection_.Check(status);
    if (sqlda_->output->sqld > sqlda_->output->sqln) {
      sqlda_->output = AllocateSqlda(sqlda_->output->sqld);
      api.dsql_describe(status, &statement_, kDialect, sqlda_->output.get());
      connection_.Check(status);
    }
    sqlda_->input = AllocateSqlda(std::max<int>(1, static_cast<int>(positional_.names.size())));
    api.dsql_describe_bind(status, &statement_, kDialect, sqlda_->input.get());
    connection_.Check(status);
    if (sqlda_->input->sqld > sqlda_->input->sqln) {
      sqlda_->input = AllocateSqlda(sqlda_->input->sqld);
      api.dsql_describe_bind(status, &statement_, kDialect, sqlda_->input.get());
      connection_.Check(status);
    }
    sqlda_->input_described.assign(sqlda_->input->sqlvar, sqlda_->input->sqlvar + sqlda_->input->sqld);
    if (static_cast<std::size_t>(sqlda_->input->sqld) != positional_.names.size()) {
      Fail("O comando tem " + std::to_string(sqlda_->input->sqld) + " parâmetros, mas " +
           std::to_string(positional_.names.size()) + " nomes de parâmetro");
    }

    const char items[] = {isc_info_sql_stmt_type};
    char answer[16] = {};
    api.dsql_sql_info(status, &statement_, sizeof items, items, sizeof answer, answer);
    connection_.Check(status);
    statement_type_ = 0;
    if (answer[0] == isc_info_sql_stmt_type) {
      const auto length = static_cast<short>(api.vax_integer(answer + 1, 2));
      statement_type_ = static_cast<int>(api.vax_integer(answer + 3, length));
    }

    sqlda_->output_buffers.assign(static_cast<std::size_t>(sqlda_->output->sqld), {});
    sqlda_->output_nulls.assign(static_cast<std::size_t>(sqlda_->output->sqld), 0);
    for (int i = 0; i < sqlda_->output->sqld; ++i) {
      const auto column = static_cast<std::size_t>(i);
      ReserveColumn(sqlda_->output->sqlvar[i], sqlda_->output_buffers[column], sqlda_->output_nulls[column]);
    }
  } catch (...) {
    FreeStatement(DSQL_drop);
    throw;
  }
}

void Query::Unprepare() {
  Close();
  FreeStatement(DSQL_drop);
  sqlda_->output.reset();
  sqlda_->input.reset();
}

void Query::FreeStatement(unsigned short option) noexcept {
  if (statement_ == 0) return;
  if (generation_ == connection_.generation() && connection_.Connected()) {
    if (option == DSQL_drop && rows_pending_) {
      // The count of the last run goes with the statement: take it now.
      try {
        RowsAffected();
      } catch (const std::exception&) {
        // Nobody asked for it; the statement goes anyway.
      }
    }
    ISC_STATUS_ARRAY status{};
    connection_.api().dsql_free_statement(status, &statement_, option);
  }
  if (option == DSQL_drop) {
    statement_ = 0;
    rows_pending_ = false;
  }
}

void Query::BindInput() {
  sqlda_->input_buffers.assign(positional_.names.size(), {});
  sqlda_->input_nulls.assign(positional_.names.size(), 0);
  for (std::size_t i = 0; i < positional_.names.size(); ++i) {
    const auto found = params_.find(positional_.names[i]);
    if (found == params_.end()) Fail("O parâmetro " + positional_.names[i] + " não recebeu valor");
    XSQLVAR& var = sqlda_->input->sqlvar[i];
    // Each run starts from the described type again: the run before may have put a
    // value of another kind (and length) there.
    var = sqlda_->input_described[i];
    WriteParameter(var, found->second, sqlda_->input_buffers[i], sqlda_->input_nulls[i]);
  }
}

void Query::ExecuteStatement() {
  const FirebirdApi& api = connection_.api();
  ISC_STATUS_ARRAY status{};
  api.dsql_execute(status, transaction_.handle(), &statement_, kDialect,
                   positional_.names.empty() ? nullptr : sqlda_->input.get());
  connection_.Check(status);
}

void Query::Open() {
  if (Active()) return;
  connection_.RunStatement(transaction_.auto_start_commit(), [this] { DoOpen(); });
}

void Query::DoOpen() {
  rows_pending_ = false;
  cursor_open_ = false;
  has_row_ = false;
  row_.clear();
  if (!connection_.Connected()) Fail("Conexão com o banco de dados não está aberta");
  transaction_.BeginUse();
  in_use_ = true;
  try {
    DoPrepare();
    if (statement_type_ != isc_info_sql_stmt_select && statement_type_ != isc_info_sql_stmt_select_for_upd) {
      Fail("O comando não devolve linhas: use ExecSQL");
    }
    BindInput();
    ExecuteStatement();
    cursor_open_ = true;
    Fetch();
  } catch (...) {
    CloseCursorQuietly();
    if (in_use_) {
      in_use_ = false;
      transaction_.EndUse(false);
    }
    throw;
  }
}

void Query::Fetch() {
  const FirebirdApi& api = connection_.api();
  ISC_STATUS_ARRAY status{};
  const ISC_STATUS result = api.dsql_fetch(status, &statement_, kDialect, sqlda_->output.get());
  if (result == 100) {
    has_row_ = false;
    row_.clear();
    return;
  }
  connection_.Check(status);
  row_.clear();
  row_.reserve(static_cast<std::size_t>(sqlda_->output->sqld));
  for (int i = 0; i < sqlda_->output->sqld; ++i) row_.push_back(ReadColumn(sqlda_->output->sqlvar[i]));
  has_row_ = true;
}

void Query::Next() {
  if (!Active()) Fail("A consulta não está aberta");
  if (!has_row_) return;
  // A cursor that the lost connection took with it is not reopened from its start:
  // the failure reaches the caller once the connection is back.
  connection_.RunStatement(false, [this] { Fetch(); });
}

void Query::CloseCursorQuietly() noexcept {
  if (cursor_open_) FreeStatement(DSQL_close);
  cursor_open_ = false;
  has_row_ = false;
  row_.clear();
}

void Query::Close() {
  const bool was_open = cursor_open_;
  CloseCursorQuietly();
  if (!was_open || !in_use_) return;
  in_use_ = false;
  try {
    transaction_.EndUse(true);
  } catch (const DatabaseError& error) {
    // The rows were read; a connection that went away meanwhile is re-established
    // by the next statement that needs it.
    if (!error.connection_lost()) throw;
  }
}

void Query::ExecSQL() { ExecSQL(-1); }

void Query::ExecSQL(long required_rows) {
  Close();
  // A statement whose transaction died with the connection before its commit is run
  // again on the new attachment. One whose commit was under way is not: the server
  // may have stored it before the connection went, and only the caller can tell.
  bool commit_sent = false;
  connection_.RunStatement(transaction_.auto_start_commit(), [this, required_rows, &commit_sent] {
    if (commit_sent) {
      throw DatabaseError(
          "A conexão com o banco de dados caiu durante a confirmação do comando; não se sabe "
          "se ele foi gravado",
          DatabaseError::kCommitOutcomeUnknown);
    }
    DoExec(required_rows, commit_sent);
  });
}

void Query::DoExec(long required_rows, bool& commit_sent) {
  if (!connection_.Connected()) Fail("Conexão com o banco de dados não está aberta");
  rows_affected_ = 0;
  rows_pending_ = false;
  transaction_.BeginUse();
  try {
    DoPrepare();
    BindInput();
    ExecuteStatement();
    if (statement_type_ == isc_info_sql_stmt_select || statement_type_ == isc_info_sql_stmt_select_for_upd) {
      FreeStatement(DSQL_close);
    }
    rows_pending_ = required_rows < 0 && !transaction_.auto_start_commit();
    if (!rows_pending_) rows_affected_ = CountAffectedRows();
    if (required_rows >= 0 && rows_affected_ != required_rows) {
      Fail("O comando deveria alterar " + std::to_string(required_rows) + " linha(s), mas alterou " +
           std::to_string(rows_affected_));
    }
  } catch (...) {
    transaction_.EndUse(false);
    throw;
  }
  // A commit that fails ends the transaction itself (rolled back).
  commit_sent = transaction_.auto_start_commit();
  transaction_.EndUse(true);
}

long Query::RowsAffected() const {
  if (rows_pending_) {
    rows_pending_ = false;
    if (Prepared() && connection_.Connected()) rows_affected_ = CountAffectedRows();
  }
  return rows_affected_;
}

long Query::CountAffectedRows() const {
  const FirebirdApi& api = connection_.api();
  ISC_STATUS_ARRAY status{};
  const char items[] = {isc_info_sql_records};
  char answer[64] = {};
  isc_stmt_handle statement = statement_;
  api.dsql_sql_info(status, &statement, sizeof items, items, sizeof answer, answer);
  connection_.Check(status);
  if (answer[0] != isc_info_sql_records) return 0;
  long count = 0;
  const char* p = answer + 3;
  const char* end = answer + sizeof answer;
  while (p < end && *p != isc_info_end) {
    const char item = *p;
    const auto length = static_cast<short>(api.vax_integer(p + 1, 2));
    const long value = api.vax_integer(p + 3, length);
    if (item == isc_info_req_insert_count || item == isc_info_req_update_count || item == isc_info_req_delete_count) {
      count += value;
    }
    p += 3 + length;
  }
  return count;
}

FieldValue Query::Field(std::string_view column) const {
  if (!Active()) Fail("A consulta não está aberta");
  if (!has_row_) Fail("A consulta não está em uma linha (fim dos dados)");
  const std::string wanted = AsciiUpper(column);
  for (const FieldValue& value : row_) {
    if (AsciiUpper(value.name()) == wanted) return value;
  }
  Fail("Campo '" + std::string(column) + "' não encontrado");
}

const std::vector<FieldValue>& Query::Row() const {
  if (!Active() || !has_row_) Fail("A consulta não está em uma linha");
  return row_;
}

std::vector<std::string> Query::FieldNames() const {
  std::vector<std::string> names;
  if (!Prepared() || !sqlda_->output) return names;
  for (int i = 0; i < sqlda_->output->sqld; ++i) names.push_back(ColumnName(sqlda_->output->sqlvar[i]));
  return names;
}

void Query::ReleaseHandles(bool attachment_alive) noexcept {
  if (statement_ != 0 && attachment_alive && generation_ == connection_.generation()) {
    ISC_STATUS_ARRAY status{};
    connection_.api().dsql_free_statement(status, &statement_, DSQL_drop);
  }
  // Of a lost attachment the client frees what is left when the attachment goes.
  statement_ = 0;
  cursor_open_ = false;
  has_row_ = false;
  in_use_ = false;
  row_.clear();
}

}  // namespace zendrel
