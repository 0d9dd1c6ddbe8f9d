// Test databases on the local server.
#include "erp/testing/test_database.h"

#include <fmt/format.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "erp/database_error.h"
#include "erp/query.h"
#include "erp/site_settings.h"
#include "erp/testing/sql_script.h"
#include "erp/transaction.h"
#include "support/text_codec.h"

namespace zendrel::testing {
namespace {

std::string AttachParameters() {
  std::string dpb;
  dpb += static_cast<char>(isc_dpb_version1);
  const auto add = [&dpb](char tag, std::string_view value) {
    dpb += tag;
    dpb += static_cast<char>(value.size());
    dpb.append(value);
  };
  add(isc_dpb_user_name, kTestUser);
  add(isc_dpb_password, kTestPassword);
  add(isc_dpb_lc_ctype, "ISO8859_1");
  return dpb;
}

std::string UniqueName() {
  static std::atomic<int> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return fmt::format("zendrel-test-{}-{}-{}.fdb", getpid(), counter++, ticks % 1000000007);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) throw std::runtime_error("cannot read " + path.string());
  return std::string((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
}

// The script that runs the server the tests use: the Firebird 3 one unless the tests
// run against another server (ZENDREL_FIREBIRD_SCRIPT, set by scripts/firebird4.sh run).
bool RunFirebirdScript(const char* action) {
  const char* other = std::getenv("ZENDREL_FIREBIRD_SCRIPT");
  const std::string script = other != nullptr && *other != '\0'
                                 ? std::string(other)
                                 : fmt::format("{}/scripts/firebird.sh", ZENDREL_SOURCE_DIR);
  const std::string command = fmt::format("bash '{}' {} >/dev/null 2>&1", script, action);
  return std::system(command.c_str()) == 0;
}

}  // namespace

std::filesystem::path TestDatabaseFolder() {
  static const std::filesystem::path folder = [] {
    const std::filesystem::path path = "/tmp/zendrel-firebird/db";
    std::filesystem::create_directories(path);
    // The server runs as "firebird": it must own the folder to create files there.
    if (const passwd* account = getpwnam("firebird"); account != nullptr) {
      if (chown(path.c_str(), account->pw_uid, account->pw_gid) != 0 ||
          chown(path.parent_path().c_str(), account->pw_uid, account->pw_gid) != 0) {
        // Not root: the folder must then already be usable by the server.
      }
    }
    chmod(path.c_str(), 0770);
    return path;
  }();
  return folder;
}

std::filesystem::path FixturePath(std::string_view file_name) {
  return std::filesystem::path(ZENDREL_SOURCE_DIR) / "erp" / "testing" / std::string(file_name);
}

SqlSession::SqlSession(const std::string& target) : api_(LoadFirebirdClient(DefaultFirebirdClientName())) {
  const std::string dpb = AttachParameters();
  ISC_STATUS_ARRAY status{};
  api_->attach_database(status, static_cast<short>(target.size()), target.c_str(), &database_,
                        static_cast<short>(dpb.size()), dpb.data());
  CheckStatus(*api_, status);
}

SqlSession::~SqlSession() {
  ISC_STATUS_ARRAY status{};
  if (transaction_ != 0) api_->rollback_transaction(status, &transaction_);
  if (database_ != 0) api_->detach_database(status, &database_);
}

void SqlSession::Begin() {
  static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                             isc_tpb_nowait};
  struct {
    isc_db_handle* database;
    int length;
    const char* tpb;
  } teb{&database_, sizeof tpb, tpb};
  ISC_STATUS_ARRAY status{};
  api_->start_multiple(status, &transaction_, 1, &teb);
  CheckStatus(*api_, status);
}

void SqlSession::Execute(std::string_view sql) {
  if (transaction_ == 0) Begin();
  const std::string text = Utf8ToLatin1(sql);
  ISC_STATUS_ARRAY status{};
  api_->dsql_execute_immediate(status, &database_, &transaction_, 0, text.c_str(), 3, nullptr);
  CheckStatus(*api_, status);
}

void SqlSession::Commit() {
  if (transaction_ == 0) return;
  ISC_STATUS_ARRAY status{};
  api_->commit_transaction(status, &transaction_);
  CheckStatus(*api_, status);
}

void SqlSession::Rollback() {
  if (transaction_ == 0) return;
  ISC_STATUS_ARRAY status{};
  api_->rollback_transaction(status, &transaction_);
  CheckStatus(*api_, status);
}

TestDatabase::TestDatabase() : TestDatabase(Options{}) {}

TestDatabase::TestDatabase(Options options) {
  path_ = (TestDatabaseFolder() / UniqueName()).string();
  auto api = LoadFirebirdClient(DefaultFirebirdClientName());
  // Created over TCP, so that the file belongs to the server's user.
  const std::string create =
      fmt::format("CREATE DATABASE '{}' USER '{}' PASSWORD '{}' PAGE_SIZE 8192 DEFAULT CHARACTER SET ISO8859_1",
                  target(), kTestUser, kTestPassword);
  ISC_STATUS_ARRAY status{};
  isc_db_handle database = 0;
  isc_tr_handle transaction = 0;
  api->dsql_execute_immediate(status, &database, &transaction, 0, create.c_str(), 3, nullptr);
  CheckStatus(*api, status);
  api->detach_database(status, &database);

  settings_folder_ =
      std::filesystem::temp_directory_path() / std::filesystem::path(UniqueName()).replace_extension(".settings");
  std::filesystem::create_directories(settings_folder_);
  std::ofstream(settings_folder_ / "Tarvix.ini")
      << "[Tarvix]\r\nServidor=" << kTestServer << "\r\nCaminho=" << path_ << "\r\n";
  try {
    RunScript(ReadFile(FixturePath("erp_schema.sql")));
    if (!options.padrao_primary_key) Execute("ALTER TABLE PADRAO DROP CONSTRAINT PK_PADRAO");
    if (options.demo_data) RunScript(ReadFile(FixturePath("erp_demo_data.sql")));
  } catch (...) {
    Drop();
    throw;
  }
}

TestDatabase::~TestDatabase() { Drop(); }

std::string TestDatabase::target() const { return fmt::format("{}/3050:{}", kTestServer, path_); }

void TestDatabase::ConfigureConnection(Connection& connection) const {
  CarregarParametrosConexao(connection, kTestUser, kTestPassword, settings_folder_);
}

void TestDatabase::Execute(std::string_view sql) const {
  SqlSession session(target());
  session.Execute(sql);
  session.Commit();
}

void TestDatabase::RunScript(std::string_view script) const {
  SqlSession session(target());
  for (const std::string& statement : SplitSqlScript(script)) {
    if (AsciiUpper(statement) == "COMMIT") {
      session.Commit();
      continue;
    }
    session.Execute(statement);
    // Data definitions must be committed before the next statement can use them.
    session.Commit();
  }
  session.Commit();
}

std::unique_ptr<SqlSession> TestDatabase::OpenSession() const { return std::make_unique<SqlSession>(target()); }

std::vector<std::vector<FieldValue>> TestDatabase::Select(std::string_view sql) const {
  Connection connection;
  ConfigureConnection(connection);
  connection.Connect();
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL(std::string(sql));
  std::vector<std::vector<FieldValue>> rows;
  for (query.Open(); !query.Eof(); query.Next()) rows.push_back(query.Row());
  query.Close();
  return rows;
}

std::optional<std::int64_t> TestDatabase::SelectInteger(std::string_view sql) const {
  const auto rows = Select(sql);
  if (rows.empty() || rows.front().empty() || rows.front().front().IsNull()) return std::nullopt;
  const FieldValue& value = rows.front().front();
  if (value.kind() == FieldValue::Kind::Integer && value.scale() == 0) return value.unscaled();
  return value.AsInteger();
}

std::optional<std::string> TestDatabase::SelectText(std::string_view sql) const {
  const auto rows = Select(sql);
  if (rows.empty() || rows.front().empty() || rows.front().front().is_sql_null()) return std::nullopt;
  return rows.front().front().AsString();
}

bool TestDatabase::AnotherAttachmentIsRunningOn(std::string_view table) const {
  const auto running = SelectInteger(
      "SELECT COUNT(*) FROM MON$STATEMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND MON$STATE = 1 "
      "AND MON$SQL_TEXT CONTAINING '" +
      std::string(table) + "'");
  return running.value_or(0) > 0;
}

bool TestDatabase::AnotherAttachmentHasReadWithoutInserting(std::string_view table) const {
  // Group 1 of the statistics is an attachment's.
  const auto readers =
      SelectInteger(fmt::format("SELECT COUNT(*) FROM MON$ATTACHMENTS A "
                                "JOIN MON$TABLE_STATS S ON S.MON$STAT_ID = A.MON$STAT_ID AND S.MON$STAT_GROUP = 1 "
                                "JOIN MON$RECORD_STATS R ON R.MON$STAT_ID = S.MON$RECORD_STAT_ID "
                                "WHERE A.MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND S.MON$TABLE_NAME = '{}' "
                                "AND R.MON$RECORD_SEQ_READS + R.MON$RECORD_IDX_READS > 0 AND R.MON$RECORD_INSERTS = 0",
                                table));
  return readers.value_or(0) > 0;
}

void TestDatabase::KillOtherAttachments() const {
  SqlSession session(target());
  session.Execute("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND MON$SYSTEM_FLAG = 0");
  session.Commit();
}

void TestDatabase::Drop() noexcept {
  try {
    KillOtherAttachments();
    auto api = LoadFirebirdClient(DefaultFirebirdClientName());
    const std::string dpb = AttachParameters();
    const std::string where = target();
    ISC_STATUS_ARRAY status{};
    isc_db_handle database = 0;
    api->attach_database(status, static_cast<short>(where.size()), where.c_str(), &database,
                         static_cast<short>(dpb.size()), dpb.data());
    if (database != 0) api->drop_database(status, &database);
  } catch (...) {
    // A database left behind costs disk space only; the test's own result stands.
  }
  std::error_code ignored;
  if (!settings_folder_.empty()) std::filesystem::remove_all(settings_folder_, ignored);
}

bool StopFirebirdServer() { return RunFirebirdScript("stop"); }
bool StartFirebirdServer() { return RunFirebirdScript("start"); }

}  // namespace zendrel::testing
