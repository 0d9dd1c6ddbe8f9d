// The poll cycle end to end: movements written into a real Firebird database reach the
// fake platform over loopback, in order, and the send indexes move exactly as far as the
// platform accepted.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "api/api_settings.h"
#include "api/testing/fake_platform.h"
#include "erp/testing/test_database.h"
#include "service/service_module.h"
#include "support/clock.h"
#include "support/log_file.h"

namespace zendrel {
namespace {

namespace fs = std::filesystem;
using testing::TestDatabase;

constexpr const char* kCnpj = "12.345.678/0001-95";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The messages of the log's entries, without their timestamps: every line that starts
// with "DD/MM/YYYY HH:mm:ss - ".
std::vector<std::string> LogMessages(const fs::path& path) {
  static const std::regex entry(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - (.*)$)");
  std::vector<std::string> messages;
  std::istringstream lines(ReadFile(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch match;
    if (std::regex_match(line, match, entry)) messages.push_back(match[1]);
  }
  return messages;
}

std::vector<RecordedRequest> Only(const std::vector<RecordedRequest>& all, const std::string& method,
                                  const std::string& path) {
  std::vector<RecordedRequest> chosen;
  for (const RecordedRequest& r : all) {
    if (r.method == method && r.path == path) chosen.push_back(r);
  }
  return chosen;
}

// The value of one form field of a posting's body.
std::string FormField(const std::string& body, const std::string& name) {
  const std::string key = name + "=";
  std::size_t at = body.rfind(key, 0) == 0 ? 0 : body.find("&" + key);
  if (at == std::string::npos) return "<none>";
  if (at != 0) ++at;
  at += key.size();
  const std::size_t end = body.find('&', at);
  return body.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

class PollCycle : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform_ = new FakePlatform();
    platform_->Start();
  }
  static void TearDownTestSuite() {
    delete platform_;
    platform_ = nullptr;
  }

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
    settings.timeouts = HttpTimeouts{2000, 2000, 2000, 2000};
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
    settings.erp.pending_lock_timeout = std::chrono::seconds(2);
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

  static FakePlatform* platform_;
  static inline int counter_ = 0;

  FixedClock clock_;
  fs::path log_path_;
  LogRedirect log_redirect_;
  ScopedApiSettings api_scope_;
  std::unique_ptr<MainLoop> loop_;
  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<TSrvZendrel> module_;
  std::string last_error_;
};

FakePlatform* PollCycle::platform_ = nullptr;

// ---- Whether to work at all, and the connection ----

TEST_F(PollCycle, OnAnotherMachineNothingIsAttemptedAndNothingLogged) {
  const fs::path folder = fs::temp_directory_path() / fmt::format("zendrel-other-{}", ::getpid());
  fs::create_directories(folder);
  std::ofstream(folder / "Tarvix.ini") << "[Tarvix]\r\nServidor=database-server.invalid\r\nCaminho=/nowhere.fdb\r\n";
  CreateModule(folder);
  EXPECT_TRUE(RunCycle());
  EXPECT_FALSE(fs::exists(log_path_));
  EXPECT_TRUE(platform_->Requests().empty());
  fs::remove_all(folder);
}

TEST_F(PollCycle, SecondPasswordAcceptedRunsNormally) {
  // The test server knows only the second password: every cycle goes through the fallback.
  CreateDatabase();
  InsertPontos(1, "VV", 501, "10");
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Postings().size(), 1u);
  EXPECT_EQ(PontosIndex(), 1);
  EXPECT_FALSE(fs::exists(log_path_));
}

TEST_F(PollCycle, BothPasswordsRefusedLogsOneLinePerCycle) {
  const fs::path folder = fs::temp_directory_path() / fmt::format("zendrel-nodb-{}", ::getpid());
  fs::create_directories(folder);
  std::ofstream(folder / "Tarvix.ini") << "[Tarvix]\r\nServidor=localhost\r\nCaminho=/tmp/zendrel-no-such-db.fdb\r\n";
  CreateModule(folder);
  EXPECT_TRUE(RunCycle());
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Log(), (std::vector<std::string>{"Falha na conexão com o banco de dados!!!",
                                             "Falha na conexão com o banco de dados!!!"}));
  EXPECT_TRUE(platform_->Requests().empty());
  fs::remove_all(folder);
}

// ---- Points ----

TEST_F(PollCycle, EmptyPointsTableMakesNoRequestAtAll) {
  CreateDatabase();
  EXPECT_TRUE(RunCycle());
  EXPECT_TRUE(platform_->Requests().empty());
}

TEST_F(PollCycle, IndexMinusOneOnlyAsksAboutAReset) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = -1");
  InsertPontos(1, "VV", 501, "10");
  EXPECT_TRUE(RunCycle());
  const auto requests = platform_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].path, "/v1/reset");
  EXPECT_EQ(PontosIndex(), -1);
}

TEST_F(PollCycle, AcceptedMovementsAndVpMoveTheIndexOneCommitEach) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
  RecordIndexWrites();
  InsertPontos(99, "VV", 499, "1");  // already sent
  InsertPontos(101, "VV", 601, "12.34", "111.222.333-96");
  InsertPontos(102, "VP", 602, "5");
  InsertPontos(103, "RC", 603, "-7.5", "444.555.666-01");
  EXPECT_TRUE(RunCycle());

  const auto postings = Postings();
  ASSERT_EQ(postings.size(), 2u);
  EXPECT_EQ(postings[0].body,
            "cpf=11122233396&legado=601&ponto=12.34&dtocorrencia=2026-12-10 09:30:00&tipo=0&cnpj=12345678000195"
            "&versao=quimero9.0");
  EXPECT_EQ(FormField(postings[1].body, "legado"), "603");
  EXPECT_EQ(FormField(postings[1].body, "tipo"), "1");
  EXPECT_EQ(FormField(postings[1].body, "ponto"), "-7.50");
  EXPECT_EQ(IndexWrites(), (std::vector<std::int64_t>{101, 102, 103}));
  EXPECT_EQ(PontosIndex(), 103);
  // The reset question came first.
  EXPECT_EQ(platform_->Requests().front().path, "/v1/reset");
}

TEST_F(PollCycle, ARefusalStopsTheCampaignBeforeThatMovement) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
  InsertPontos(101, "VV", 601, "10");
  InsertPontos(102, "VV", 602, "10");
  InsertPontos(103, "VV", 603, "10");
  platform_->Script("POST", "/v1/lancador",
                    {ScriptedReply::Json(200, "{}"), ScriptedReply::Json(400, R"({"errors":["CPF inválido"]})")});
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Postings().size(), 2u);
  EXPECT_EQ(PontosIndex(), 101);
  EXPECT_EQ(Log(), std::vector<std::string>{"MovimentoPontos: CPF inválido"});

  // The next cycle starts with the refused movement.
  platform_->Reset();
  EXPECT_TRUE(RunCycle());
  const auto postings = Postings();
  ASSERT_EQ(postings.size(), 2u);
  EXPECT_EQ(FormField(postings[0].body, "legado"), "602");
  EXPECT_EQ(FormField(postings[1].body, "legado"), "603");
  EXPECT_EQ(PontosIndex(), 103);
}

TEST_F(PollCycle, OnlyStatus200IsAcceptance) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
  InsertPontos(101, "VV", 601, "10");
  InsertPontos(102, "VV", 602, "10");
  platform_->Script("POST", "/v1/lancador", {ScriptedReply::Json(201, "{}")});
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Postings().size(), 1u);
  EXPECT_EQ(PontosIndex(), 100);
  EXPECT_EQ(Log(), std::vector<std::string>{"MovimentoPontos: "});
}

// A code that is none of the ERP's movement kinds (lower-case "vp" among them) is not
// passed over: it stops the campaign and says why, with the index before it.
TEST_F(PollCycle, AnUnknownMovementCodeIsLoggedAndStopsTheCampaign) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
  InsertPontos(101, "vp", 601, "10");
  InsertPontos(102, "VV", 602, "10");
  EXPECT_TRUE(RunCycle());
  EXPECT_TRUE(Postings().empty());
  EXPECT_EQ(PontosIndex(), 100);
  const auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("MovimentoPontos: ", 0), 0u) << log[0];
  EXPECT_NE(log[0].find("'vp'"), std::string::npos) << log[0];
}

// ---- Remote reset of the points campaign ----

TEST_F(PollCycle, PointsResetBeforeTheFirstMovementResendsEverything) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 103");
  InsertPontos(101, "VV", 601, "10", "111.222.333-96", "2026-11-20");
  InsertPontos(102, "VV", 602, "10", "111.222.333-96", "2026-11-21");
  InsertPontos(103, "VV", 603, "10", "111.222.333-96", "2026-11-22");
  platform_->Script("GET", "/v1/reset",
                    {ScriptedReply::Json(200, R"([{"data":"2026-11-01T10:00:00","uri":" r-1 "}])"),
                     ScriptedReply::Json(200, "[]")});
  EXPECT_TRUE(RunCycle());
  const auto acks = Only(platform_->Requests(), "POST", "/v1/reset");
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0].body, "cnpj=12345678000195&uri= r-1 ");
  EXPECT_EQ(Postings().size(), 3u);
  EXPECT_EQ(PontosIndex(), 103);
}

TEST_F(PollCycle, PointsResetRewindsToTheLastMovementBeforeItsDay) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 103");
  InsertPontos(101, "VV", 601, "10", "111.222.333-96", "2026-11-20");
  InsertPontos(102, "VV", 602, "10", "111.222.333-96", "2026-11-21");
  InsertPontos(103, "VV", 603, "10", "111.222.333-96", "2026-11-22");
  platform_->Script("GET", "/v1/reset", {ScriptedReply::Json(200, R"([{"data":"2026-11-21","uri":"r-2"}])")});
  platform_->Script("POST", "/v1/lancador", {ScriptedReply::Json(400, R"({"errors":["parar"]})")});
  EXPECT_TRUE(RunCycle());
  // Rewound to 101; 102 was posted and refused.
  EXPECT_EQ(PontosIndex(), 101);
  ASSERT_EQ(Postings().size(), 1u);
  EXPECT_EQ(FormField(Postings()[0].body, "legado"), "602");
}

TEST_F(PollCycle, AResetAcknowledgementNotAnswered202ChangesNothing) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 103");
  InsertPontos(103, "VV", 603, "10", "111.222.333-96", "2026-11-22");
  platform_->Script("GET", "/v1/reset", {ScriptedReply::Json(200, R"([{"data":"2026-11-01","uri":"r-3"}])")});
  platform_->Script("POST", "/v1/reset", {ScriptedReply::Json(200, "{}")});
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(PontosIndex(), 103);
  EXPECT_TRUE(Postings().empty());
}

TEST_F(PollCycle, AResetIdentifierOfBlanksIsNoReset) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 103");
  InsertPontos(103, "VV", 603, "10");
  platform_->Script("GET", "/v1/reset", {ScriptedReply::Json(200, R"([{"data":"2026-11-01","uri":"   "}])")});
  EXPECT_TRUE(RunCycle());
  EXPECT_TRUE(Only(platform_->Requests(), "POST", "/v1/reset").empty());
  EXPECT_EQ(PontosIndex(), 103);
}

// ---- Switches and order ----

TEST_F(PollCycle, BothCampaignsOnRunPointsBeforeTopSales) {
  CreateDatabase("BRINDEX_ATIVARTOPVENDA = 'Y'");
  InsertPontos(1, "VV", 501, "10");
  EXPECT_TRUE(RunCycle());
  const auto requests = platform_->Requests();
  ASSERT_GE(requests.size(), 3u);
  // Points: reset question and posting; then top sales' own reset question.
  EXPECT_EQ(requests[0].path, "/v1/reset");
  EXPECT_EQ(requests[1].path, "/v1/lancador");
  EXPECT_EQ(requests[2].path, "/v1/reset");
}

TEST_F(PollCycle, SwitchValuesOtherThanExactlyYLeaveTheCampaignOff) {
  for (const std::string value : {"'y'", "'N'", "NULL", "''"}) {
    SCOPED_TRACE(value);
    platform_->Reset();
    CreateDatabase(fmt::format("BRINDEX_ATIVARPONTUACAO = {}, BRINDEX_ATIVARTOPVENDA = {}", value, value));
    InsertPontos(1, "VV", 501, "10");
    EXPECT_TRUE(RunCycle());
    EXPECT_TRUE(platform_->Requests().empty());
    module_.reset();
  }
}

TEST_F(PollCycle, AnEmptySettingsTableSendsNothingAndLogsNothing) {
  CreateDatabase();
  db_->Execute("DELETE FROM PADRAO");
  InsertPontos(1, "VV", 501, "10");
  EXPECT_TRUE(RunCycle());
  EXPECT_TRUE(platform_->Requests().empty());
  EXPECT_FALSE(fs::exists(log_path_));
}

// A failure in the middle of a campaign leaves the cycle as an exception, after the
// cleanup: no command transaction, no connection, the timer on again.
TEST_F(PollCycle, AnExceptionMidCampaignStillCleansUp) {
  CreateDatabase("BRINDEX_ATIVARPONTUACAO = 'N', BRINDEX_ATIVARTOPVENDA = 'Y', BRINDEX_ULTIMOENVIOTOPVENDA = NULL");
  // The rebuild's insert fails: the table it copies from is gone.
  db_->Execute("DROP TABLE VENDAS");
  EXPECT_FALSE(RunCycle());
  EXPECT_FALSE(last_error_.empty());
  EXPECT_FALSE(TopVendasIndex().has_value());
}

TEST_F(PollCycle, ASettingsRowThatCannotBeReadEndsTheCycleAsAnException) {
  CreateDatabase();
  db_->Execute("ALTER TABLE PADRAO DROP BRINDEX_WEBSERVICETOPVENDAS");
  EXPECT_FALSE(RunCycle());
  EXPECT_NE(last_error_.find("BRINDEX_WEBSERVICETOPVENDAS"), std::string::npos) << last_error_;
}

}  // namespace
}  // namespace zendrel
