// A poll cycle on a fresh ERP database of the real Firebird server and the fake
// platform over loopback: the fixture of the end-to-end tests of the service module.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <cctype>
#include <string_view>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "api/api_settings.h"
#include "api/testing/fake_platform.h"
#include "api/testing/fake_platform_suite.h"
#include "erp/testing/test_database.h"
#include "service/service_module.h"
#include "support/clock.h"
#include "support/log_file.h"

namespace zendrel::testing {

namespace fs = std::filesystem;
using zendrel::testing::TestDatabase;

inline constexpr const char* kCnpj = "12.345.678/0001-95";

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whether `line` starts with a log timestamp "DD/MM/YYYY HH:mm:ss - ".
inline bool StartsWithLogTimestamp(const std::string& line) {
  static constexpr std::string_view kShape = "00/00/0000 00:00:00 - ";
  if (line.size() < kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (kShape[i] == '0' ? !digit : line[i] != kShape[i]) return false;
  }
  return true;
}

// The messages of the log's entries, without their timestamps: every line that starts
// with "DD/MM/YYYY HH:mm:ss - ".
inline std::vector<std::string> LogMessages(const fs::path& path) {
  std::vector<std::string> messages;
  std::istringstream lines(ReadFile(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (StartsWithLogTimestamp(line)) messages.push_back(line.substr(22));
  }
  return messages;
}

inline std::vector<RecordedRequest> Only(const std::vector<RecordedRequest>& all, const std::string& method,
                                         const std::string& path) {
  std::vector<RecordedRequest> chosen;
  for (const RecordedRequest& r : all) {
    if (r.method == method && r.path == path) chosen.push_back(r);
  }
  return chosen;
}

// The value of one form field of a posting's body.
inline std::string FormField(const std::string& body, const std::string& name) {
  const std::string key = name + "=";
  std::size_t at = body.rfind(key, 0) == 0 ? 0 : body.find("&" + key);
  if (at == std::string::npos) return "<none>";
  if (at != 0) ++at;
  at += key.size();
  const std::size_t end = body.find('&', at);
  return body.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

class PollCycle : public FakePlatformSuite {
 protected:
  PollCycle()
      : clock_(DateTime{2026, 12, 10, 9, 30, 0, 0}),
        log_path_(fs::temp_directory_path() / fmt::format("zendrel-cycle-{}-{}.log", ::getpid(), counter_++)),
        log_redirect_(log_path_, clock_),
        api_scope_(ShortTimeouts(clock_)) {
    platform_->Reset();
    loop_ = CreateMainLoop();
  }

  ~PollCycle() override {
    module_.reset();
    std::error_code ignored;
    fs::remove(log_path_, ignored);
  }

  static ApiSettings ShortTimeouts(const Clock& clock) {
    ApiSettings settings;
    settings.clock = &clock;
    // No cycle test waits for a time-out; these only keep a loaded machine from
    // turning a slow answer into a failure.
    settings.timeouts = HttpTimeouts{10000, 10000, 10000, 10000};
    return settings;
  }

  // A database with one settings row: points on, top sales off, both campaigns aimed at
  // the fake platform, products refreshed today.
  void CreateDatabase(const std::string& extra_settings = "") {
    db_ = std::make_unique<TestDatabase>();
    db_->Execute(fmt::format(
        "INSERT INTO PADRAO (CODIGO, CGC, BRINDEXWEBSERVICE, BRINDEX_ATIVARPONTUACAO, BRINDEX_ATIVARTOPVENDA, "
        "BRINDEX_WEBSERVICETOPVENDAS, BRINDEX_ULTIMOENVIOTOPVENDA, BRINDEX_ULTIMODOWNLODPRODUTOS) "
        "VALUES (1, '{}', '{}', 'Y', 'N', '{}/', 0, '2026-12-10 00:00:00')",
        kCnpj, platform_->BaseUrl(), platform_->BaseUrl()));
    if (!extra_settings.empty()) SetPadrao(extra_settings);
    CreateModule(db_->settings_folder());
  }

  void CreateModule(const fs::path& settings_folder) {
    ModuleSettings settings;
    settings.settings_folder = settings_folder;
    settings.clock = &clock_;
    settings.erp.reconnect.pause = std::chrono::milliseconds(50);
    settings.erp.pending_lock_timeout = pending_lock_timeout_;
    settings.at_cycle_start = at_cycle_start_;
    module_ = std::make_unique<TSrvZendrel>(*loop_, settings);
  }

  void SetPadrao(const std::string& assignments) { db_->Execute("UPDATE PADRAO SET " + assignments); }

  void InsertPontos(int movimento, const std::string& tipo, int identificacao, const std::string& valor,
                    const std::string& cpf = "111.222.333-96", const std::string& data = "2026-12-01") {
    db_->Execute(fmt::format(
        "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, CARTAO, NOME, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR, DATA) "
        "VALUES ({}, '{}', '5001', 'Cliente', '{}', {}, {}, '{}')",
        movimento, cpf, tipo, identificacao, valor, data));
  }

  // Keeps every committed value of the points send index, in order.
  void RecordIndexWrites() {
    db_->Execute("CREATE TABLE INDEX_WRITES (ID INTEGER, VALOR INTEGER)");
    db_->Execute("CREATE SEQUENCE GEN_INDEX_WRITES");
    db_->Execute(
        "CREATE TRIGGER PADRAO_AU FOR PADRAO AFTER UPDATE AS BEGIN "
        "IF (NEW.BRINDEX_ULTIMOENVIO IS DISTINCT FROM OLD.BRINDEX_ULTIMOENVIO) THEN "
        "INSERT INTO INDEX_WRITES VALUES (NEXT VALUE FOR GEN_INDEX_WRITES, NEW.BRINDEX_ULTIMOENVIO); END");
  }

  std::vector<std::int64_t> IndexWrites() const {
    std::vector<std::int64_t> values;
    for (const auto& row : db_->Select("SELECT VALOR FROM INDEX_WRITES ORDER BY ID")) {
      values.push_back(row.at(0).AsInteger());
    }
    return values;
  }

  void InsertFuncionario(int codigo, const std::string& cpf_sql) {
    db_->Execute(fmt::format("INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES ({}, 'Vendedor {}', {})", codigo,
                             codigo, cpf_sql));
  }

  void InsertVenda(int sequencial, const std::string& data, int atendente, const std::string& produto,
                   const std::string& cancelamento_sql = "NULL") {
    db_->Execute(
        fmt::format("INSERT INTO VENDAS (SEQUENCIAL, DATA, HORA, ATENDENTE, CODIGOPRODUTO, QUANTIDADE, CANCELAMENTO) "
                    "VALUES ({}, '{}', '10:15:00', {}, '{}', 2, {})",
                    sequencial, data, atendente, produto, cancelamento_sql));
  }

  void InsertMovTopVendas(int sequencial, const std::string& data, const std::string& hora, int vendedor,
                          const std::string& produto, const std::string& quantidade, int codigo,
                          const std::string& tipo = "V") {
    db_->Execute(fmt::format(
        "INSERT INTO BRINDEX_MOV_TOPVENDAS (SEQUENCIAL, DATA, HORA, TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE, "
        "CODIGOMOVIMENTO) VALUES ({}, '{}', '{}', '{}', {}, '{}', {}, {})",
        sequencial, data, hora, tipo, vendedor, produto, quantidade, codigo));
  }

  // The top-sales campaign alone, with two salespeople and one campaign product.
  void CreateTopSalesDatabase(const std::string& extra_settings = "") {
    CreateDatabase("BRINDEX_ATIVARPONTUACAO = 'N', BRINDEX_ATIVARTOPVENDA = 'Y'" +
                   (extra_settings.empty() ? std::string() : ", " + extra_settings));
    InsertFuncionario(1, "'123.456.789-09'");
    InsertFuncionario(2, "'987.654.321-00'");
    InsertFuncionario(3, "''");
    db_->Execute("INSERT INTO BRINDEX_PROD_TOPVENDAS (CODIGOPRODUTO, DESCRICAO) VALUES ('789', 'CAFE')");
  }

  std::vector<std::string> Rows(const std::string& sql) const {
    std::vector<std::string> rows;
    for (const auto& row : db_->Select(sql)) {
      std::string text;
      for (const FieldValue& field : row) text += (text.empty() ? "" : "|") + field.AsString();
      rows.push_back(text);
    }
    return rows;
  }

  std::optional<std::int64_t> PontosIndex() const {
    return db_->SelectInteger("SELECT BRINDEX_ULTIMOENVIO FROM PADRAO");
  }
  std::optional<std::int64_t> TopVendasIndex() const {
    return db_->SelectInteger("SELECT BRINDEX_ULTIMOENVIOTOPVENDA FROM PADRAO");
  }

  std::vector<RecordedRequest> Postings() const { return Only(platform_->Requests(), "POST", "/v1/lancador"); }

  std::vector<std::string> Log() const { return LogMessages(log_path_); }

  // Runs one tick's work; true when no exception left it.
  bool RunCycle() {
    bool ok = true;
    try {
      module_->Timer1Timer();
    } catch (const std::exception& e) {
      ok = false;
      last_error_ = e.what();
    }
    ExpectCleanState();
    return ok;
  }

  // What every cycle leaves behind, whatever happened in it.
  void ExpectCleanState() const {
    EXPECT_FALSE(module_->erp.TRComandos.Active());
    EXPECT_FALSE(module_->erp.Connquimero.Connected());
    EXPECT_TRUE(module_->Timer1->Enabled());
    EXPECT_EQ(module_->Timer1->Interval(), std::chrono::milliseconds(900000));
  }

  static inline int counter_ = 0;

  FixedClock clock_;
  fs::path log_path_;
  LogRedirect log_redirect_;
  ScopedApiSettings api_scope_;
  std::unique_ptr<MainLoop> loop_;
  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<TSrvZendrel> module_;
  std::string last_error_;
  // How long a cycle waits for a till's uncommitted movement: long enough that a till
  // acting on a loaded machine is still waited for; tests of the time-out shorten it.
  std::chrono::seconds pending_lock_timeout_{30};
  // Runs at the start of every cycle of a module created after it is set.
  std::function<void()> at_cycle_start_;
};

}  // namespace zendrel::testing
