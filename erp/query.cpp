// Statements on the connection: preparation, binding by name, execution, fetching.
#include "erp/query.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "erp/database_error.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

constexpr unsigned short kDialect = 3;

XSQLDA* AllocateSqlda(int count) {
  auto* sqlda = static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(count)));
  if (sqlda == nullptr) throw std::bad_alloc();
  sqlda->version = SQLDA_VERSION1;
  sqlda->sqln = static_cast<ISC_SHORT>(count);
  return sqlda;
}

[[noreturn]] void Fail(const std::string& message) { throw DatabaseError(message, DatabaseError::kDataLayer); }

// A read-only transaction of its own for preparing a statement whose transaction has
// not started yet (TRComandos before StartTransaction): the server needs one to look
// up the metadata. Ends with the scope.
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

std::string ColumnName(const XSQLVAR& var) {
  if (var.aliasname_length > 0) return std::string(var.aliasname, static_cast<std::size_t>(var.aliasname_length));
  return std::string(var.sqlname, static_cast<std::size_t>(var.sqlname_length));
}

int BaseType(const XSQLVAR& var) { return var.sqltype & ~1; }

bool IsText(int type) { return type == SQL_TEXT || type == SQL_VARYING; }

// The size of the buffer that a value of the variable's type takes.
std::size_t BufferSize(const XSQLVAR& var) {
  const int type = BaseType(var);
  if (type == SQL_VARYING) return static_cast<std::size_t>(var.sqllen) + 2;
  return static_cast<std::size_t>(std::max<ISC_SHORT>(var.sqllen, 8));
}

FieldValue ReadVariable(const XSQLVAR& var) {
  const int type = BaseType(var);
  std::string name = ColumnName(var);
  const bool is_null = (var.sqltype & 1) != 0 && var.sqlind != nullptr && *var.sqlind == -1;
  const char* data = var.sqldata;
  switch (type) {
    case SQL_TEXT:
    case SQL_VARYING: {
      if (is_null) return FieldValue::Null(FieldValue::Kind::Text, std::move(name));
      std::string_view bytes;
      if (type == SQL_VARYING) {
        short length = 0;
        std::memcpy(&length, data, sizeof length);
        bytes = std::string_view(data + 2, static_cast<std::size_t>(length));
      } else {
        bytes = std::string_view(data, static_cast<std::size_t>(var.sqllen));
        // Fixed-length text comes padded with blanks; the program never sees them.
        const std::size_t last = bytes.find_last_not_of(' ');
        bytes = (last == std::string_view::npos) ? std::string_view() : bytes.substr(0, last + 1);
      }
      return FieldValue::Text(Latin1ToUtf8(bytes), std::move(name), var.sqllen);
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
    case SQL_BOOLEAN: {
      if (is_null) return FieldValue::Null(FieldValue::Kind::Integer, std::move(name));
      std::int64_t value = 0;
      if (type == SQL_SHORT) {
        std::int16_t v;
        std::memcpy(&v, data, sizeof v);
        value = v;
      } else if (type == SQL_LONG) {
        std::int32_t v;
        std::memcpy(&v, data, sizeof v);
        value = v;
      } else if (type == SQL_BOOLEAN) {
        value = static_cast<unsigned char>(data[0]) != 0 ? 1 : 0;
      } else {
        std::memcpy(&value, data, sizeof value);
      }
      return FieldValue::Integer(value, type == SQL_BOOLEAN ? 0 : var.sqlscale, std::move(name));
    }
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
      if (is_null) return FieldValue::Null(FieldValue::Kind::Float, std::move(name));
      double value = 0;
      if (type == SQL_FLOAT) {
        float v;
        std::memcpy(&v, data, sizeof v);
        value = v;
      } else {
        std::memcpy(&value, data, sizeof value);
      }
      return FieldValue::Float(value, std::move(name));
    }
    case SQL_TYPE_DATE: {
      if (is_null) return FieldValue::Null(FieldValue::Kind::Date, std::move(name));
      ISC_DATE day;
      std::memcpy(&day, data, sizeof day);
      return FieldValue::Date(day, std::move(name));
    }
    case SQL_TYPE_TIME: {
      if (is_null) return FieldValue::Null(FieldValue::Kind::Time, std::move(name));
      ISC_TIME time;
      std::memcpy(&time, data, sizeof time);
      return FieldValue::Time(time, std::move(name));
    }
    case SQL_TIMESTAMP: {
      if (is_null) return FieldValue::Null(FieldValue::Kind::Timestamp, std::move(name));
      ISC_TIMESTAMP moment;
      std::memcpy(&moment, data, sizeof moment);
      return FieldValue::Timestamp(moment.timestamp_date, moment.timestamp_time, std::move(name));
    }
    case SQL_NULL:
      return FieldValue::Null(FieldValue::Kind::Text, std::move(name));
    default:
      Fail("O campo " + name + " tem um tipo que a aplicação não lê (" + std::to_string(type) + ")");
  }
}

// Puts `value` into `var` (described by the server) using `buffer` for its bytes.
// The variable's type is changed to the value's own: the server converts it.
void WriteVariable(XSQLVAR& var, const FieldValue& value, std::vector<char>& buffer, short& null_flag) {
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
    case FieldValue::Kind::Integer: {
      const std::int64_t unscaled = value.unscaled();
      buffer.resize(sizeof unscaled);
      std::memcpy(buffer.data(), &unscaled, sizeof unscaled);
      var.sqltype = SQL_INT64 | 1;
      var.sqllen = sizeof unscaled;
      var.sqlscale = static_cast<ISC_SHORT>(value.scale());
      var.sqlsubtype = 0;
      break;
    }
    case FieldValue::Kind::Float: {
      const double number = value.float_value();
      buffer.resize(sizeof number);
      std::memcpy(buffer.data(), &number, sizeof number);
      var.sqltype = SQL_DOUBLE | 1;
      var.sqllen = sizeof number;
      var.sqlscale = 0;
      var.sqlsubtype = 0;
      break;
    }
    case FieldValue::Kind::Date: {
      const ISC_DATE day = value.isc_date();
      buffer.resize(sizeof day);
      std::memcpy(buffer.data(), &day, sizeof day);
      var.sqltype = SQL_TYPE_DATE | 1;
      var.sqllen = sizeof day;
      var.sqlscale = 0;
      var.sqlsubtype = 0;
      break;
    }
    case FieldValue::Kind::Time: {
      const ISC_TIME time = value.isc_time();
      buffer.resize(sizeof time);
      std::memcpy(buffer.data(), &time, sizeof time);
      var.sqltype = SQL_TYPE_TIME | 1;
      var.sqllen = sizeof time;
      var.sqlscale = 0;
      var.sqlsubtype = 0;
      break;
    }
    case FieldValue::Kind::Timestamp: {
      ISC_TIMESTAMP moment{value.isc_date(), value.isc_time()};
      buffer.resize(sizeof moment);
      std::memcpy(buffer.data(), &moment, sizeof moment);
      var.sqltype = SQL_TIMESTAMP | 1;
      var.sqllen = sizeof moment;
      var.sqlscale = 0;
      var.sqlsubtype = 0;
      break;
    }
  }
  var.sqldata = buffer.data();
}

}  // namespace

void Query::SqldaDeleter::operator()(XSQLDA* sqlda) const { std::free(sqlda); }

Query::Query(Connection& connection, Transaction& transaction) : connection_(connection), transaction_(transaction) {
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

void Query::SetInteger(std::string_view param, std::int32_t value) {
  SetParam(param, FieldValue::Integer(value, 0));
}

void Query::SetText(std::string_view param, std::string_view utf8) {
  SetParam(param, utf8.empty() ? FieldValue::Null(FieldValue::Kind::Text) : FieldValue::Text(std::string(utf8)));
}

void Query::SetDate(std::string_view param, const DateTime& value) {
  SetParam(param, FieldValue::FromDateTime(FieldValue::Kind::Timestamp, value));
}

void Query::SetNull(std::string_view param) { SetParam(param, FieldValue::Null(FieldValue::Kind::Text)); }

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
    output_.reset(AllocateSqlda(16));
    const std::string text = Utf8ToLatin1(positional_.text);
    std::optional<PrepareTransaction> own;
    if (!transaction_.Active()) own.emplace(connection_);
    isc_tr_handle* transaction = own ? own->handle() : transaction_.handle();
    api.dsql_prepare(status, transaction, &statement_, 0, text.c_str(), kDialect, output_.get());
    connection_.Check(status);
    if (output_->sqld > output_->sqln) {
      output_.reset(AllocateSqlda(output_->sqld));
      api.dsql_describe(status, &statement_, kDialect, output_.get());
      connection_.Check(status);
    }
    input_.reset(AllocateSqlda(std::max<int>(1, static_cast<int>(positional_.names.size()))));
    api.dsql_describe_bind(status, &statement_, kDialect, input_.get());
    connection_.Check(status);
    if (input_->sqld > input_->sqln) {
      input_.reset(AllocateSqlda(input_->sqld));
      api.dsql_describe_bind(status, &statement_, kDialect, input_.get());
      connection_.Check(status);
    }
    input_described_.assign(input_->sqlvar, input_->sqlvar + input_->sqld);
    if (static_cast<std::size_t>(input_->sqld) != positional_.names.size()) {
      Fail("O comando tem " + std::to_string(input_->sqld) + " parâmetros, mas " +
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

    output_buffers_.assign(static_cast<std::size_t>(output_->sqld), {});
    output_nulls_.assign(static_cast<std::size_t>(output_->sqld), 0);
    for (int i = 0; i < output_->sqld; ++i) {
      XSQLVAR& var = output_->sqlvar[i];
      if (BaseType(var) == SQL_BLOB || BaseType(var) == SQL_ARRAY) {
        Fail("O campo " + ColumnName(var) + " é BLOB ou ARRAY, que a aplicação não lê");
      }
      output_buffers_[static_cast<std::size_t>(i)].assign(BufferSize(var), 0);
      var.sqldata = output_buffers_[static_cast<std::size_t>(i)].data();
      var.sqlind = &output_nulls_[static_cast<std::size_t>(i)];
    }
  } catch (...) {
    FreeStatement(DSQL_drop);
    throw;
  }
}

void Query::Unprepare() {
  Close();
  FreeStatement(DSQL_drop);
  output_.reset();
  input_.reset();
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
  input_buffers_.assign(positional_.names.size(), {});
  input_nulls_.assign(positional_.names.size(), 0);
  for (std::size_t i = 0; i < positional_.names.size(); ++i) {
    const auto found = params_.find(positional_.names[i]);
    if (found == params_.end()) Fail("O parâmetro " + positional_.names[i] + " não recebeu valor");
    XSQLVAR& var = input_->sqlvar[i];
    // Each run starts from the described type again: the run before may have put a
    // value of another kind (and length) there.
    var = input_described_[i];
    WriteVariable(var, found->second, input_buffers_[i], input_nulls_[i]);
  }
}

void Query::ExecuteStatement() {
  const FirebirdApi& api = connection_.api();
  ISC_STATUS_ARRAY status{};
  api.dsql_execute(status, transaction_.handle(), &statement_, kDialect,
                   positional_.names.empty() ? nullptr : input_.get());
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
  const ISC_STATUS result = api.dsql_fetch(status, &statement_, kDialect, output_.get());
  if (result == 100) {
    has_row_ = false;
    row_.clear();
    return;
  }
  connection_.Check(status);
  row_.clear();
  row_.reserve(static_cast<std::size_t>(output_->sqld));
  for (int i = 0; i < output_->sqld; ++i) row_.push_back(ReadVariable(output_->sqlvar[i]));
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
      throw DatabaseError("A conexão com o banco de dados caiu durante a confirmação do comando; não se sabe "
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
    if (item == isc_info_req_insert_count || item == isc_info_req_update_count ||
        item == isc_info_req_delete_count) {
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
  if (!Prepared() || !output_) return names;
  for (int i = 0; i < output_->sqld; ++i) names.push_back(ColumnName(output_->sqlvar[i]));
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
