// Fresh ERP databases on the local Firebird server for tests: each TestDatabase
// creates its own database from the fixture schema under a unique name, gives a
// settings folder whose Tarvix.ini points at it, and drops it at the end, so that
// test programs can run side by side.
#pragma once

#include <ibase.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "erp/connection.h"
#include "erp/field_value.h"
#include "erp/firebird_client.h"

namespace zendrel::testing {

// The test server's address and account.
inline constexpr const char* kTestServer = "localhost";
inline constexpr const char* kTestUser = "SYSDBA";
inline constexpr const char* kTestPassword = "gravulent";

// The folder where test databases live: owned by the server's user, mode 0770.
std::filesystem::path TestDatabaseFolder();

// The fixture files of the repository (erp/testing/erp_schema.sql, erp_demo_data.sql).
std::filesystem::path FixturePath(std::string_view file_name);

// A second attachment of its own (a till of the ERP, or an administrator), with one
// explicit transaction that it starts when a statement needs it.
class SqlSession {
 public:
  // Attaches to `target` ("localhost/3050:/path/x.fdb") on the ISO8859_1 character set.
  explicit SqlSession(const std::string& target);
  ~SqlSession();  // rolls back what is open, detaches
  SqlSession(const SqlSession&) = delete;
  SqlSession& operator=(const SqlSession&) = delete;

  // Runs one statement (UTF-8 text; PSQL allowed) in the session's transaction,
  // left open for Commit or Rollback. Throws DatabaseError.
  void Execute(std::string_view sql);
  void Commit();
  void Rollback();
  bool InTransaction() const { return transaction_ != 0; }

 private:
  void Begin();

  std::shared_ptr<const FirebirdApi> api_;
  isc_db_handle database_ = 0;
  isc_tr_handle transaction_ = 0;
};

class TestDatabase {
 public:
  struct Options {
    // PADRAO with its primary key on CODIGO; false: PADRAO without any key.
    bool padrao_primary_key = true;
    // Also loads erp_demo_data.sql.
    bool demo_data = false;
  };

  TestDatabase();
  explicit TestDatabase(Options options);
  ~TestDatabase();  // drops the database (ending other attachments first) and the folder
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // The database file as the server knows it ("Caminho").
  const std::string& path() const { return path_; }
  // Server/3050:path, for a SqlSession.
  std::string target() const;
  // A fresh folder holding a Tarvix.ini with Servidor=localhost and Caminho=path();
  // stands in for the executable's folder.
  const std::filesystem::path& settings_folder() const { return settings_folder_; }

  // Fills the connection's parameters for this database as the poll cycle does
  // (CarregarParametrosConexao with SYSDBA and the test password).
  void ConfigureConnection(Connection& connection) const;

  // Runs one statement and commits it, on an attachment of its own.
  void Execute(std::string_view sql) const;
  // Runs every statement of an isql-style script (COMMIT lines commit), committed.
  void RunScript(std::string_view script) const;
  // A new second attachment (a till writing at the same time as the service).
  std::unique_ptr<SqlSession> OpenSession() const;

  // The rows of a SELECT, read in a transaction of their own.
  std::vector<std::vector<FieldValue>> Select(std::string_view sql) const;
  // The first column of the first row (nothing when no row, or NULL).
  std::optional<std::int64_t> SelectInteger(std::string_view sql) const;
  std::optional<std::string> SelectText(std::string_view sql) const;

  // Whether another attachment is running a statement that names `table` right now
  // (for instance a read waiting for a till's uncommitted row). Each call reads the
  // monitoring tables in a transaction of its own, so it sees a fresh snapshot.
  bool AnotherAttachmentIsRunningOn(std::string_view table) const;
  // Whether another attachment has read rows of `table` without inserting into it (a
  // reader, not a till). The counts are the attachment's own and only grow while it
  // lives, so unlike a running statement this cannot be missed between two looks.
  bool AnotherAttachmentHasReadWithoutInserting(std::string_view table) const;

  // Ends every other user attachment of the database, as an administrator does with
  // DELETE FROM MON$ATTACHMENTS.
  void KillOtherAttachments() const;

 private:
  void Drop() noexcept;

  std::string path_;
  std::filesystem::path settings_folder_;
};

// Stops / starts the local server with the repository's scripts/firebird.sh (or the
// script ZENDREL_FIREBIRD_SCRIPT names).
// Returns whether the script succeeded.
bool StopFirebirdServer();
bool StartFirebirdServer();

}  // namespace zendrel::testing
