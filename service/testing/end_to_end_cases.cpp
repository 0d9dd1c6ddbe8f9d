// The end-to-end cases of "-once" and the run of one program build against them.
#include "service/testing/end_to_end_cases.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "service/testing/child_process.h"
#include "support/testing/eventually.h"
#include "support/testing/temp_folder.h"
#include "support/text_codec.h"

namespace zendrel::testing {
namespace {

std::vector<std::string> Legados(const std::vector<RecordedRequest>& postings) {
  std::vector<std::string> legados;
  for (const RecordedRequest& r : postings) legados.push_back(FormField(r.body, "legado"));
  return legados;
}

std::vector<std::string> MethodsAndPaths(const std::vector<RecordedRequest>& requests) {
  std::vector<std::string> seen;
  for (const RecordedRequest& r : requests) seen.push_back(r.method + " " + r.path);
  return seen;
}

// The program runs from a folder whose name has accents, as a store's "Área de
// Trabalho" or an ERP's folder may: the attachment must not depend on the folder.
class TempFolder : public testing::TempFolder {
 public:
  TempFolder() : testing::TempFolder("zendrel-once-Integração") {}
};

constexpr const char* kTillInsertPontos =
    "INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR, DATA) "
    "VALUES ('111.222.333-96', 'VV', {}, 10, '2026-12-10')";

}  // namespace

void EndToEndCycle::WaitForRequests(const std::string& method, const std::string& path, std::size_t count) const {
  EXPECT_TRUE(Eventually([&] { return Only(platform_->Requests(), method, path).size() >= count; }))
      << "within 60 s the platform did not receive " << count << " x " << method << " " << path;
}

void EndToEndCycle::WaitForAReadOfPendingMovementsThatWaits() const {
  EXPECT_TRUE(Eventually([&] { return db_->AnotherAttachmentIsRunningOn("BRINDEX_PONTOS"); }))
      << "within 60 s no read of the pending points movements was seen waiting";
}

void EndToEndCycle::SignalProgram(int signal_number) {
  ASSERT_NE(running_, nullptr) << "no program is running";
  running_->Signal(signal_number);
}

std::string EndToEndCycle::AsLogBytes(const std::string& utf8) const {
  return program_->log_in_windows_1252 ? Utf8ToWindows1252(utf8) : utf8;
}

namespace {

// One copy of the program in a fresh folder of its own, with the database's Tarvix.ini.
struct InstalledCopy {
  TempFolder folder;
  std::string executable;
  std::vector<std::string> args;
};

std::unique_ptr<InstalledCopy> InstallCopy(const ProgramUnderTest& program, const fs::path& settings) {
  auto copy = std::make_unique<InstalledCopy>();
  const fs::path file = copy->folder.path() / program.file_name;
  fs::copy_file(program.program, file);
  fs::permissions(file, fs::perms::owner_all);
  fs::copy_file(settings, copy->folder.path() / "Tarvix.ini");
  copy->executable = program.launcher.empty() ? file.string() : program.launcher;
  copy->args = {file.string(), "-once"};
  if (program.launcher.empty()) copy->args.erase(copy->args.begin());
  return copy;
}

// The lock time-out, reconnection pause and HTTP time-outs are shortened only so that
// a failing case ends soon; no case depends on their values.
const std::map<std::string, std::string>& OnceEnvironment() {
  static const std::map<std::string, std::string> env{{"ZENDREL_TEST_NOW", kEndToEndNow},
                                                      {"ZENDREL_TEST_LOCK_TIMEOUT_S", "20"},
                                                      {"ZENDREL_TEST_RECONNECT_PAUSE_MS", "500"},
                                                      {"ZENDREL_TEST_HTTP_TIMEOUT_MS", "15000"}};
  return env;
}

OnceOutcome Finish(ChildProcess& child, const InstalledCopy& copy, const ProgramUnderTest& program) {
  OnceOutcome outcome;
  const std::optional<int> status = child.Wait(std::chrono::seconds(180));
  outcome.status = status.value_or(-1);
  outcome.output = child.Output();
  // Lines as the Linux program ends them: a Windows program's standard error is in
  // text mode, with CR LF.
  for (const char c : child.Errors()) {
    if (c != '\r') outcome.errors += c;
  }
  const fs::path log = copy.folder.path() / "Zendrel.log";
  if (fs::exists(log)) {
    outcome.log_bytes = ReadFile(log);
    for (const std::string& message : LogMessages(log)) {
      outcome.log.push_back(program.log_in_windows_1252 ? Windows1252ToUtf8(message) : message);
    }
  }
  return outcome;
}

}  // namespace

OnceOutcome EndToEndCycle::RunOnce(const ProgramUnderTest& program, const EndToEndCase& case_under_test) {
  program_ = &program;
  const auto copy = InstallCopy(program, db_->settings_folder() / "Tarvix.ini");
  ChildProcess child(copy->executable, copy->args, OnceEnvironment());
  running_ = &child;
  std::thread alongside;
  if (case_under_test.while_running) {
    alongside = std::thread([&] {
      WaitForRequests("GET", "/v1/reset", 1);
      case_under_test.while_running(*this);
    });
  }
  OnceOutcome outcome = Finish(child, *copy, program);
  if (alongside.joinable()) alongside.join();
  running_ = nullptr;
  return outcome;
}

std::vector<OnceOutcome> EndToEndCycle::RunOnceInFolders(const ProgramUnderTest& program,
                                                         std::vector<std::string>& folder_names) {
  program_ = &program;
  std::vector<std::unique_ptr<InstalledCopy>> copies;
  std::vector<std::unique_ptr<ChildProcess>> children;
  for (std::size_t i = 0; i < folder_names.size(); ++i) {
    copies.push_back(InstallCopy(program, db_->settings_folder() / "Tarvix.ini"));
    folder_names[i] = copies.back()->folder.path().filename().string();
  }
  for (const auto& copy : copies) {
    children.push_back(std::make_unique<ChildProcess>(copy->executable, copy->args, OnceEnvironment()));
  }
  std::vector<OnceOutcome> outcomes;
  for (std::size_t i = 0; i < copies.size(); ++i) outcomes.push_back(Finish(*children[i], *copies[i], program));
  return outcomes;
}

void EndToEndCycle::TwoCopiesInTwoFoldersPostOnlyOnce(const ProgramUnderTest& program) {
  CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
  InsertPontos(101, "VV", 601, "10");
  InsertPontos(102, "VV", 602, "10");
  // Slow enough that the second copy connects while the first still works, however
  // slowly either starts.
  ScriptedReply slow_question = ScriptedReply::Json(200, "[]");
  slow_question.delay_ms = 5000;
  platform_->Script("GET", "/v1/reset", {slow_question});
  ScriptedReply slow_posting = ScriptedReply::Json(200, "{}");
  slow_posting.delay_ms = 1000;
  platform_->Script("POST", "/v1/lancador", {slow_posting});

  std::vector<std::string> folders(2);
  const std::vector<OnceOutcome> outcomes = RunOnceInFolders(program, folders);

  EXPECT_EQ(Legados(Postings()), (std::vector<std::string>{"601", "602"}));
  EXPECT_EQ(PontosIndex(), 102);
  EXPECT_EQ(Only(platform_->Requests(), "GET", "/v1/reset").size(), 1u) << "the second copy asked the platform too";
  const bool first_won = outcomes[0].status == 0;
  const OnceOutcome& winner = outcomes[first_won ? 0 : 1];
  const OnceOutcome& loser = outcomes[first_won ? 1 : 0];
  EXPECT_EQ(winner.status, 0) << winner.errors;
  EXPECT_EQ(loser.status, 1) << loser.errors;
  const std::string database_file = db_->SelectText("SELECT MON$DATABASE_NAME FROM MON$DATABASE").value_or("?");
  const std::string winner_folder = folders[first_won ? 0 : 1];
  // One line, naming the database and the folder of the copy that holds it.
  EXPECT_EQ(loser.errors.rfind("O banco de dados " + database_file +
                                   " já está sendo atendido por outra execução do "
                                   "Zendrel na pasta ",
                               0),
            0u)
      << loser.errors;
  EXPECT_NE(loser.errors.find(winner_folder + "; este ciclo não fez nada\n"), std::string::npos)
      << loser.errors << " does not name " << winner_folder;
  EXPECT_EQ(std::count(loser.errors.begin(), loser.errors.end(), '\n'), 1) << loser.errors;
  ASSERT_EQ(loser.log.size(), 1u);
  EXPECT_EQ(loser.log[0] + "\n", loser.errors);
}

const std::vector<EndToEndCase>& EndToEndCycle::Cases() {
  static const std::vector<EndToEndCase> cases{
      {"BothCampaignsPostExactBodiesAndMoveTheirIndexes",
       [](EndToEndCycle& t) {
         t.CreateDatabase("BRINDEX_ULTIMOENVIO = 100, BRINDEX_ATIVARTOPVENDA = 'Y', BRINDEX_ULTIMOENVIOTOPVENDA = 0");
         t.RecordIndexWrites();
         t.InsertPontos(99, "VV", 499, "1");  // already sent
         t.InsertPontos(101, "VV", 601, "12.34");
         t.InsertPontos(102, "VP", 602, "5");  // moves the index without a posting
         t.InsertPontos(103, "RC", 603, "-7.5", "444.555.666-01");
         t.InsertFuncionario(1, "'123.456.789-09'");
         t.InsertFuncionario(2, "'987.654.321-00'");
         t.InsertMovTopVendas(1, "2021-09-23", "14:30:00", 1, "7891 & 2", "3", 55);
         t.InsertMovTopVendas(2, "2021-09-24", "08:00:00", 2, "789", "2.5", 57, "D");
       },
       nullptr,
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         EXPECT_EQ(outcome.status, 0) << outcome.errors;
         const auto requests = platform_->Requests();
         EXPECT_EQ(MethodsAndPaths(requests),
                   (std::vector<std::string>{"GET /v1/reset", "POST /v1/lancador", "POST /v1/lancador", "GET /v1/reset",
                                             "POST /v1/lancador", "POST /v1/lancador"}));
         const auto postings = t.Postings();
         ASSERT_EQ(postings.size(), 4u);
         EXPECT_EQ(postings[0].body,
                   "cpf=11122233396&legado=601&ponto=12.34&dtocorrencia=2026-12-10 09:30:00&tipo=0"
                   "&cnpj=12345678000195&versao=quimero9.0");
         EXPECT_EQ(postings[1].body,
                   "cpf=44455566601&legado=603&ponto=-7.50&dtocorrencia=2026-12-10 09:30:00&tipo=1"
                   "&cnpj=12345678000195&versao=quimero9.0");
         EXPECT_EQ(postings[2].body,
                   "software=quimero&versao=9.0&cnpj=12345678000195&cpf=12345678909&legado=55&ean=7891 & 2"
                   "&quantidade=3&dtocorrencia=2021-09-23 14:30:00&tipo=0");
         EXPECT_EQ(postings[3].body,
                   "software=quimero&versao=9.0&cnpj=12345678000195&cpf=98765432100&legado=57&ean=789"
                   "&quantidade=2&dtocorrencia=2021-09-24 08:00:00&tipo=2");
         EXPECT_EQ(t.IndexWrites(), (std::vector<std::int64_t>{101, 102, 103}));
         EXPECT_EQ(t.PontosIndex(), 103);
         EXPECT_EQ(t.TopVendasIndex(), 2);
         EXPECT_TRUE(outcome.log.empty());
       }},

      {"ARefusalStopsTheCampaignAndIsLoggedInTheHostsEncoding",
       [](EndToEndCycle& t) {
         t.CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
         t.InsertPontos(101, "VV", 601, "10");
         t.InsertPontos(102, "VV", 602, "10");
         t.InsertPontos(103, "VV", 603, "10");
         platform_->Script(
             "POST", "/v1/lancador",
             {ScriptedReply::Json(200, "{}"), ScriptedReply::Json(400, R"({"errors":["CPF inválido"]})")});
       },
       nullptr,
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         // A cycle that logged a refusal did not do all its work: -once says so.
         EXPECT_EQ(outcome.status, 1) << outcome.errors;
         EXPECT_NE(outcome.errors.find("Zendrel -once: o ciclo escreveu 1 entrada no log"), std::string::npos)
             << outcome.errors;
         EXPECT_EQ(Legados(t.Postings()), (std::vector<std::string>{"601", "602"}));
         EXPECT_EQ(t.PontosIndex(), 101);
         EXPECT_EQ(outcome.log, std::vector<std::string>{"MovimentoPontos: CPF inválido"});
         EXPECT_NE(outcome.log_bytes.find(t.AsLogBytes(" - MovimentoPontos: CPF inválido\r\n")), std::string::npos)
             << outcome.log_bytes;
         // -once shows the entry it wrote.
         EXPECT_NE(outcome.output.find("MovimentoPontos: CPF inv"), std::string::npos) << outcome.output;
       }},

      {"APointsResetBeforeTheFirstMovementResendsEverything",
       [](EndToEndCycle& t) {
         t.CreateDatabase("BRINDEX_ULTIMOENVIO = 103");
         t.InsertPontos(101, "VV", 601, "10", "111.222.333-96", "2026-11-20");
         t.InsertPontos(102, "VV", 602, "10", "111.222.333-96", "2026-11-21");
         t.InsertPontos(103, "VV", 603, "10", "111.222.333-96", "2026-11-22");
         platform_->Script("GET", "/v1/reset",
                           {ScriptedReply::Json(200, R"([{"data":"2026-11-01T10:00:00","uri":" r-1 "}])")});
       },
       nullptr,
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         EXPECT_EQ(outcome.status, 0) << outcome.errors;
         const auto acks = Only(platform_->Requests(), "POST", "/v1/reset");
         ASSERT_EQ(acks.size(), 1u);
         EXPECT_EQ(acks[0].body, "cnpj=12345678000195&uri= r-1 ");
         EXPECT_EQ(Legados(t.Postings()), (std::vector<std::string>{"601", "602", "603"}));
         EXPECT_EQ(t.PontosIndex(), 103);
       }},

      {"TheTopSalesFirstRunRebuildsFromTodayAndSends",
       [](EndToEndCycle& t) {
         t.CreateTopSalesDatabase("BRINDEX_ULTIMOENVIOTOPVENDA = NULL");
         t.InsertMovTopVendas(5, "2026-01-01", "08:00:00", 1, "789", "1", 42);  // an old row: the rebuild drops it
         t.db_->Execute("ALTER SEQUENCE GEN_BRINDEX_MOV_TOPVENDAS RESTART WITH 5");
         t.InsertVenda(10, "2026-12-09", 1, "789");                           // before today
         t.InsertVenda(11, "2026-12-10", 1, "789", "'2026-12-10 11:00:00'");  // cancelled
         t.InsertVenda(13, "2026-12-10", 1, "789");
         t.InsertVenda(14, "2026-12-10", 2, "789");
       },
       nullptr,
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         EXPECT_EQ(outcome.status, 0) << outcome.errors;
         EXPECT_EQ(t.Rows("SELECT CODIGOMOVIMENTO, VENDEDOR FROM BRINDEX_MOV_TOPVENDAS ORDER BY SEQUENCIAL"),
                   (std::vector<std::string>{"13|1", "14|2"}));
         EXPECT_EQ(Legados(t.Postings()), (std::vector<std::string>{"13", "14"}));
         EXPECT_EQ(t.TopVendasIndex(), t.db_->SelectInteger("SELECT MAX(SEQUENCIAL) FROM BRINDEX_MOV_TOPVENDAS"));
         EXPECT_GT(t.TopVendasIndex().value_or(0), 5);
       }},

      // The attachment is killed (as an administrator does) while the cycle waits for the
      // platform's answer to the reset question: the cycle reconnects and delivers.
      {"AKilledAttachmentIsReconnectedAndTheMovementsStillGo",
       [](EndToEndCycle& t) {
         t.CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
         t.InsertPontos(1, "VV", 501, "10");
         t.InsertPontos(2, "VV", 502, "10");
         ScriptedReply slow = ScriptedReply::Json(200, "[]");
         slow.delay_ms = 2000;
         platform_->Script("GET", "/v1/reset", {slow});
       },
       [](EndToEndCycle& t) {
         // The program's attachment is open while it waits for the platform.
         EXPECT_GE(t.db_
                       ->SelectInteger("SELECT COUNT(*) FROM MON$ATTACHMENTS "
                                       "WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION AND MON$SYSTEM_FLAG = 0")
                       .value_or(0),
                   1);
         t.db_->KillOtherAttachments();
       },
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         EXPECT_EQ(outcome.status, 0) << outcome.errors;
         EXPECT_EQ(Legados(t.Postings()), (std::vector<std::string>{"501", "502"}));
         EXPECT_EQ(t.PontosIndex(), 2);
         EXPECT_TRUE(outcome.log.empty());
       }},

      // Two tills commit out of order: the cycle waits for the older movement instead of
      // passing over it, and sends both in order once it is committed.
      {"AMovementCommittedWhileTheCycleWaitsIsSentInOrder",
       [](EndToEndCycle& t) {
         t.CreateDatabase("BRINDEX_ULTIMOENVIO = 0");
         t.InsertPontos(1, "VV", 500, "10");
         t.db_->Execute("ALTER SEQUENCE GEN_BRINDEX_PONTOS RESTART WITH 200");
         t.tills_.push_back(t.db_->OpenSession());
         t.tills_.push_back(t.db_->OpenSession());
         t.tills_[0]->Execute(fmt::format(kTillInsertPontos, 201));  // takes 201, not committed yet
         t.tills_[1]->Execute(fmt::format(kTillInsertPontos, 202));  // takes 202
         t.tills_[1]->Commit();
       },
       [](EndToEndCycle& t) {
         t.WaitForAReadOfPendingMovementsThatWaits();
         t.tills_[0]->Commit();
       },
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         EXPECT_EQ(outcome.status, 0) << outcome.errors;
         EXPECT_EQ(Legados(t.Postings()), (std::vector<std::string>{"500", "201", "202"}));
         EXPECT_EQ(t.PontosIndex(), 202);
         EXPECT_TRUE(outcome.log.empty());
       }},

      // The secure channel breaks once the first posting has gone out (an HTTPS-scanning
      // antivirus): the platform may have it, so it is not posted again in this run, and
      // the index stays where it was, for the next run to post it first.
      {"AChannelBrokenAfterAPostingWentOutLeavesItsIndexForTheNextRun",
       [](EndToEndCycle& t) {
         t.CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
         t.SetPadrao(fmt::format("BRINDEXWEBSERVICE = '{}'", platform_->HttpsBaseUrl()));
         t.InsertPontos(101, "VV", 601, "10");
         t.InsertPontos(102, "VV", 602, "10");
         platform_->Script("POST", "/v1/lancador", {ScriptedReply::BreakTlsChannel()});
       },
       nullptr,
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         EXPECT_EQ(outcome.status, 1) << outcome.errors;
         EXPECT_EQ(Legados(t.Postings()), (std::vector<std::string>{"601"}));
         EXPECT_EQ(t.PontosIndex(), 100);
         // The test platform's certificate is not trusted: the day's notice of the
         // waived checks, then the posting that got no reply.
         ASSERT_EQ(outcome.log.size(), 2u) << outcome.output;
         EXPECT_NE(outcome.log.front().find("certificado"), std::string::npos) << outcome.output;
       }},

      // Ctrl+C while the platform takes its time over the second posting, and again
      // while that posting still waits: the posting is answered, its index written, and
      // the run ends there, saying so once; the third movement is left for the next run.
      {"AnInterruptDuringAPostingFinishesItWritesItsIndexAndEndsTheRun",
       [](EndToEndCycle& t) {
         t.CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
         t.InsertPontos(101, "VV", 601, "10");
         t.InsertPontos(102, "VV", 602, "10");
         t.InsertPontos(103, "VV", 603, "10");
         ScriptedReply slow = ScriptedReply::Json(200, "{}");
         slow.delay_ms = 4000;
         platform_->Script("POST", "/v1/lancador", {ScriptedReply::Json(200, "{}"), slow});
       },
       [](EndToEndCycle& t) {
         t.WaitForRequests("POST", "/v1/lancador", 2);
         t.SignalProgram(SIGINT);
         std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a second Ctrl+C, a moment later
         t.SignalProgram(SIGINT);
       },
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         EXPECT_EQ(outcome.status, 1) << outcome.errors;
         EXPECT_EQ(Legados(t.Postings()), (std::vector<std::string>{"601", "602"}));
         EXPECT_EQ(t.PontosIndex(), 102);
         const std::string said =
             "Zendrel -once: interrompido depois do movimento 102 de MovimentoPontos, com o seu índice de envio "
             "gravado; o restante fica para a próxima execução (1 pedido de interrupção depois do primeiro, "
             "enquanto o envio em andamento terminava, não mudou nada)\n";
         EXPECT_EQ(outcome.errors, said);
         EXPECT_EQ(outcome.log, (std::vector<std::string>{said.substr(0, said.size() - 1)}));
       },
       true},

      // systemctl's and kill's signal during a posting: the same orderly end.
      {"ATerminationSignalDuringAPostingFinishesItWritesItsIndexAndEndsTheRun",
       [](EndToEndCycle& t) {
         t.CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
         t.InsertPontos(101, "VV", 601, "10");
         t.InsertPontos(102, "VV", 602, "10");
         ScriptedReply slow = ScriptedReply::Json(200, "{}");
         slow.delay_ms = 3000;
         platform_->Script("POST", "/v1/lancador", {slow, ScriptedReply::Json(200, "{}")});
       },
       [](EndToEndCycle& t) {
         t.WaitForRequests("POST", "/v1/lancador", 1);
         t.SignalProgram(SIGTERM);
       },
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         EXPECT_EQ(outcome.status, 1) << outcome.errors;
         EXPECT_EQ(Legados(t.Postings()), (std::vector<std::string>{"601"}));
         EXPECT_EQ(t.PontosIndex(), 101);
         EXPECT_EQ(outcome.errors,
                   "Zendrel -once: interrompido depois do movimento 101 de MovimentoPontos, com o seu índice de "
                   "envio gravado; o restante fica para a próxima execução\n");
         EXPECT_EQ(outcome.log.size(), 1u);
       },
       true},

      // Ctrl+C while the cycle waits for the reset question's answer, before any
      // posting: nothing is posted, no index is written.
      {"AnInterruptBeforeAnyPostingPostsNothing",
       [](EndToEndCycle& t) {
         t.CreateDatabase("BRINDEX_ULTIMOENVIO = 100");
         t.InsertPontos(101, "VV", 601, "10");
         ScriptedReply slow = ScriptedReply::Json(200, "[]");
         slow.delay_ms = 3000;
         platform_->Script("GET", "/v1/reset", {slow});
       },
       [](EndToEndCycle& t) { t.SignalProgram(SIGINT); },
       [](EndToEndCycle& t, const OnceOutcome& outcome) {
         EXPECT_EQ(outcome.status, 1) << outcome.errors;
         EXPECT_TRUE(t.Postings().empty());
         EXPECT_EQ(t.PontosIndex(), 100);
         EXPECT_EQ(outcome.errors,
                   "Zendrel -once: interrompido antes de gravar o índice de envio de qualquer movimento; o restante "
                   "fica para a próxima execução\n");
       },
       true},
  };
  return cases;
}

}  // namespace zendrel::testing
