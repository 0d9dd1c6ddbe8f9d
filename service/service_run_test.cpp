// The service running on its own schedule: ticks driven by the main loop, an exception
// escaping a tick, and the program stopped by SIGTERM in the middle of a busy cycle.
#include <signal.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

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
  EXPECT_EQ(log.back(), "Outra execução do Zendrel desta pasta já está em andamento; este processo termina sem fazer nada");

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

}  // namespace
}  // namespace zendrel::testing
