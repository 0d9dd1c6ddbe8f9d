// Zendrel -status against the real Firebird server and the fake platform: what it
// shows, its exit status, and that it changes nothing (database, platform, log).
#include "service/status_report.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include <rapidjson/document.h>

#include "erp/site_settings.h"
#include "service/cycle_state_file.h"
#include "service/relay_lock.h"
#include "service/stuck_campaign.h"
#include "service/testing/poll_cycle_fixture.h"
#include "support/company_cnpj.h"

namespace zendrel::testing {
namespace {

// The value of each line "  label<blanks>: value" of `text`, in order; a value of
// several lines is joined with "\n".
std::vector<std::string> Values(const std::string& text, const std::string& label) {
  std::vector<std::string> values;
  std::istringstream lines(text);
  std::string line;
  std::size_t value_column = 0;  // of the value being read; 0 when none
  const std::string head = "  " + label;
  while (std::getline(lines, line)) {
    if (line.rfind(head, 0) == 0) {
      const std::size_t colon = line.find(": ", head.size());
      if (colon != std::string::npos && line.find_first_not_of(' ', head.size()) == colon) {
        values.push_back(line.substr(colon + 2));
        value_column = colon + 2;
        continue;
      }
    }
    // Continuation lines of a value start in the value column.
    if (value_column != 0 && line.size() > value_column && line.rfind(std::string(value_column, ' '), 0) == 0) {
      values.back() += "\n" + line.substr(value_column);
    } else {
      value_column = 0;
    }
  }
  return values;
}

std::string Value(const std::string& text, const std::string& label) {
  const std::vector<std::string> values = Values(text, label);
  EXPECT_EQ(values.size(), 1u) << "label " << label << " in\n" << text;
  return values.empty() ? "<none>" : values.front();
}

// The report's lines between a title and the next blank line.
std::string Section(const std::string& text, const std::string& title) {
  const std::size_t at = text.find("\n" + title + "\n");
  if (at == std::string::npos) return "<no section " + title + ">";
  const std::size_t start = at + title.size() + 2;
  const std::size_t end = text.find("\n\n", start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
}

// The service manager's answer, chosen by the test: no test machine runs the service
// under systemd or the Service Control Manager.
class ChosenServiceState final : public ServiceStateProbe {
 public:
  ServiceState Query() const override { return state; }
  ServiceState state{true, false, false, "escolhido pelo teste", std::nullopt};
};

class StatusReport : public PollCycle {
 protected:
  // Both campaigns on, aimed at the fake platform: points after 101, top sales after 0.
  void CreateBothCampaigns() {
    CreateTopSalesDatabase();
    SetPadrao("BRINDEX_ATIVARPONTUACAO = 'Y', BRINDEX_ULTIMOENVIO = 101");
    InsertPontos(101, "VV", 601, "10", "111.222.333-96", "2026-11-20");
    InsertPontos(102, "VV", 602, "10", "111.222.333-96", "2026-11-21");
    InsertPontos(103, "VP", 603, "10", "111.222.333-96", "2026-11-22");
    InsertMovTopVendas(1, "2026-12-01", "10:00:00", 1, "789", "2", 5001);
    // No FUNCIONARIOS row for salesperson 9: the loop never sends this one.
    InsertMovTopVendas(2, "2026-11-28", "10:00:00", 9, "789", "1", 5002);
    InsertMovTopVendas(3, "2026-12-03", "11:00:00", 2, "789", "1", 5003);
  }

  int Report(const fs::path& folder) {
    std::ostringstream out;
    const int status =
        ReportStatus(folder, SystemHostIdentity(), CurrentApiSettings(), out, StatusFormat::kText, &service_state_);
    output_ = out.str();
    return status;
  }
  int Report() { return Report(db_->settings_folder()); }

  // Everything the report could have written: each table, the settings row, and the
  // generator a rebuild would move.
  std::vector<std::string> DatabaseContents() const {
    std::vector<std::string> contents;
    for (const char* table :
         {"PADRAO", "BRINDEX_PONTOS", "BRINDEX_MOV_TOPVENDAS", "BRINDEX_PROD_TOPVENDAS", "FUNCIONARIOS", "VENDAS"}) {
      contents.push_back(std::string("-- ") + table);
      for (const std::string& row : Rows(std::string("SELECT * FROM ") + table + " ORDER BY 1")) {
        contents.push_back(row);
      }
    }
    for (const std::string& row :
         Rows("SELECT GEN_ID(GEN_BRINDEX_PONTOS, 0), GEN_ID(GEN_BRINDEX_MOV_TOPVENDAS, 0) FROM RDB$DATABASE")) {
      contents.push_back(row);
    }
    return contents;
  }

  std::vector<RecordedRequest> ResetQuestions() const { return Only(platform_->Requests(), "GET", "/v1/reset"); }
  std::vector<RecordedRequest> ResetAcks() const { return Only(platform_->Requests(), "POST", "/v1/reset"); }

  fs::path ServiceLog() const { return db_->settings_folder() / "Zendrel.log"; }
  fs::path StateFile() const { return db_->settings_folder() / "Zendrel.state"; }

  std::string output_;
  ChosenServiceState service_state_;
};

TEST_F(StatusReport, AllFineShowsEachCampaignAndExitsZero) {
  CreateBothCampaigns();
  LogFile service_log(ServiceLog(), clock_);
  for (int i = 1; i <= 12; ++i) service_log.Append(fmt::format("entrada antiga {}", i));

  EXPECT_EQ(Report(), 0) << output_;

  const std::string instalacao = Section(output_, "Instalação");
  EXPECT_EQ(Value(instalacao, "Pasta do executável"), db_->settings_folder().string());
  EXPECT_EQ(Value(instalacao, "Tarvix.ini"), "encontrado: " + (db_->settings_folder() / "Tarvix.ini").string());
  EXPECT_EQ(Value(instalacao, "Servidor"), "localhost");
  EXPECT_EQ(Value(instalacao, "Caminho"), db_->path());
  EXPECT_EQ(Value(instalacao, "Servidor do banco"), "sim (localhost)");

  // The test server refuses the first password, and takes the second: the cause first,
  // the client's own text on the next line.
  const std::string banco = Section(output_, "Banco de dados");
  const std::string refused = Value(banco, "SYSDBA, senha principal");
  EXPECT_EQ(refused.rfind("recusada: o servidor não aceitou esta senha do SYSDBA", 0), 0u) << refused;
  EXPECT_NE(refused.find("\nFirebird: Your user name and password are not defined"), std::string::npos) << refused;
  EXPECT_EQ(Value(banco, "SYSDBA, senha reserva"), "aceita");
  EXPECT_EQ(Value(banco, "Conexão"), "aberta com a senha reserva (somente leitura)");

  const std::string pontos = Section(output_, "Campanha de pontos");
  EXPECT_EQ(Value(pontos, "Ligada"), "sim");
  EXPECT_EQ(Value(pontos, "Endereço base"), platform_->BaseUrl());
  EXPECT_EQ(Value(pontos, "Índice de envio"), "101");
  EXPECT_EQ(Value(pontos, "Pendentes"), "2, o mais antigo de 21/11/2026");
  EXPECT_NE(Value(pontos, "Retido por").find("nenhuma transação do ERP"), std::string::npos) << pontos;

  const std::string top = Section(output_, "Campanha top vendas");
  EXPECT_EQ(Value(top, "Ligada"), "sim");
  EXPECT_EQ(Value(top, "Endereço base"), platform_->BaseUrl() + "/");
  EXPECT_EQ(Value(top, "Índice de envio"), "0");
  EXPECT_EQ(Value(top, "Pendentes"), "2, o mais antigo de 01/12/2026");
  EXPECT_EQ(Value(top, "Produtos da campanha"), "1");
  EXPECT_EQ(Value(top, "Produtos atualizados"), "10/12/2026");

  const std::vector<std::string> platform = Values(output_, "Plataforma");
  ASSERT_EQ(platform.size(), 2u) << output_;
  for (const std::string& line : platform) EXPECT_EQ(line.rfind("responde: HTTP 200", 0), 0u) << line;
  EXPECT_EQ(Values(output_, "Reset pendente"), (std::vector<std::string>{"não", "não"}));
  ASSERT_EQ(ResetQuestions().size(), 2u);
  EXPECT_EQ(ResetQuestions()[0].query, "cnpj=12345678000195");
  EXPECT_EQ(platform_->Requests().size(), 2u);

  // The last ten entries of the service's log, oldest first.
  const std::size_t log_title = output_.find("\nÚltimas entradas do log (" + ServiceLog().string() + ")\n");
  ASSERT_NE(log_title, std::string::npos) << output_;
  const std::string log_lines = output_.substr(log_title);
  EXPECT_EQ(log_lines.find("entrada antiga 2\n"), std::string::npos);
  EXPECT_NE(log_lines.find("  10/12/2026 09:30:00 - entrada antiga 3\n"), std::string::npos);
  EXPECT_NE(log_lines.find("  10/12/2026 09:30:00 - entrada antiga 12\n"), std::string::npos);
  EXPECT_LT(log_lines.find("entrada antiga 3\n"), log_lines.find("entrada antiga 12\n"));
  EXPECT_EQ(Value(output_, "Situação"), "OK");

  // New movements show at once; the module's registration of its settings row is back.
  InsertPontos(104, "VV", 604, "10", "111.222.333-96", "2026-11-19");
  InsertMovTopVendas(4, "2026-11-30", "09:00:00", 1, "789", "3", 5004);
  SetPadrao("BRINDEX_ULTIMOENVIOTOPVENDA = 1");
  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_EQ(Value(Section(output_, "Campanha de pontos"), "Pendentes"), "3, o mais antigo de 19/11/2026");
  EXPECT_EQ(Value(Section(output_, "Campanha top vendas"), "Pendentes"), "2, o mais antigo de 30/11/2026");
  EXPECT_EQ(CompanySettingsRow(), &module_->erp.TBPadrao);
}

// "Retido por" follows the send loop's rules: a till's open movement below a committed
// one holds the campaign (the read waits for it, or the wait at the gap does); a till
// that committed with retain and holds nothing is not named.
TEST_F(StatusReport, NamesTheTransactionThatHoldsACampaignBack) {
  CreateBothCampaigns();
  auto retaining = db_->OpenSession();
  retaining->Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, TIPOMOVIMENTO, VALOR) VALUES (104, '1', 'VV', 1)");
  retaining->Execute("COMMIT RETAIN");
  EXPECT_EQ(Report(), 0) << output_;
  std::string pontos = Section(output_, "Campanha de pontos");
  EXPECT_NE(pontos.find("nenhuma transação do ERP"), std::string::npos) << pontos;
  EXPECT_EQ(pontos.find(" da conexão "), std::string::npos) << "a till that holds nothing was named:\n" << pontos;

  auto till = db_->OpenSession();
  till->Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, TIPOMOVIMENTO, VALOR) VALUES (105, '1', 'VV', 1)");
  db_->Execute("INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, TIPOMOVIMENTO, VALOR) VALUES (106, '1', 'VV', 1)");
  EXPECT_EQ(Report(), 0) << output_;
  pontos = Section(output_, "Campanha de pontos");
  EXPECT_NE(pontos.find(" da conexão "), std::string::npos) << pontos;
  EXPECT_NE(pontos.find("inseriu movimentos e continua aberta"), std::string::npos) << pontos;
  EXPECT_NE(Value(Section(output_, "Campanha top vendas"), "Retido por").find("nenhuma transação do ERP"),
            std::string::npos);
  till->Rollback();
  retaining->Rollback();
}

TEST_F(StatusReport, ChangesNothingInTheDatabaseEvenWhenTheServiceWouldWrite) {
  // A cycle would refresh the products (last refresh yesterday), start the top-sales
  // campaign with a rebuild (index NULL) and apply and acknowledge the pending reset.
  CreateBothCampaigns();
  SetPadrao("BRINDEX_ULTIMOENVIOTOPVENDA = NULL, BRINDEX_ULTIMODOWNLODPRODUTOS = '2026-12-09 00:00:00'");
  InsertVenda(7001, "2026-12-05", 1, "789");
  platform_->Script("GET", "/v1/reset", {ScriptedReply::Json(200, R"([{"data":"2026-11-01","uri":"r-9"}])")});
  const std::vector<std::string> before = DatabaseContents();

  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_EQ(DatabaseContents(), before);
  const std::string top = Section(output_, "Campanha top vendas");
  EXPECT_EQ(Value(top, "Índice de envio"),
            "vazio: campanha ainda não iniciada (a primeira execução recria os movimentos)");
  EXPECT_TRUE(Values(top, "Pendentes").empty());
  EXPECT_EQ(Value(top, "Produtos atualizados"), "09/12/2026");
  // Only the two reset questions: no product list, no acknowledgement, no posting.
  EXPECT_EQ(platform_->Requests().size(), 2u);
  EXPECT_EQ(ResetQuestions().size(), 2u);

  // The same database in the hands of the service does change.
  EXPECT_TRUE(RunCycle()) << last_error_;
  EXPECT_NE(DatabaseContents(), before);
}

TEST_F(StatusReport, APendingResetIsReportedButNotAcknowledged) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 103");
  InsertPontos(103, "VV", 603, "10", "111.222.333-96", "2026-11-22");
  platform_->Script("GET", "/v1/reset",
                    {ScriptedReply::Json(200, R"([{"data":"2026-11-01T10:00:00","uri":" r-1 "}])")});

  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_EQ(Value(output_, "Reset pendente"),
            "sim, desde 01/11/2026 (uri \" r-1 \"); será aplicado e confirmado pelo serviço no próximo ciclo");
  EXPECT_EQ(ResetQuestions().size(), 1u);
  EXPECT_TRUE(ResetAcks().empty());
  EXPECT_EQ(PontosIndex(), 103);

  // The reset is still there for the service to apply.
  EXPECT_TRUE(RunCycle()) << last_error_;
  EXPECT_EQ(ResetAcks().size(), 1u);
}

struct PlatformDownCase {
  const char* name;
  bool refused;       // nothing listens; else the platform drops the connection
  const char* cause;  // the cause the report names, on a line of its own and in the reasons
};

class StatusReportPlatformDown : public StatusReport, public ::testing::WithParamInterface<PlatformDownCase> {};

TEST_P(StatusReportPlatformDown, ExitsOneAndShowsWhyWithoutWritingTheLog) {
  CreateBothCampaigns();
  // Port 1 on loopback: nothing listens there.
  if (GetParam().refused) {
    SetPadrao("BRINDEX_WEBSERVICETOPVENDAS = 'http://127.0.0.1:1/'");
  } else {
    SetPadrao(fmt::format("BRINDEX_WEBSERVICETOPVENDAS = '{}/quebrada/'", platform_->BaseUrl()));
    platform_->Script("GET", "/quebrada/v1/reset", {ScriptedReply::CloseWithoutReply()});
  }
  LogFile(ServiceLog(), clock_).Append("antes do relatório");
  const std::string service_log_before = ReadFile(ServiceLog());

  EXPECT_EQ(Report(), 1) << output_;
  const std::vector<std::string> platform = Values(output_, "Plataforma");
  ASSERT_EQ(platform.size(), 2u) << output_;
  EXPECT_EQ(platform[0].rfind("responde: HTTP 200", 0), 0u) << platform[0];
  EXPECT_EQ(platform[1].rfind("não responde (", 0), 0u) << platform[1];
  EXPECT_NE(platform[1].find("Falha na Comunicação com o Servidor da Brindex!!!"), std::string::npos);
  // Why no reply came, which the log does not say.
  EXPECT_NE(platform[1].find(std::string("\n") + GetParam().cause), std::string::npos) << output_;
  EXPECT_EQ(Values(output_, "Reset pendente"), (std::vector<std::string>{"não", "desconhecido"}));
  EXPECT_NE(Value(output_, "Motivos")
                .find(std::string("Campanha top vendas: a plataforma não responde: ") + GetParam().cause),
            std::string::npos)
      << output_;

  // Neither the service's log nor the process's log received anything.
  EXPECT_EQ(ReadFile(ServiceLog()), service_log_before);
  EXPECT_TRUE(Log().empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, StatusReportPlatformDown,
                         ::testing::Values(PlatformDownCase{"refused", true, "a conexão foi recusada"},
                                           PlatformDownCase{"dropped", false, "a comunicação com a plataforma falhou"}),
                         [](const ::testing::TestParamInfo<PlatformDownCase>& info) { return info.param.name; });

TEST_F(StatusReport, ACampaignThatIsOffIsNotAskedAndDoesNotFail) {
  CreateDatabase("BRINDEX_WEBSERVICETOPVENDAS = 'http://127.0.0.1:1/'");
  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_EQ(Value(Section(output_, "Campanha top vendas"), "Ligada"), "não (BRINDEX_ATIVARTOPVENDA = 'N')");
  EXPECT_EQ(Values(output_, "Plataforma").size(), 1u);
  EXPECT_EQ(ResetQuestions().size(), 1u);
}

struct UnreachableCase {
  const char* name;
  bool with_ini;  // Tarvix.ini names a missing database; else there is no Tarvix.ini
};

class StatusReportUnreachable : public StatusReport, public ::testing::WithParamInterface<UnreachableCase> {};

TEST_P(StatusReportUnreachable, ShowsTheClientsTextForEachPasswordAndExitsOne) {
  CreateDatabase();
  const fs::path folder = fs::temp_directory_path() / fmt::format("zendrel-status-{}-{}", ::getpid(), GetParam().name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string missing = (TestDatabaseFolder() / "nao-existe.fdb").string();
  if (GetParam().with_ini) {
    std::ofstream(folder / "tarvix.INI") << "[Tarvix]\r\nServidor=LocalHost\r\nCaminho=" << missing << "\r\n";
  }

  EXPECT_EQ(Report(folder), 1) << output_;
  const std::string expected_path = GetParam().with_ini ? missing : DefaultCaminho(folder);
  if (GetParam().with_ini) {
    EXPECT_EQ(Value(output_, "Tarvix.ini"), "encontrado: " + (folder / "tarvix.INI").string());
    EXPECT_EQ(Value(output_, "Servidor"), "LocalHost");
    EXPECT_EQ(Value(output_, "Caminho"), missing);
  } else {
    EXPECT_EQ(Value(output_, "Tarvix.ini"), "não encontrado (valem os valores padrão)");
    EXPECT_EQ(Value(output_, "Servidor"), "localhost (padrão: chave ausente)");
    EXPECT_EQ(Value(output_, "Caminho"), expected_path + " (padrão: chave ausente)");
  }
  EXPECT_EQ(Value(output_, "Servidor do banco"), "sim (localhost)");
  // The server refuses the first password before it looks for the file, and with the
  // second it cannot open the file: each cause named, the client's own words after it.
  // Only the password is "recusada".
  const std::string first = Value(output_, "SYSDBA, senha principal");
  EXPECT_EQ(first.rfind("recusada: o servidor não aceitou esta senha do SYSDBA", 0), 0u) << first;
  EXPECT_NE(first.find("\nFirebird: Your user name and password are not defined"), std::string::npos) << first;
  const std::string second = Value(output_, "SYSDBA, senha reserva");
  EXPECT_EQ(second.rfind("não conectou: o arquivo do banco não existe nesse caminho no servidor", 0), 0u) << second;
  EXPECT_NE(second.find("\nFirebird: I/O error during \"open\" operation for file \"" + expected_path + "\""),
            std::string::npos)
      << second;
  EXPECT_NE(second.find("No such file or directory"), std::string::npos) << second;
  EXPECT_EQ(Value(output_, "Conexão"), "falhou com as duas senhas");
  EXPECT_NE(Value(output_, "Motivos").find("o banco de dados não foi alcançado: o servidor não aceitou esta senha"),
            std::string::npos)
      << output_;
  EXPECT_NE(Value(output_, "Motivos").find("; o arquivo do banco não existe nesse caminho"), std::string::npos)
      << output_;
  EXPECT_NE(output_.find("(o arquivo não existe)"), std::string::npos);
  EXPECT_TRUE(platform_->Requests().empty());
  fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Settings, StatusReportUnreachable,
                         ::testing::Values(UnreachableCase{"missing_database", true},
                                           UnreachableCase{"no_settings_file", false}),
                         [](const ::testing::TestParamInfo<UnreachableCase>& info) { return info.param.name; });

// ---- What holds a campaign back ----

// The issue a support person meets: at 09:00 the platform refuses 1041, the store
// corrects it, the 09:15 cycle posts it (a success logs nothing), and 1042 arrives.
// Only the record of the last cycle can tell that 1042 was never tried.
TEST_F(StatusReport, ARefusalThenASuccessThenANewMovementIsNotHeld) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 1040");
  InsertPontos(1041, "VV", 601, "10", "111.222.333-96", "2026-12-10");
  // The cycles write to the service's log, where the report reads it.
  const LogRedirect to_service_log(ServiceLog(), clock_);

  clock_.Set(DateTime{2026, 12, 10, 9, 0, 0, 0});
  platform_->Script("POST", "/v1/lancador", {ScriptedReply::Json(400, R"({"errors":["CPF não cadastrado"]})")});
  ASSERT_TRUE(RunCycle()) << last_error_;
  clock_.Set(DateTime{2026, 12, 10, 9, 5, 0, 0});
  EXPECT_EQ(Report(), 0) << output_;
  std::string pontos = Section(output_, "Campanha de pontos");
  EXPECT_EQ(Value(pontos, "Primeiro pendente"),
            "movimento 1041 de 10/12/2026, CPF 111.222.333-96, tipo VV, identificação 601");
  EXPECT_EQ(Value(pontos, "Última recusa no log"), "10/12/2026 09:00:00 - CPF não cadastrado");
  EXPECT_EQ(Value(pontos, "Retida").rfind("sim: a plataforma recusou este movimento no último ciclo (400 ", 0), 0u)
      << pontos;
  EXPECT_EQ(Value(pontos, "Último ciclo"), "índice 1040 → 1040, 0 movimentos aceitos");
  EXPECT_EQ(Value(pontos, "Parou em"),
            "movimento 1041: recusado pela plataforma, HTTP 400 pedido recusado: a plataforma não aceitou os dados "
            "enviados\nmensagem: CPF não cadastrado");

  clock_.Set(DateTime{2026, 12, 10, 9, 15, 0, 0});
  platform_->Reset();
  ASSERT_TRUE(RunCycle()) << last_error_;
  ASSERT_EQ(PontosIndex(), 1041);
  InsertPontos(1042, "VV", 602, "10", "111.222.333-96", "2026-12-10");
  clock_.Set(DateTime{2026, 12, 10, 9, 25, 0, 0});
  EXPECT_EQ(Report(), 0) << output_;
  pontos = Section(output_, "Campanha de pontos");
  EXPECT_EQ(Value(pontos, "Primeiro pendente"),
            "movimento 1042 de 10/12/2026, CPF 111.222.333-96, tipo VV, identificação 602");
  EXPECT_EQ(Value(pontos, "Última recusa no log"), "nenhuma deste movimento");
  EXPECT_EQ(Value(pontos, "Retida"), "não: ainda não tentado (o próximo ciclo começa por este movimento)");
  EXPECT_EQ(Value(pontos, "Último ciclo"), "índice 1040 → 1041, 1 movimento aceito");
  EXPECT_EQ(Value(pontos, "Parou em"), "em nenhum movimento: enviou tudo o que podia");

  // Nothing pending: no first movement.
  SetPadrao("BRINDEX_ULTIMOENVIO = 1042");
  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_TRUE(Values(output_, "Primeiro pendente").empty()) << output_;
  EXPECT_TRUE(Values(output_, "Retida").empty()) << output_;
}

// The verdict on "Retida" from the record of the last cycle, for first pending movement 1042.
struct RetentionCase {
  const char* name;
  bool file_found;
  bool readable;
  CampaignStopKind stop;
  std::int64_t stopped_at;
  bool held;
  const char* text_start;
};

class RetentionVerdict : public ::testing::TestWithParam<RetentionCase> {};

TEST_P(RetentionVerdict, HeldOnlyWhenTheLastCycleStoppedThereWithARefusal) {
  const RetentionCase& c = GetParam();
  CycleStateRead read;
  read.found = c.file_found;
  if (c.readable) {
    CycleState state;
    state.pontos.ran = true;
    state.pontos.stop.kind = c.stop;
    if (c.stop != CampaignStopKind::kHeldByTill && c.stop != CampaignStopKind::kNone) {
      state.pontos.stop.movement = c.stopped_at;
    }
    state.pontos.stop.status = c.stop == CampaignStopKind::kRefused ? 400 : 0;
    read.state = state;
  } else if (c.file_found) {
    read.error = "o conteúdo não é um registro de ciclo";
  }
  const Retention retention = JudgeRetention(read, false, 1042);
  EXPECT_EQ(retention.held, c.held) << retention.text;
  EXPECT_EQ(retention.text.rfind(c.text_start, 0), 0u) << retention.text;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    LastCycle, RetentionVerdict,
    ::testing::Values(
        RetentionCase{"refused_here", true, true, CampaignStopKind::kRefused, 1042, true, "sim: a plataforma recusou"},
        RetentionCase{"refused_an_earlier_one", true, true, CampaignStopKind::kRefused, 1041, false,
                      "não: ainda não tentado"},
        RetentionCase{"sent_everything", true, true, CampaignStopKind::kNone, 0, false, "não: ainda não tentado"},
        RetentionCase{"unpostable_here", true, true, CampaignStopKind::kUnreadable, 1042, true,
                      "sim: o serviço não consegue enviar"},
        RetentionCase{"no_reply_here", true, true, CampaignStopKind::kTransport, 1042, false,
                      "não: o último ciclo parou neste movimento por falha de comunicação"},
        RetentionCase{"index_not_written", true, true, CampaignStopKind::kIndexNotWritten, 1042, false,
                      "não: a plataforma aceitou este movimento"},
        RetentionCase{"held_by_a_till", true, true, CampaignStopKind::kHeldByTill, 0, false,
                      "não: o último ciclo parou porque uma transação do ERP"},
        RetentionCase{"no_state_file", false, false, CampaignStopKind::kNone, 0, false, "não se sabe: não há registro"},
        RetentionCase{"unreadable_state_file", true, false, CampaignStopKind::kNone, 0, false,
                      "não se sabe: o registro do último ciclo não pôde ser lido"}),
    [](const ::testing::TestParamInfo<RetentionCase>& info) { return std::string(info.param.name); });
// clang-format on

// A missing or unreadable state file is said so, and is never a reason to fail.
TEST_F(StatusReport, AMissingOrUnreadableStateFileIsSaidSo) {
  CreateDatabase();
  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_EQ(Value(Section(output_, "Serviço"), "Último ciclo"), "nenhum registro (Zendrel.state não existe)");
  EXPECT_EQ(Value(Section(output_, "Campanha de pontos"), "Último ciclo"), "sem registro");

  std::ofstream(StateFile(), std::ios::binary) << "{\"inicio\": 3";
  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_EQ(Value(Section(output_, "Serviço"), "Último ciclo"),
            "registro ilegível (o conteúdo não é um registro de ciclo)");
  EXPECT_EQ(Value(Section(output_, "Campanha de pontos"), "Último ciclo"), "registro ilegível");
}

// A running service whose record has not changed for more than two intervals and the
// 60 s wait has stopped cycling: FALHA. The interval is the one the record names; a
// service that started since then has not reached its first cycle yet.
struct StallCase {
  const char* name;
  bool running;
  int minutes_old;  // of the record; -1: there is none
  std::int64_t interval_ms;
  std::optional<std::int64_t> running_for_s;  // as the service manager says
  bool fails;
};

class StatusReportStall : public StatusReport, public ::testing::WithParamInterface<StallCase> {};

TEST_P(StatusReportStall, ARunningServiceWhoseLastCycleIsOldFails) {
  const StallCase& c = GetParam();
  CreateDatabase();
  service_state_.state = ServiceState{true, true, c.running, "is-active: active, is-enabled: enabled", c.running_for_s};
  if (c.minutes_old >= 0) {
    CycleState state;
    state.started = DateTime{2026, 12, 10, 9, 30 - c.minutes_old, 0, 0};
    state.updated = state.started;
    state.ended = state.started;
    state.end = CycleEnd::kDone;
    state.interval_ms = c.interval_ms;
    ReplaceStateFile(StateFile(), CycleStateJson(state));
  }

  EXPECT_EQ(Report(), c.fails ? 1 : 0) << output_;
  const std::string servico = Section(output_, "Serviço");
  EXPECT_EQ(Value(servico, "Em execução"), c.running ? "sim" : "não");
  if (c.minutes_old >= 0) {
    EXPECT_EQ(Value(servico, "Resultado do último ciclo"), "concluído");
  }
  const std::string fresh = Value(servico, "Ciclos em dia");
  if (c.fails) {
    EXPECT_EQ(fresh.rfind("não: o serviço está em execução, mas nenhum ciclo registrado", 0), 0u) << fresh;
    EXPECT_NE(Value(output_, "Motivos").find("o serviço está em execução, mas não registra um ciclo"),
              std::string::npos)
        << output_;
  } else if (!c.running) {
    EXPECT_EQ(fresh, "não se aplica (o serviço não está em execução)");
  } else if (c.minutes_old < 0 && !c.running_for_s) {
    EXPECT_EQ(fresh, "não se sabe (nenhum registro, e o início do serviço não é conhecido)");
  } else {
    EXPECT_EQ(fresh, "sim");
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Ages, StatusReportStall,
    ::testing::Values(StallCase{"running_fresh", true, 20, 900000, std::nullopt, false},
                      StallCase{"running_just_within_two_intervals_and_the_wait", true, 30, 900000, 86400, false},
                      StallCase{"running_old", true, 29, 600000, 86400, true},
                      StallCase{"running_old_but_just_restarted", true, 29, 600000, 100, false},
                      StallCase{"running_old_start_unknown", true, 29, 600000, std::nullopt, true},
                      StallCase{"running_without_record_for_an_hour", true, -1, 900000, 3600, true},
                      StallCase{"running_without_record_just_started", true, -1, 900000, 60, false},
                      StallCase{"running_without_record_start_unknown", true, -1, 900000, std::nullopt, false},
                      StallCase{"stopped_old", false, 29, 600000, std::nullopt, false}),
    [](const ::testing::TestParamInfo<StallCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(StatusReport, SaysWhetherARelayHoldsTheLockNow) {
  CreateDatabase();
  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_EQ(Value(output_, "Relay com a trava agora").rfind("não (", 0), 0u) << output_;
  const std::unique_ptr<RelayLock> lock = TryTakeRelayLock(db_->settings_folder());
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_EQ(Value(output_, "Relay com a trava agora"),
            fmt::format("sim (processo {}, {})", ::getpid(), RelayLockName(db_->settings_folder())));
}

// A reset question answered so says that the token or the base address is wrong: every
// posting would be refused as well.
struct RefusalCase {
  int status;
  const char* cause;
};

class StatusReportRefusedByThePlatform : public StatusReport, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(StatusReportRefusedByThePlatform, ARefusedResetQuestionIsAFailureNamingTheLikelyCause) {
  CreateDatabase();
  platform_->Script("GET", "/v1/reset", {ScriptedReply::Json(GetParam().status, R"({"errors":["negado"]})")});
  EXPECT_EQ(Report(), 1) << output_;
  EXPECT_EQ(Value(output_, "Situação"), "FALHA");
  const std::string reasons = Value(output_, "Motivos");
  EXPECT_EQ(reasons.rfind("Campanha de pontos: a plataforma recusou a pergunta de reset com HTTP " +
                              std::to_string(GetParam().status),
                          0),
            0u)
      << reasons;
  EXPECT_NE(reasons.find(GetParam().cause), std::string::npos) << reasons;
  EXPECT_EQ(Value(output_, "Reset pendente").rfind("desconhecido: a plataforma recusou a pergunta", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, StatusReportRefusedByThePlatform,
                         ::testing::Values(RefusalCase{401, "token"}, RefusalCase{403, "token"},
                                           RefusalCase{404, "endereço base"}),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) {
                           return "http_" + std::to_string(info.param.status);
                         });

// A certificate that failed verification is visible in the report, with its reason.
TEST_F(StatusReport, AWaivedCertificateCheckIsShownWithItsReason) {
  CreateDatabase(fmt::format("BRINDEXWEBSERVICE = '{}'", platform_->TrustedWrongNameHttpsBaseUrl()));
  ApiSettings trusting = ShortTimeouts(clock_);
  trusting.trust.ca_file = platform_->CaFile();
  const ScopedApiSettings trust_scope(trusting);
  EXPECT_EQ(Report(), 0) << output_;
  EXPECT_EQ(Value(output_, "Certificado")
                .rfind("não passou na verificação: o nome no certificado não confere com o endereço da plataforma", 0),
            0u)
      << output_;
  EXPECT_EQ(Value(output_, "Plataforma").rfind("responde: HTTP 200", 0), 0u) << output_;
}

// ---- -status -json ----

TEST(StatusJsonKey, LabelsBecomePlainNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"SYSDBA, senha principal", "sysdba_senha_principal"},
      {"Índice de envio", "indice_de_envio"},
      {"Tarvix.ini", "tarvix_ini"},
      {"Última recusa no log", "ultima_recusa_no_log"},
      {"Conexão", "conexao"},
      {"PADRAO", "padrao"},
  };
  for (const auto& [label, key] : cases) EXPECT_EQ(JsonKey(label), key) << label;
}

class StatusReportJson : public StatusReport {
 protected:
  int ReportJson(const fs::path& folder) {
    std::ostringstream out;
    const int status =
        ReportStatus(folder, SystemHostIdentity(), CurrentApiSettings(), out, StatusFormat::kJson, &service_state_);
    json_ = out.str();
    json_document_.Parse(json_.c_str());
    return status;
  }

  // The member `key` of `object`, a text; "<none>" when it is not there.
  static std::string Text(const rapidjson::Value& object, const char* key) {
    if (!object.IsObject() || !object.HasMember(key) || !object[key].IsString()) return "<none>";
    return object[key].GetString();
  }

  // Every "label: value" line of the text section `title` is the member of the JSON
  // object with the label's name and the same value.
  void ExpectSameLines(const std::string& title, const rapidjson::Value& object) {
    std::istringstream lines(Section(output_, title));
    std::string line;
    int compared = 0;
    while (std::getline(lines, line)) {
      const std::size_t colon = line.find(" : ");
      const std::size_t value_colon = line.find(": ");
      if (line.rfind("  ", 0) != 0 || value_colon == std::string::npos || line[2] == ' ') continue;
      std::string label = line.substr(2, (colon != std::string::npos ? colon : value_colon) - 2);
      while (!label.empty() && label.back() == ' ') label.pop_back();
      const std::vector<std::string> values = Values(Section(output_, title), label);
      ASSERT_EQ(values.size(), 1u) << label;
      EXPECT_EQ(Text(object, JsonKey(label).c_str()), values.front()) << title << " / " << label;
      ++compared;
    }
    EXPECT_GT(compared, 2) << "no lines compared in " << title;
  }

  std::string json_;
  rapidjson::Document json_document_;
};

TEST_F(StatusReportJson, TheSameReportAsOneJsonObjectWithTheSameExitStatus) {
  CreateBothCampaigns();
  LogFile service_log(ServiceLog(), clock_);
  service_log.Append("MovimentoPontos: CPF não cadastrado na campanha");
  // The last cycle stopped at 102, the first pending movement, with that refusal.
  CycleState state;
  state.started = state.updated = DateTime{2026, 12, 10, 9, 29, 0, 0};
  state.ended = DateTime{2026, 12, 10, 9, 29, 30, 0};
  state.end = CycleEnd::kDone;
  state.interval_ms = 900000;
  state.pontos = CampaignRun{
      true, true, 101, 101, 0, CampaignStop{CampaignStopKind::kRefused, 102, 400, "CPF não cadastrado na campanha", ""},
      ""};
  ReplaceStateFile(StateFile(), CycleStateJson(state));

  ASSERT_EQ(Report(), 0) << output_;
  ASSERT_EQ(ReportJson(db_->settings_folder()), 0) << json_;
  ASSERT_FALSE(json_document_.HasParseError()) << json_;
  ASSERT_TRUE(json_document_.IsObject()) << json_;
  const rapidjson::Value& doc = json_document_;

  EXPECT_EQ(Text(doc, "situacao_em"), "10/12/2026 09:30:00");
  ExpectSameLines("Instalação", doc["instalacao"]);
  ExpectSameLines("Banco de dados", doc["banco_de_dados"]);
  ExpectSameLines("Campanha de pontos", doc["campanha_pontos"]);
  ExpectSameLines("Campanha top vendas", doc["campanha_top_vendas"]);
  ExpectSameLines("Serviço", doc["servico"]);
  EXPECT_EQ(Text(doc["campanha_pontos"], "retida").rfind("sim: ", 0), 0u) << json_;
  EXPECT_EQ(Text(doc["campanha_pontos"], "ultimo_ciclo"), "índice 101 → 101, 0 movimentos aceitos");
  EXPECT_EQ(Text(doc["campanha_pontos"], "parou_em").rfind("movimento 102: recusado pela plataforma, HTTP 400", 0), 0u);
  EXPECT_EQ(Text(doc["campanha_top_vendas"], "ultimo_ciclo"), "não executou esta campanha");
  EXPECT_EQ(Text(doc["servico"], "resultado_do_ultimo_ciclo"), "concluído");
  EXPECT_EQ(Text(doc["servico"], "em_execucao"), "não");
  EXPECT_EQ(Text(doc["plataforma"]["campanha_pontos"], "reset_pendente"), "não");
  EXPECT_EQ(Text(doc["plataforma"]["campanha_top_vendas"], "plataforma").rfind("responde: HTTP 200", 0), 0u);
  ASSERT_TRUE(doc["log"]["entradas"].IsArray());
  ASSERT_EQ(doc["log"]["entradas"].Size(), 1u);
  EXPECT_EQ(std::string(doc["log"]["entradas"][0].GetString()),
            "10/12/2026 09:30:00 - MovimentoPontos: CPF não cadastrado na campanha");
  EXPECT_EQ(Text(doc["resultado"], "situacao"), "OK");
  EXPECT_EQ(doc["codigo_saida"].GetInt(), 0);
  // Both reports asked the platform, and nothing else.
  EXPECT_EQ(ResetQuestions().size(), 4u);
}

TEST_F(StatusReportJson, AFailingReportListsItsReasons) {
  CreateDatabase();
  const fs::path folder = fs::temp_directory_path() / fmt::format("zendrel-status-json-{}", ::getpid());
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / "Tarvix.ini") << "[Tarvix]\r\nServidor=localhost\r\nCaminho=/tmp/zendrel-no-such.fdb\r\n";

  EXPECT_EQ(ReportJson(folder), 1) << json_;
  ASSERT_FALSE(json_document_.HasParseError()) << json_;
  const rapidjson::Value& doc = json_document_;
  EXPECT_EQ(Text(doc["banco_de_dados"], "conexao"), "falhou com as duas senhas");
  EXPECT_EQ(Text(doc["resultado"], "situacao"), "FALHA");
  ASSERT_TRUE(doc["resultado"]["motivos"].IsArray()) << json_;
  EXPECT_EQ(std::string(doc["resultado"]["motivos"][0].GetString())
                .rfind("o banco de dados não foi alcançado: o servidor não aceitou esta senha do SYSDBA", 0),
            0u)
      << json_;
  EXPECT_EQ(Text(doc["log"], "nota"), "(o arquivo não existe)");
  EXPECT_EQ(doc["log"]["entradas"].Size(), 0u);
  EXPECT_EQ(doc["codigo_saida"].GetInt(), 1);
  fs::remove_all(folder);
}

// A host whose name and addresses the test chooses, so the check needs no network.
class FakeHost final : public HostIdentity {
 public:
  std::string ComputerName() const override { return "LOJA01.rede.local"; }
  std::vector<std::string> ResolveIPv4(const std::string&) const override { return {"127.0.1.1", "10.9.8.7"}; }
  std::vector<std::string> InterfaceIPv4() const override { return {"127.0.0.1", "10.9.8.7", "192.0.2.2"}; }
};

struct VerdictCase {
  const char* servidor;
  bool is_server;
  const char* verdict;
};

class ServerVerdict : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(ServerVerdict, SaysWhyThisMachineCountsAsTheServerOrNot) {
  const fs::path folder = fs::temp_directory_path() / fmt::format("zendrel-verdict-{}", ::getpid());
  fs::create_directories(folder);
  std::ofstream(folder / "Tarvix.ini") << "[Tarvix]\nServidor=" << GetParam().servidor << "\n";
  bool is_server = !GetParam().is_server;
  EXPECT_EQ(DatabaseServerVerdict(folder, FakeHost(), is_server), GetParam().verdict);
  EXPECT_EQ(is_server, GetParam().is_server);
  fs::remove_all(folder);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Servidor, ServerVerdict,
    ::testing::Values(
        VerdictCase{"LOCALHOST", true, "sim (localhost)"},
        VerdictCase{"127.0.0.1", true, "sim (endereço 127.0.0.1)"},
        VerdictCase{"10.9.8.7", true, "sim (endereço deste computador, 10.9.8.7)"},
        VerdictCase{"192.0.2.2", true, "sim (endereço de uma interface deste computador, 192.0.2.2)"},
        VerdictCase{"loja01", true, "sim (nome deste computador, LOJA01.rede.local)"},
        VerdictCase{"servidor2", false,
                    "não (este computador: nome \"LOJA01.rede.local\", endereço \"10.9.8.7\", "
                    "interfaces 127.0.0.1, 10.9.8.7, 192.0.2.2)"}),
    [](const ::testing::TestParamInfo<VerdictCase>& info) {
      std::string name = info.param.servidor;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });
// clang-format on

}  // namespace
}  // namespace zendrel::testing
