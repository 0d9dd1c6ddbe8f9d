// The poll cycle end to end: movements written into a real Firebird database reach the
// fake platform over loopback, in order, and the send indexes move exactly as far as the
// platform accepted.
#include "service/testing/poll_cycle_fixture.h"

namespace zendrel::testing {
namespace {

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
  platform_->Script(
      "GET", "/v1/reset",
      {ScriptedReply::Json(200, R"([{"data":"2026-11-01T10:00:00","uri":" r-1 "}])"), ScriptedReply::Json(200, "[]")});
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

// ---- Top sales ----

TEST_F(PollCycle, TopSalesFirstRunRebuildsFromTodayWritesZeroAndSends) {
  CreateTopSalesDatabase("BRINDEX_ULTIMOENVIOTOPVENDA = NULL");
  InsertMovTopVendas(5, "2026-01-01", "08:00:00", 1, "789", "1", 42);  // an old row: the rebuild drops it
  db_->Execute("ALTER SEQUENCE GEN_BRINDEX_MOV_TOPVENDAS RESTART WITH 5");
  InsertVenda(10, "2026-12-09", 1, "789");                           // before today
  InsertVenda(11, "2026-12-10", 1, "789", "'2026-12-10 11:00:00'");  // cancelled
  InsertVenda(12, "2026-12-10", 3, "789");                           // salesperson without CPF
  InsertVenda(13, "2026-12-10", 1, "789");
  InsertVenda(14, "2026-12-10", 2, "789");
  InsertVenda(15, "2026-12-10", 2, "000");  // not a campaign product
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Rows("SELECT CODIGOMOVIMENTO, VENDEDOR, TIPO FROM BRINDEX_MOV_TOPVENDAS ORDER BY SEQUENCIAL"),
            (std::vector<std::string>{"13|1|V", "14|2|V"}));
  const auto postings = Postings();
  ASSERT_EQ(postings.size(), 2u);
  EXPECT_EQ(FormField(postings[0].body, "legado"), "13");
  EXPECT_EQ(FormField(postings[1].body, "legado"), "14");
  // New rows are numbered above the old ones; the index ends at the last one sent.
  EXPECT_EQ(TopVendasIndex(), db_->SelectInteger("SELECT MAX(SEQUENCIAL) FROM BRINDEX_MOV_TOPVENDAS"));
  EXPECT_GT(*TopVendasIndex(), 5);
}

TEST_F(PollCycle, TopSalesFirstRunWhoseCommitFailsLeavesTheIndexNull) {
  CreateTopSalesDatabase("BRINDEX_ULTIMOENVIOTOPVENDA = NULL");
  InsertMovTopVendas(5, "2026-01-01", "08:00:00", 1, "789", "1", 42);
  db_->Execute("INSERT INTO BRINDEX_PROD_TOPVENDAS (CODIGOPRODUTO, DESCRICAO) VALUES ('FALHA', 'X')");
  InsertVenda(13, "2026-12-10", 1, "FALHA");
  db_->Execute("CREATE EXCEPTION E_CARGA 'carga recusada pelo banco'");
  db_->Execute(
      "CREATE TRIGGER RECUSA_CARGA ON TRANSACTION COMMIT AS BEGIN "
      "IF (EXISTS(SELECT 1 FROM BRINDEX_MOV_TOPVENDAS WHERE CODIGOPRODUTO = 'FALHA')) THEN EXCEPTION E_CARGA; END");
  EXPECT_TRUE(RunCycle());
  EXPECT_FALSE(TopVendasIndex().has_value());
  // The old rows stay, nothing is sent, and the failure is in the log.
  EXPECT_EQ(Rows("SELECT SEQUENCIAL FROM BRINDEX_MOV_TOPVENDAS"), std::vector<std::string>{"5"});
  EXPECT_TRUE(Postings().empty());
  const auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("carga recusada pelo banco"), std::string::npos) << log[0];
}

TEST_F(PollCycle, TopSalesResetRebuildsFromTheResetDayAndKeepsTheIndex) {
  CreateTopSalesDatabase("BRINDEX_ULTIMOENVIOTOPVENDA = 1500");
  db_->Execute("ALTER SEQUENCE GEN_BRINDEX_MOV_TOPVENDAS RESTART WITH 1500");
  InsertMovTopVendas(1400, "2026-11-01", "08:00:00", 1, "789", "1", 7);
  InsertVenda(20, "2026-11-30", 1, "789");
  InsertVenda(21, "2026-12-01", 1, "789");
  InsertVenda(22, "2026-12-05", 2, "789");
  platform_->Script("GET", "/v1/reset", {ScriptedReply::Json(200, R"([{"data":"2026-12-01T00:00:00","uri":"tv-1"}])")});
  platform_->Script("POST", "/v1/lancador", {ScriptedReply::Json(400, R"({"errors":["recusado"]})")});
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Only(platform_->Requests(), "POST", "/v1/reset").at(0).body, "cnpj=12345678000195&uri=tv-1");
  EXPECT_EQ(Rows("SELECT SEQUENCIAL, CODIGOMOVIMENTO FROM BRINDEX_MOV_TOPVENDAS ORDER BY SEQUENCIAL"),
            (std::vector<std::string>{"1501|21", "1502|22"}));
  EXPECT_EQ(TopVendasIndex(), 1500);
  ASSERT_EQ(Postings().size(), 1u);
  EXPECT_EQ(FormField(Postings()[0].body, "legado"), "21");
}

TEST_F(PollCycle, TopSalesResetNotAcknowledgedKeepsTheOldRows) {
  CreateTopSalesDatabase("BRINDEX_ULTIMOENVIOTOPVENDA = 1400");
  InsertMovTopVendas(1400, "2026-11-01", "08:00:00", 1, "789", "1", 7);
  InsertVenda(21, "2026-12-01", 1, "789");
  platform_->Script("GET", "/v1/reset", {ScriptedReply::Json(200, R"([{"data":"2026-12-01","uri":"tv-2"}])")});
  platform_->Script("POST", "/v1/reset", {ScriptedReply::Json(200, "{}")});
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Rows("SELECT SEQUENCIAL FROM BRINDEX_MOV_TOPVENDAS"), std::vector<std::string>{"1400"});
  EXPECT_EQ(TopVendasIndex(), 1400);
}

TEST_F(PollCycle, TopSalesSendsInOrderSkipsRowsWithoutSalespersonAndStopsAtARefusal) {
  CreateTopSalesDatabase("BRINDEX_ULTIMOENVIOTOPVENDA = 0");
  InsertMovTopVendas(1, "2021-09-23", "14:30:00", 1, "7891 & 2", "3", 55);
  InsertMovTopVendas(2, "2021-09-23", "15:00:00", 99, "789", "1", 56);  // no such salesperson
  InsertMovTopVendas(3, "2021-09-24", "08:00:00", 2, "789", "2.5", 57, "D");
  InsertMovTopVendas(4, "2021-09-24", "09:00:00", 2, "789", "1", 58);
  platform_->Script("POST", "/v1/lancador",
                    {ScriptedReply::Json(200, "{}"), ScriptedReply::Json(200, "{}"), ScriptedReply::Json(404, "{}")});
  EXPECT_TRUE(RunCycle());
  const auto postings = Postings();
  ASSERT_EQ(postings.size(), 3u);
  EXPECT_EQ(postings[0].body,
            "software=quimero&versao=9.0&cnpj=12345678000195&cpf=12345678909&legado=55&ean=7891 & 2"
            "&quantidade=3&dtocorrencia=2021-09-23 14:30:00&tipo=0");
  EXPECT_EQ(FormField(postings[1].body, "legado"), "57");
  EXPECT_EQ(FormField(postings[1].body, "quantidade"), "2");
  EXPECT_EQ(FormField(postings[1].body, "tipo"), "2");
  EXPECT_EQ(TopVendasIndex(), 3);
  EXPECT_EQ(Log(), std::vector<std::string>{"MovimentoTopVendas: Não encontrado, verifique a URL!!!"});
}

struct RefreshCase {
  const char* stored_day;  // SQL literal
  bool refreshes;
};

std::string RefreshCaseName(const ::testing::TestParamInfo<RefreshCase>& info) {
  static const char* const names[] = {"never", "today", "yesterday", "future"};
  return names[info.index];
}

class ProductRefresh : public PollCycle, public ::testing::WithParamInterface<RefreshCase> {};

TEST_P(ProductRefresh, RunsOnceADay) {
  CreateTopSalesDatabase(std::string("BRINDEX_ULTIMODOWNLODPRODUTOS = ") + GetParam().stored_day);
  platform_->Script("GET", "/v2/produtos",
                    {ScriptedReply::Json(200, R"([{"ean":"1","produto":"café"},{"ean":"2","produto":"pão de açúcar"},)"
                                              R"({"ean":"1","produto":"leite"}])")});
  EXPECT_TRUE(RunCycle());
  const bool asked = !Only(platform_->Requests(), "GET", "/v2/produtos").empty();
  EXPECT_EQ(asked, GetParam().refreshes);
  if (GetParam().refreshes) {
    // Replaced whole; the later name of a code that came twice wins; only a-z upper-cased.
    EXPECT_EQ(Rows("SELECT CODIGOPRODUTO, DESCRICAO FROM BRINDEX_PROD_TOPVENDAS ORDER BY CODIGOPRODUTO"),
              (std::vector<std::string>{"1|LEITE", "2|PãO DE AçúCAR"}));
    EXPECT_EQ(db_->SelectText("SELECT CAST(BRINDEX_ULTIMODOWNLODPRODUTOS AS VARCHAR(30)) FROM PADRAO"),
              "2026-12-10 00:00:00.0000");
  } else {
    EXPECT_EQ(Rows("SELECT CODIGOPRODUTO, DESCRICAO FROM BRINDEX_PROD_TOPVENDAS"),
              std::vector<std::string>{"789|CAFE"});
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(StoredDay, ProductRefresh,
                         ::testing::Values(RefreshCase{"NULL", true},
                                           RefreshCase{"'2026-12-10 00:00:00'", false},
                                           RefreshCase{"'2026-12-09 23:59:59'", true},
                                           RefreshCase{"'2026-12-11 00:00:00'", false}),
                         RefreshCaseName);
// clang-format on

TEST_F(PollCycle, ProductNamesAreUpperCasedOnlyInAsciiLetters) {
  CreateTopSalesDatabase("BRINDEX_ULTIMODOWNLODPRODUTOS = NULL");
  platform_->Script("GET", "/v2/produtos", {ScriptedReply::Json(200, R"([{"ean":"3","produto":"café"}])")});
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Rows("SELECT DESCRICAO FROM BRINDEX_PROD_TOPVENDAS"), std::vector<std::string>{"CAFé"});
}

TEST_F(PollCycle, AnEmptyProductListLeavesProductsAndDayAlone) {
  CreateTopSalesDatabase("BRINDEX_ULTIMODOWNLODPRODUTOS = '2026-12-01 00:00:00'");
  platform_->Script("GET", "/v2/produtos", {ScriptedReply::Json(200, "[]")});
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Rows("SELECT CODIGOPRODUTO FROM BRINDEX_PROD_TOPVENDAS"), std::vector<std::string>{"789"});
  EXPECT_EQ(db_->SelectText("SELECT CAST(BRINDEX_ULTIMODOWNLODPRODUTOS AS VARCHAR(30)) FROM PADRAO"),
            "2026-12-01 00:00:00.0000");
  // Sending goes on.
  EXPECT_FALSE(Only(platform_->Requests(), "GET", "/v1/reset").empty());
}

TEST_F(PollCycle, AProductWithoutEanIsLeftOutAndTheOthersAreStored) {
  CreateTopSalesDatabase("BRINDEX_ULTIMODOWNLODPRODUTOS = NULL");
  platform_->Script("GET", "/v2/produtos",
                    {ScriptedReply::Json(200, R"([{"ean":"1","produto":"café"},{"ean":"","produto":"sem código"},)"
                                              R"({"produto":"nada"},{"ean":"2","produto":"pão"}])")});
  EXPECT_TRUE(RunCycle());
  EXPECT_EQ(Rows("SELECT CODIGOPRODUTO, DESCRICAO FROM BRINDEX_PROD_TOPVENDAS ORDER BY CODIGOPRODUTO"),
            (std::vector<std::string>{"1|CAFé", "2|PãO"}));
  EXPECT_EQ(db_->SelectText("SELECT CAST(BRINDEX_ULTIMODOWNLODPRODUTOS AS VARCHAR(30)) FROM PADRAO"),
            "2026-12-10 00:00:00.0000");
  const std::vector<std::string> log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "ProdutosTopVendas: produto sem EAN ignorado: sem código");
  EXPECT_EQ(log[1], "ProdutosTopVendas: produto sem EAN ignorado: nada");
  // The refresh no longer stops the campaign: its reset question and sending follow.
  EXPECT_FALSE(Only(platform_->Requests(), "GET", "/v1/reset").empty());
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
}  // namespace zendrel::testing
