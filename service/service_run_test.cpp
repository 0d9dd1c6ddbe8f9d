// The service running on its own schedule: ticks driven by the main loop, an exception
// escaping a tick, and the program stopped by SIGTERM in the middle of a busy cycle.
#include <signal.h>

#include <chrono>
#include <thread>

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

}  // namespace
}  // namespace zendrel::testing
