// The service running on its own schedule: ticks driven by the main loop, an exception
// escaping a tick, and the program stopped by SIGTERM in the middle of a busy cycle.
#include <signal.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "erp/host_identity.h"
#include "service/testing/child_process.h"
#include "service/testing/poll_cycle_fixture.h"
#include "support/testing/eventually.h"

namespace zendrel::testing {
namespace {

using std::chrono::milliseconds;

class ServiceRun : public PollCycle {};

// Every tick fails (the settings row lacks a column): each failure is one log line and
// the next tick still comes.
TEST_F(ServiceRun, AnExceptionInATickIsOneLogLineAndTheNextTickStillComes) {
  db_ = std::make_unique<TestDatabase>();
  db_->Execute("INSERT INTO PADRAO (CODIGO, BRINDEX_ATIVARPONTUACAO) VALUES (1, 'Y')");
  db_->Execute("ALTER TABLE PADRAO DROP BRINDEX_WEBSERVICETOPVENDAS");
  ModuleSettings settings;
  settings.settings_folder = db_->settings_folder();
  settings.clock = &clock_;
  settings.first_interval = milliseconds(100);
  settings.interval = milliseconds(300);
  module_ = std::make_unique<TSrvZendrel>(*loop_, settings);
  EXPECT_FALSE(module_->Timer1->Enabled());
  EXPECT_EQ(module_->Timer1->Interval(), milliseconds(100));

  module_->Timer1->SetEnabled(true);
  bool second_tick_logged = false;
  std::thread stopper([&] {
    second_tick_logged = Eventually([&] { return Log().size() >= 2; });
    loop_->Quit();
  });
  loop_->Run();
  stopper.join();

  ASSERT_TRUE(second_tick_logged) << "fewer than two ticks logged their failure";
  const auto log = Log();
  for (const std::string& line : log) EXPECT_NE(line.find("BRINDEX_WEBSERVICETOPVENDAS"), std::string::npos) << line;
  EXPECT_TRUE(module_->Timer1->Enabled());
  EXPECT_EQ(module_->Timer1->Interval(), milliseconds(300));
  EXPECT_FALSE(module_->erp.Connquimero.Connected());
}

// systemd's stop during a posting: the cycle finishes (the accepted movement gets its
// index written) and only then does the program exit, with status 0.
TEST_F(ServiceRun, SigtermDuringACycleEndsTheProgramOnlyAfterTheCycle) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
  InsertPontos(1, "VV", 501, "10");
  InsertPontos(2, "VV", 502, "10");
  // Slow enough that the stop surely arrives while the first posting is in flight.
  ScriptedReply slow = ScriptedReply::Json(200, "{}");
  slow.delay_ms = 5000;
  platform_->Script("POST", "/v1/lancador", {slow});

  // A copy of the program in a folder of its own, so that its log lies there.
  const fs::path folder = fs::temp_directory_path() / fmt::format("zendrel-run-{}", ::getpid());
  fs::create_directories(folder);
  fs::copy_file(ZENDREL_TEST_PROGRAM, folder / "Zendrel", fs::copy_options::overwrite_existing);
  fs::copy_file(db_->settings_folder() / "Tarvix.ini", folder / "Tarvix.ini", fs::copy_options::overwrite_existing);

  ChildProcess service((folder / "Zendrel").string(), {},
                       {{"ZENDREL_TEST_FIRST_INTERVAL_MS", "50"}, {"ZENDREL_TEST_HTTP_TIMEOUT_MS", "10000"}});
  ASSERT_TRUE(Eventually([&] { return !Postings().empty(); })) << "no posting arrived\n" << service.Errors();
  ASSERT_EQ(Postings().size(), 1u) << "the stop should arrive during the first, slow posting";

  service.Signal(SIGTERM);
  const auto status = service.Wait(std::chrono::seconds(60));
  ASSERT_TRUE(status.has_value()) << "the program did not end after SIGTERM";
  EXPECT_EQ(*status, 0) << service.Errors();
  // The cycle went on after the stop: both movements posted and committed before the exit.
  EXPECT_EQ(Postings().size(), 2u);
  EXPECT_EQ(PontosIndex(), 2);
  fs::remove_all(folder);
}

// A copy of the program in a folder of its own (its installation), with the test
// database's Tarvix.ini; removed at the end.
class Installation {
 public:
  explicit Installation(const fs::path& settings_folder, const std::string& name)
      : folder_(fs::temp_directory_path() / fmt::format("zendrel-{}-{}", name, ::getpid())) {
    fs::create_directories(folder_);
    fs::copy_file(ZENDREL_TEST_PROGRAM, program(), fs::copy_options::overwrite_existing);
    fs::copy_file(settings_folder / "Tarvix.ini", folder_ / "Tarvix.ini", fs::copy_options::overwrite_existing);
  }
  ~Installation() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;
  std::string program() const { return (folder_ / "Zendrel").string(); }
  std::vector<std::string> Log() const { return LogMessages(folder_ / "Zendrel.log"); }

 private:
  fs::path folder_;
};

const std::map<std::string, std::string> kQuickProgram{{"ZENDREL_TEST_FIRST_INTERVAL_MS", "50"},
                                                       {"ZENDREL_TEST_HTTP_TIMEOUT_MS", "10000"}};

// Two "-once" runs started together: one runs the cycle, the other changes nothing,
// says in one line that a relay runs and how to stop the service, and exits 1. Each
// movement reaches the platform once.
TEST_F(ServiceRun, TwoRunsStartedTogetherPostEachMovementOnce) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
  for (int i = 1; i <= 3; ++i) InsertPontos(i, "VV", 500 + i, "10");
  // Slow replies keep the first run's cycle going while the second one starts, however
  // slowly a loaded machine starts it.
  ScriptedReply slow = ScriptedReply::Json(200, "{}");
  slow.delay_ms = 2000;
  platform_->Script("POST", "/v1/lancador", {slow, slow, slow});
  Installation installation(db_->settings_folder(), "two-runs");

  ChildProcess first(installation.program(), {"-once"}, kQuickProgram);
  ChildProcess second(installation.program(), {"-once"}, kQuickProgram);
  const auto first_status = first.Wait(std::chrono::seconds(60));
  const auto second_status = second.Wait(std::chrono::seconds(60));
  ASSERT_TRUE(first_status.has_value() && second_status.has_value());
  const bool first_ran = *first_status == 0;
  const ChildProcess& refused = first_ran ? second : first;
  EXPECT_EQ(first_ran ? *second_status : *first_status, 1) << "both runs ran a cycle";
  EXPECT_EQ(first_ran ? *first_status : *second_status, 0) << first.Errors() << second.Errors();
  EXPECT_EQ(refused.Errors(),
            "O serviço SrvZendrel (ou outra execução do Zendrel desta pasta) já está em execução; nada foi feito. "
            "Para parar o serviço: systemctl stop SrvZendrel\n");
  EXPECT_EQ(refused.Output(), "");

  const auto postings = Postings();
  ASSERT_EQ(postings.size(), 3U);
  for (std::size_t i = 0; i < postings.size(); ++i) {
    EXPECT_EQ(FormField(postings[i].body, "legado"), std::to_string(500 + i + 1)) << postings[i].body;
  }
  EXPECT_EQ(PontosIndex(), 3);
}

// Beside a running service: "-once" refuses and writes nothing to the log, a second
// service process writes one log line and ends, and "-status" (which takes no lock)
// still reports.
TEST_F(ServiceRun, BesideTheRunningServiceOnlyStatusRuns) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
  InsertPontos(1, "VV", 501, "10");
  ScriptedReply slow = ScriptedReply::Json(200, "{}");
  slow.delay_ms = 3000;
  platform_->Script("POST", "/v1/lancador", {slow});
  Installation installation(db_->settings_folder(), "beside-service");

  ChildProcess service(installation.program(), {}, kQuickProgram);
  ASSERT_TRUE(Eventually([&] { return !Postings().empty(); }))
      << "the service posted nothing within 60 s: " << service.Errors();
  const std::size_t log_before = installation.Log().size();

  const RunResult once = RunToEnd(installation.program(), {"-once"}, kQuickProgram);
  EXPECT_EQ(once.status, 1);
  EXPECT_NE(once.err.find("systemctl stop SrvZendrel"), std::string::npos) << once.err;
  EXPECT_EQ(installation.Log().size(), log_before);

  const RunResult second_service = RunToEnd(installation.program(), {}, kQuickProgram);
  EXPECT_EQ(second_service.status, 1);
  const auto log = installation.Log();
  ASSERT_EQ(log.size(), log_before + 1);
  EXPECT_EQ(log.back(),
            "Outra execução do Zendrel desta pasta já está em andamento; este processo termina sem fazer nada");

  const RunResult status = RunToEnd(installation.program(), {"-status"}, kQuickProgram);
  EXPECT_NE(status.out.find("Zendrel - situação em"), std::string::npos) << status.out << status.err;
  EXPECT_EQ(status.err.find("já está em execução"), std::string::npos) << status.err;

  service.Signal(SIGTERM);
  const auto ended = service.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(ended.has_value());
  EXPECT_EQ(*ended, 0) << service.Errors();
  EXPECT_EQ(Postings().size(), 1U);
  EXPECT_EQ(PontosIndex(), 1);
  // Once the service has ended, "-once" runs again.
  const RunResult after = RunToEnd(installation.program(), {"-once"}, kQuickProgram);
  EXPECT_EQ(after.status, 0) << after.err;
}

// ---- Zendrel -once: exit 0 only for a cycle that did all its work without a log entry ----

// The test program copied into a folder of its own (its log lies beside it), run once.
class ProgramOnce : public PollCycle {
 protected:
  void SetUp() override {
    PollCycle::SetUp();
    folder_ = fs::temp_directory_path() / fmt::format("zendrel-once-{}", ::getpid());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::copy_file(ZENDREL_TEST_PROGRAM, folder_ / "Zendrel");
  }
  void TearDown() override {
    fs::remove_all(folder_);
    PollCycle::TearDown();
  }

  void WriteSettings(const std::string& servidor, const std::string& caminho) {
    std::ofstream(folder_ / "Tarvix.ini") << "[Tarvix]\r\nServidor=" << servidor << "\r\nCaminho=" << caminho << "\r\n";
  }
  // Tarvix.ini of the test database.
  void UseTestDatabase() {
    fs::copy_file(db_->settings_folder() / "Tarvix.ini", folder_ / "Tarvix.ini", fs::copy_options::overwrite_existing);
  }

  RunResult Once() {
    return RunToEnd((folder_ / "Zendrel").string(), {"-once"}, {{"ZENDREL_TEST_HTTP_TIMEOUT_MS", "10000"}});
  }

  bool Logged() const { return fs::exists(folder_ / "Zendrel.log"); }

  fs::path folder_;
};

TEST_F(ProgramOnce, ACycleThatDidEverythingWithoutALogEntryExits0) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0, BRINDEX_ATIVARTOPVENDA = 'Y'");
  InsertPontos(1, "VV", 501, "10");
  UseTestDatabase();
  const RunResult run = Once();
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(PontosIndex(), 1);
  EXPECT_FALSE(Logged());
}

TEST_F(ProgramOnce, ARefusalIsPrintedAndExits1) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
  InsertPontos(1, "VV", 501, "10");
  platform_->Script("POST", "/v1/lancador", {ScriptedReply::Json(400, R"({"errors":["CPF inválido"]})")});
  UseTestDatabase();
  const RunResult run = Once();
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.out.find(" - MovimentoPontos: CPF inválido\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "Zendrel -once: o ciclo escreveu 1 entrada no log (acima)\n");
  EXPECT_EQ(PontosIndex(), 0);
}

TEST_F(ProgramOnce, ADatabaseThatCannotBeReachedExits1) {
  WriteSettings("localhost", "/tmp/zendrel-no-such-db.fdb");
  const RunResult run = Once();
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.out.find(" - Falha na conexão com o banco de dados!!!\n"), std::string::npos) << run.out;
  // The cause (the first password is refused, the second finds no file), then the
  // client's own words.
  EXPECT_EQ(run.err.rfind("Zendrel -once: o banco de dados não foi alcançado: o arquivo do banco não existe nesse "
                          "caminho no servidor",
                          0),
            0u)
      << run.err;
  EXPECT_NE(run.err.find("/tmp/zendrel-no-such-db.fdb"), std::string::npos) << run.err;
  EXPECT_TRUE(run.err.ends_with("\nZendrel -once: o ciclo escreveu 1 entrada no log (acima)\n")) << run.err;
}

TEST_F(ProgramOnce, AnExceptionOfTheCycleIsPrintedAndExits1) {
  // The top-sales rebuild fails half-way: the table it copies from is gone.
  CreateDatabase("BRINDEX_ATIVARPONTUACAO = 'N', BRINDEX_ATIVARTOPVENDA = 'Y', BRINDEX_ULTIMOENVIOTOPVENDA = NULL");
  db_->Execute("DROP TABLE VENDAS");
  UseTestDatabase();
  const RunResult run = Once();
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(run.err.rfind("Zendrel -once: o ciclo terminou com um erro: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("VENDAS"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Zendrel -once: 1 de 1 campanhas ligadas não chegaram ao fim\n"), std::string::npos)
      << run.err;
  EXPECT_TRUE(Logged());
}

// The service stays silent on the ERP's client machines; -once says why it did nothing.
TEST_F(ProgramOnce, AnotherMachineLogsNothingAndSaysWhyItDidNothing) {
  WriteSettings("database-server.invalid", "/nowhere.fdb");
  const RunResult run = Once();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("Zendrel -once: não é o servidor do banco de dados (Servidor=database-server.invalid, "
                          "este computador: nome \"",
                          0),
            0u)
      << run.err;
  EXPECT_NE(run.err.find("interfaces "), std::string::npos) << run.err;
  EXPECT_FALSE(Logged());
  EXPECT_TRUE(platform_->Requests().empty());
}

// A Servidor holding this machine's network address (its name may resolve only to
// loopback): the cycle goes on to the database instead of doing nothing.
TEST_F(ProgramOnce, AnInterfaceAddressOfThisMachineCountsAsTheServer) {
  std::string address;
  for (const std::string& candidate : SystemHostIdentity().InterfaceIPv4()) {
    if (!candidate.starts_with("127.")) address = candidate;
  }
  if (address.empty()) GTEST_SKIP() << "this machine has no IPv4 interface besides loopback";
  WriteSettings(address, "/tmp/zendrel-no-such-db.fdb");
  const RunResult run = Once();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.find("não é o servidor"), std::string::npos) << run.err;
  // The database does not exist, wherever the server listens: the attempt is logged.
  EXPECT_NE(run.out.find(" - Falha na conexão com o banco de dados!!!\n"), std::string::npos) << run.out;
  EXPECT_TRUE(Logged());
}

}  // namespace
}  // namespace zendrel::testing
