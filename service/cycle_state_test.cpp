// The state file a real poll cycle writes for -status (against the real Firebird
// server and the fake platform): where each campaign stopped and why, how the cycle
// ended, that it is written when the cycle starts, and the daily log line of a
// certificate whose checks were waived.
#include "service/cycle_state_file.h"

#include <gtest/gtest.h>

#include <string>

#include "service/testing/poll_cycle_fixture.h"

namespace zendrel::testing {
namespace {

class CycleStateFile : public PollCycle {
 protected:
  fs::path StateFile() const { return db_->settings_folder() / "Zendrel.state"; }

  CycleState ReadState() const {
    const CycleStateRead read = ReadCycleStateFile(StateFile());
    EXPECT_TRUE(read.found);
    EXPECT_TRUE(read.state.has_value()) << read.error;
    return read.state.value_or(CycleState{});
  }
};

struct StopCase {
  const char* name;
  CampaignStopKind kind;
  std::optional<std::int64_t> movement;
  int status;
  int accepted;
  std::int64_t index_after;
  const char* message_start;    // of the platform's message, the error or the till's transactions
  const char* transport_start;  // of the transport's reason
};

class CycleStops : public CycleStateFile, public ::testing::WithParamInterface<StopCase> {};

TEST_P(CycleStops, TheRecordSaysWhereAndWhyTheCampaignStopped) {
  const StopCase& c = GetParam();
  const std::string name = c.name;
  if (name == "held_by_a_till") pending_lock_timeout_ = std::chrono::seconds(1);
  CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
  InsertPontos(101, "VV", 601, "10");
  InsertPontos(102, "VV", 602, "10");
  std::unique_ptr<SqlSession> till;
  if (name == "refused") {
    platform_->Script("POST", "/v1/lancador", {ScriptedReply::Json(400, R"({"errors":["CPF inválido"]})")});
  } else if (name == "server_error") {
    platform_->Script("POST", "/v1/lancador", {ScriptedReply::Text(503, "fora do ar")});
  } else if (name == "nothing_listens") {
    SetPadrao("BRINDEXWEBSERVICE = 'http://127.0.0.1:9/'");
  } else if (name == "held_by_a_till") {
    // Numbered after 102 and left uncommitted: the read waits for it past its limit.
    till = db_->OpenSession();
    till->Execute(
        "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, CARTAO, NOME, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR, DATA) "
        "VALUES (103, '111.222.333-96', '5001', 'Cliente', 'VV', 603, 10, '2026-12-01')");
  }

  EXPECT_TRUE(RunCycle()) << last_error_;
  if (till) till->Rollback();

  const CycleState state = ReadState();
  EXPECT_EQ(state.end, CycleEnd::kDone);
  EXPECT_EQ(state.started, (DateTime{2026, 12, 10, 9, 30, 0, 0}));
  ASSERT_TRUE(state.ended.has_value());
  EXPECT_EQ(state.interval_ms, 900000);
  EXPECT_TRUE(state.pontos.ran);
  EXPECT_TRUE(state.pontos.ended);
  EXPECT_FALSE(state.top_vendas.ran);
  EXPECT_EQ(state.pontos.index_before, 100);
  EXPECT_EQ(state.pontos.index_after, c.index_after);
  EXPECT_EQ(PontosIndex(), c.index_after);
  EXPECT_EQ(state.pontos.accepted, c.accepted);
  const CampaignStop& stop = state.pontos.stop;
  EXPECT_EQ(stop.kind, c.kind);
  EXPECT_EQ(stop.movement, c.movement);
  EXPECT_EQ(stop.status, c.status);
  EXPECT_EQ(stop.message.rfind(c.message_start, 0), 0u) << stop.message;
  EXPECT_EQ(stop.transport.rfind(c.transport_start, 0), 0u) << stop.transport;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Stops, CycleStops,
    ::testing::Values(
        StopCase{"all_sent", CampaignStopKind::kNone, std::nullopt, 0, 2, 102, "", ""},
        StopCase{"refused", CampaignStopKind::kRefused, 101, 400, 0, 100, "CPF inválido", ""},
        StopCase{"server_error", CampaignStopKind::kTransport, 101, 503, 0, 100,
                 "Falha na Comunicação com o Servidor da Brindex!!!", "503 erro da própria plataforma"},
        StopCase{"nothing_listens", CampaignStopKind::kTransport, 101, 0, 0, 100,
                 "Falha na Comunicação com o Servidor da Brindex!!!", "a conexão foi recusada"},
        // The read on this server waits inside itself: no transaction is named.
        StopCase{"held_by_a_till", CampaignStopKind::kHeldByTill, std::nullopt, 0, 2, 102, "", ""}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(CycleStateFile, WrittenWhenTheCycleStartsAndWhenItEnds) {
  std::optional<CycleState> at_start;
  at_cycle_start_ = [this, &at_start] { at_start = ReadCycleStateFile(StateFile()).state; };
  CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
  InsertPontos(101, "VV", 601, "10");
  EXPECT_TRUE(RunCycle()) << last_error_;
  ASSERT_TRUE(at_start.has_value()) << "no record when the cycle began";
  EXPECT_EQ(at_start->end, CycleEnd::kRunning);
  EXPECT_FALSE(at_start->ended.has_value());
  EXPECT_FALSE(at_start->pontos.ran);
  EXPECT_EQ(ReadState().end, CycleEnd::kDone);
  // Replaced whole each time: nothing else is left in the folder.
  for (const auto& entry : fs::directory_iterator(db_->settings_folder())) {
    EXPECT_EQ(entry.path().extension() == ".tmp", false) << entry.path();
  }
}

TEST_F(CycleStateFile, HowTheCycleEnded) {
  // Both passwords refused: the database is unreachable, and the record says why.
  CreateDatabase();
  const fs::path folder = fs::temp_directory_path() / fmt::format("zendrel-state-{}", ::getpid());
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / "Tarvix.ini") << "[Tarvix]\r\nServidor=localhost\r\nCaminho=/tmp/zendrel-no-such.fdb\r\n";
  CreateModule(folder);
  EXPECT_TRUE(RunCycle()) << last_error_;
  std::optional<CycleState> state = ReadCycleStateFile(folder / "Zendrel.state").state;
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->end, CycleEnd::kDatabaseUnreachable);
  EXPECT_EQ(state->error.rfind("o arquivo do banco não existe nesse caminho no servidor", 0), 0u) << state->error;

  // Not the server's machine: nothing done.
  std::ofstream(folder / "Tarvix.ini") << "[Tarvix]\r\nServidor=outro-servidor.invalid\r\n";
  EXPECT_TRUE(RunCycle()) << last_error_;
  state = ReadCycleStateFile(folder / "Zendrel.state").state;
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->end, CycleEnd::kNotServer);
  fs::remove_all(folder);

  // An exception that leaves the cycle: its text.
  CreateModule(db_->settings_folder());
  db_->Execute("ALTER TABLE PADRAO DROP BRINDEX_ATIVARTOPVENDA");
  EXPECT_FALSE(RunCycle());
  state = ReadCycleStateFile(StateFile()).state;
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->end, CycleEnd::kError);
  EXPECT_EQ(state->error, last_error_);
}

// The platform's certificate fails on its name and the calls go on: the record says so,
// and the log gets one line a day for the campaign.
TEST_F(CycleStateFile, AWaivedCertificateCheckIsRecordedAndLoggedOnceADay) {
  ApiSettings trusting = ShortTimeouts(clock_);
  trusting.trust.ca_file = platform_->CaFile();
  const ScopedApiSettings trust_scope(trusting);
  CreateDatabase(
      fmt::format("BRINDEX_ULTIMOENVIO = 100, BRINDEXWEBSERVICE = '{}'", platform_->TrustedWrongNameHttpsBaseUrl()));
  InsertPontos(101, "VV", 601, "10");
  InsertPontos(102, "VV", 602, "10");
  const std::string line =
      "Campanha de pontos: o certificado da plataforma (127.0.0.1) não passou na verificação: o nome no certificado "
      "não confere com o endereço da plataforma. As chamadas seguem sem verificá-lo, e os dados enviados (CPFs) podem "
      "ser lidos por quem se passar pela plataforma; corrija o certificado ou o endereço base.";

  EXPECT_TRUE(RunCycle()) << last_error_;
  EXPECT_EQ(PontosIndex(), 102);
  EXPECT_EQ(ReadState().pontos.certificate_waived, "o nome no certificado não confere com o endereço da plataforma");
  EXPECT_EQ(Log(), std::vector<std::string>{line});

  // Later the same day: no second line.
  InsertPontos(103, "VV", 603, "10");
  clock_.Set(DateTime{2026, 12, 10, 18, 0, 0, 0});
  EXPECT_TRUE(RunCycle()) << last_error_;
  EXPECT_EQ(Log(), std::vector<std::string>{line});

  // The next day: the line again.
  InsertPontos(104, "VV", 604, "10");
  clock_.Set(DateTime{2026, 12, 11, 8, 0, 0, 0});
  EXPECT_TRUE(RunCycle()) << last_error_;
  EXPECT_EQ(Log(), (std::vector<std::string>{line, line}));
  EXPECT_EQ(PontosIndex(), 104);
}

// The record's JSON form reads back as it was written.
TEST(CycleStateJsonForm, ReadsBackAsWritten) {
  CycleState state;
  state.started = DateTime{2026, 12, 10, 9, 0, 0, 0};
  state.updated = DateTime{2026, 12, 10, 9, 0, 7, 0};
  state.ended = DateTime{2026, 12, 10, 9, 0, 8, 0};
  state.end = CycleEnd::kError;
  state.error = "linha 1\nlinha \"2\"";
  state.interval_ms = 900000;
  state.pontos = CampaignRun{
      true,      false, std::nullopt, 7, 3, CampaignStop{CampaignStopKind::kRefused, 8, 400, "CPF não cadastrado", ""},
      "expirado"};
  state.top_vendas =
      CampaignRun{true, true, 0, 0, 0, CampaignStop{CampaignStopKind::kHeldByTill, {}, 0, "t 1", ""}, ""};
  const std::optional<CycleState> read = ParseCycleState(CycleStateJson(state));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->started, state.started);
  EXPECT_EQ(read->updated, state.updated);
  EXPECT_EQ(read->ended, state.ended);
  EXPECT_EQ(read->end, state.end);
  EXPECT_EQ(read->error, state.error);
  EXPECT_EQ(read->interval_ms, state.interval_ms);
  EXPECT_EQ(read->pontos.index_before, std::nullopt);
  EXPECT_EQ(read->pontos.index_after, 7);
  EXPECT_EQ(read->pontos.accepted, 3);
  EXPECT_FALSE(read->pontos.ended);
  EXPECT_EQ(read->pontos.stop.kind, CampaignStopKind::kRefused);
  EXPECT_EQ(read->pontos.stop.movement, 8);
  EXPECT_EQ(read->pontos.stop.message, "CPF não cadastrado");
  EXPECT_EQ(read->pontos.certificate_waived, "expirado");
  EXPECT_EQ(read->top_vendas.stop.kind, CampaignStopKind::kHeldByTill);
  EXPECT_EQ(read->top_vendas.stop.movement, std::nullopt);
  EXPECT_EQ(read->top_vendas.stop.message, "t 1");

  EXPECT_FALSE(ParseCycleState("").has_value());
  EXPECT_FALSE(ParseCycleState("{\"inicio\": \"ontem\"}").has_value());
}

}  // namespace
}  // namespace zendrel::testing
