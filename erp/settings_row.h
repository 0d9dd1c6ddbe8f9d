// The settings row: the first row of PADRAO in CODIGO order. It is read once per
// cycle (S1) and kept; each write of one column is sent at once (S2) and committed,
// and later reads see the new value.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "erp/connection.h"
#include "erp/database_error.h"
#include "erp/field_value.h"
#include "erp/query.h"
#include "erp/transaction.h"
#include "support/company_cnpj.h"
#include "support/date_time.h"

namespace zendrel {

// How often a settings write is tried when the ERP holds or changes the row meanwhile:
// `attempts` in all, each in a new transaction, the second and later ones after
// `pause`. Tests pass short pauses.
struct SettingsWritePolicy {
  int attempts = 5;
  std::chrono::milliseconds pause{1000};
};

class SettingsRow : public SettingsTextReader {
 public:
  // Told of each failed attempt that is tried again (attempt counts from 1).
  using RetryObserver = std::function<void(int attempt, const DatabaseError& error)>;

  // `read` runs S1 and the catalogue look-up; `write` runs each S2 and commits it.
  SettingsRow(Connection& connection, Transaction& read, Transaction& write, SettingsWritePolicy policy = {});

  void SetWritePolicy(SettingsWritePolicy policy) { policy_ = policy; }
  void SetRetryObserver(RetryObserver observer) { retry_observer_ = std::move(observer); }

  // Runs S1 and keeps its first row. An empty PADRAO leaves a row whose every column
  // reads as NULL.
  void Open();
  void Close();
  bool Active() const { return active_; }
  // Whether PADRAO had a row at the last Open.
  bool HasRow() const { return has_row_; }

  // The column `column` (any case) of the settings row. Throws DatabaseError when the
  // row is not open or S1 has no such column.
  FieldValue Field(std::string_view column) const;
  // Field(column).AsString(): the CNPJ read of the API calls.
  std::string ReadText(std::string_view column) const override;

  // Sets one column and sends S2 at once, committed. Sends nothing when the value is
  // unchanged (NULL to 0 is a change). An update conflict, a lock time-out, a commit
  // whose answer was lost and, without a primary key, a row that no longer matches
  // what was read (the ERP changed another column) are tried again in a new
  // transaction, following the policy, after reading the row again where that tells
  // whether the value is already stored. Throws DatabaseError when the UPDATE changes
  // other than exactly one row (the row was deleted, or two rows look alike) or the
  // database refuses it, also after the last attempt; the row then keeps its old value.
  void WriteInteger(std::string_view column, std::int32_t value);
  void WriteDateTime(std::string_view column, const DateTime& value);

  // The last S2 sent (empty before the first); for tests and diagnostics.
  const std::string& last_write_sql() const { return last_write_sql_; }

 private:
  std::size_t ColumnIndex(std::string_view column) const;
  void Write(std::size_t index, FieldValue value);
  // One UPDATE of the column at `index`, keyed on the row as last read.
  void SendWrite(std::size_t index, const FieldValue& value);
  // Whether a failed attempt is worth another one.
  bool MayTryAgain(const DatabaseError& error) const;
  // Runs S1 again and keeps its first row; false when PADRAO has no row any more.
  bool ReadRowAgain();
  const std::vector<std::string>& PrimaryKey();

  Connection& connection_;
  Transaction& read_;
  Transaction& write_;
  SettingsWritePolicy policy_;
  RetryObserver retry_observer_;
  bool active_ = false;
  bool has_row_ = false;
  std::vector<FieldValue> row_;
  std::optional<std::vector<std::string>> primary_key_;
  std::string last_write_sql_;
  // The rows the last UPDATE changed when that was other than one (else -1).
  long last_rows_affected_ = -1;
  // The UPDATEs written so far in this cycle, by text, kept prepared: a campaign
  // writes the same column once per movement, and a prepare costs round trips.
  std::map<std::string, std::unique_ptr<Query>> updates_;
};

}  // namespace zendrel
