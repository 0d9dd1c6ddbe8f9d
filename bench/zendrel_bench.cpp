// The end-to-end figures of Zendrel on the real Firebird server and the fake platform
// over loopback: relaying speed and CPU against the bare minimum, over http and over
// https (trusted and wrong-name certificates), memory and CPU of a drain,
// the cost of a log entry on a big log, and the daily product refresh. Prints one
// "name value unit" line per figure and a summary line last; exits 1 when a figure
// could not be measured (a goal missed is reported, not an error).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "api/api_settings.h"
#include "api/testing/fake_platform.h"
#include "bench/bare_relay.h"
#include "erp/query.h"
#include "erp/testing/test_database.h"
#include "erp/transaction.h"
#include "service/service_module.h"
#include "support/clock.h"
#include "support/log_file.h"
#include "sync/monitoring_marker.h"
#include "sync/pending_holders.h"
#include "sync/pending_window.h"

namespace zendrel::bench {
namespace {

namespace fs = std::filesystem;
using testing::TestDatabase;
using Seconds = std::chrono::duration<double>;

double SecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return Seconds(std::chrono::steady_clock::now() - start).count();
}

struct Goal {
  std::string name;
  double value;
  double limit;
};

class Report {
 public:
  void Line(const std::string& name, double value, const std::string& unit) {
    std::cout << fmt::format("{} {:.{}f} {}", name, value, value < 10 ? 3 : 1, unit) << std::endl;
  }
  void Ratio(const std::string& name, double value, double limit) {
    Line(name, value, "x");
    goals_.push_back({name, value, limit});
  }
  void Summary() const {
    int met = 0;
    std::string missed;
    for (const Goal& goal : goals_) {
      if (goal.value <= goal.limit) {
        ++met;
      } else {
        missed += fmt::format(" {} {:.3f} > {:.2f};", goal.name, goal.value, goal.limit);
      }
    }
    std::cout << fmt::format("summary {}/{} goals met{}", met, goals_.size(), missed.empty() ? "" : ":" + missed)
              << std::endl;
  }

 private:
  std::vector<Goal> goals_;
};

void Require(bool condition, const std::string& what) {
  if (!condition) throw std::runtime_error(what);
}

// A database with one settings row aimed at `base_url`: points on, top sales off.
std::unique_ptr<TestDatabase> PointsDatabase(const std::string& base_url) {
  auto db = std::make_unique<TestDatabase>();
  db->Execute(fmt::format(
      "INSERT INTO PADRAO (CODIGO, CGC, BRINDEXWEBSERVICE, BRINDEX_ULTIMOENVIO, BRINDEX_ATIVARPONTUACAO, "
      "BRINDEX_ATIVARTOPVENDA, BRINDEX_WEBSERVICETOPVENDAS) VALUES (1, '12.345.678/0001-95', '{}', 0, 'Y', 'N', '{}')",
      base_url, base_url));
  return db;
}

// `count` pending points movements numbered 1..count, the index back at 0.
void FillMovements(const TestDatabase& db, int count) {
  db.Execute("DELETE FROM BRINDEX_PONTOS");
  db.Execute(fmt::format(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= {}) DO BEGIN "
      "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, CARTAO, NOME, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR, DATA) "
      "VALUES (:I, '111.222.333-96', '5001', 'Cliente', 'VV', 100000 + :I, 12.34, '2026-12-01'); I = I + 1; END END",
      count));
  db.Execute("UPDATE PADRAO SET BRINDEX_ULTIMOENVIO = 0");
}

std::int64_t PointsIndex(const TestDatabase& db) {
  return db.SelectInteger("SELECT BRINDEX_ULTIMOENVIO FROM PADRAO").value_or(-1);
}

fs::path TempFolder(const std::string& name) {
  fs::path folder = fs::temp_directory_path() / fmt::format("zendrel-bench-{}-{}", name, ::getpid());
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

// The wall and CPU time (user + system, every thread of this process) of `work`.
struct Cost {
  double wall = 1e9;
  double cpu = 1e9;

  void KeepBest(const Cost& other) {
    wall = std::min(wall, other.wall);
    cpu = std::min(cpu, other.cpu);
  }
};

double ProcessCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Cost CostOf(const std::function<void()>& work) {
  const double cpu_start = ProcessCpuSeconds();
  const double wall = SecondsOf(work);
  return Cost{wall, ProcessCpuSeconds() - cpu_start};
}

using BarePost = std::function<long(const std::string& url, const std::string& content_type, const std::string& body)>;

struct RelayComparison {
  Cost service;
  Cost bare;
};

// One poll cycle of the module (in this process) posting `movements` pending points
// movements to `base_url`, against the bare minimum per movement (`post` and the
// committed UPDATE), best of `rounds` rounds each, taken in turns so that a busy
// moment of the machine weighs on both alike.
RelayComparison CompareRelay(FakePlatform& platform, const std::string& base_url, int movements, int rounds,
                             const BarePost& post) {
  auto db = PointsDatabase(base_url);
  const fs::path folder = TempFolder("relay");
  LogRedirect log(folder / "Zendrel.log", SystemClock());
  auto loop = CreateMainLoop();
  ModuleSettings settings;
  settings.settings_folder = db->settings_folder();
  TSrvZendrel module(*loop, settings);

  RelayComparison result;
  std::string body;
  std::string content_type;
  for (int round = 0; round < rounds; ++round) {
    FillMovements(*db, movements);
    platform.Reset();
    result.service.KeepBest(CostOf([&] { module.Timer1Timer(); }));
    Require(PointsIndex(*db) == movements, "the points run did not reach the last movement");
    if (body.empty()) {
      for (const RecordedRequest& request : platform.Requests()) {
        if (request.method == "POST" && request.path == "/v1/lancador") {
          body = request.body;
          content_type = request.Header("Content-Type").value_or("");
          break;
        }
      }
      Require(!body.empty(), "no posting reached the platform");
    }

    platform.Reset();
    BareAttachment attachment(db->target());
    const std::string url = base_url + "/v1/lancador";
    result.bare.KeepBest(CostOf([&] {
      for (int n = 1; n <= movements; ++n) {
        Require(post(url, content_type, body) == 200, "the bare posting was not accepted");
        attachment.WriteIndex(n);
      }
    }));
  }
  platform.Reset();
  fs::remove_all(folder);
  return result;
}

// relay_ratio and cpu_ratio: a points run over 2,000 pending movements over http.
void MeasureRelay(FakePlatform& platform, Report& report) {
  constexpr int kMovements = 2000;
  const RelayComparison relay = CompareRelay(platform, platform.BaseUrl(), kMovements, 3, PostOnce);
  report.Line("relay_service", kMovements / relay.service.wall, "movements/s");
  report.Line("relay_bare", kMovements / relay.bare.wall, "movements/s");
  report.Ratio("relay_ratio", relay.service.wall / relay.bare.wall, 1.15);
  report.Line("cpu_per_movement_relay", relay.service.cpu / kMovements * 1e6, "us");
  report.Line("cpu_per_movement_relay_bare", relay.bare.cpu / kMovements * 1e6, "us");
  report.Ratio("cpu_ratio", relay.service.cpu / relay.bare.cpu, 1.3);
}

// The system's CA bundle with the fake platform's test authority added: what a
// trusted https posting of the service parses, as large as the store a site uses.
fs::path SystemBundleWithTestAuthority(const FakePlatform& platform, const fs::path& folder) {
  const fs::path bundle = folder / "ca-bundle.pem";
  std::ofstream out(bundle, std::ios::binary);
  for (const fs::path& part : {fs::path("/etc/ssl/certs/ca-certificates.crt"), fs::path(platform.CaFile())}) {
    std::ifstream in(part, std::ios::binary);
    Require(in.good(), "cannot read " + part.string());
    out << in.rdbuf() << "\n";
  }
  Require(out.good(), "cannot write " + bundle.string());
  return bundle;
}

// relay_tls: the points run over https, both figures in one run: against the listener
// whose certificate the test authority signed (the service trusts the system bundle
// with that authority added), and against the wrong-name certificate with the
// system's store (each posting fails verification and is sent again with the checks
// waived). Each against the bare loop with the same TLS settings.
void MeasureRelayTls(FakePlatform& platform, Report& report) {
  constexpr int kMovements = 300;
  const fs::path folder = TempFolder("relay-tls");
  const fs::path bundle = SystemBundleWithTestAuthority(platform, folder);
  struct Variant {
    const char* name;
    std::string base_url;
    std::string ca_file;
  };
  const Variant variants[] = {
      {"trusted", platform.TrustedHttpsBaseUrl(), bundle.string()},
      {"wrong_name", platform.HttpsBaseUrl(), ""},
  };
  for (const Variant& variant : variants) {
    ApiSettings api;
    api.trust.ca_file = variant.ca_file;
    const ScopedApiSettings api_scope(api);
    const BareTrustStore trust(variant.ca_file);
    const RelayComparison relay =
        CompareRelay(platform, variant.base_url, kMovements, 3,
                     [&trust](const std::string& url, const std::string& content_type, const std::string& body) {
                       return PostOnceTls(url, content_type, body, trust);
                     });
    const std::string name = variant.name;
    report.Line("relay_tls_service_" + name, kMovements / relay.service.wall, "movements/s");
    report.Line("relay_tls_bare_" + name, kMovements / relay.bare.wall, "movements/s");
    report.Ratio("relay_tls_ratio_" + name, relay.service.wall / relay.bare.wall, 1.2);
    report.Line("cpu_per_movement_tls_" + name, relay.service.cpu / kMovements * 1e6, "us");
    report.Line("cpu_per_movement_tls_bare_" + name, relay.bare.cpu / kMovements * 1e6, "us");
    report.Line("cpu_ratio_tls_" + name, relay.service.cpu / relay.bare.cpu, "x");
  }
  fs::remove_all(folder);
}

struct ProcessCost {
  double peak_mib = 0;
  double cpu_seconds = 0;
  double system_seconds = 0;
  int status = -1;
};

// Runs `program -once` in its own folder (where its log and Tarvix.ini lie) and takes
// its peak resident memory and CPU time from the kernel.
ProcessCost RunOnce(const fs::path& program) {
  const pid_t pid = ::fork();
  Require(pid >= 0, "fork failed");
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    const std::string path = program.string();
    ::execl(path.c_str(), path.c_str(), "-once", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  Require(::wait4(pid, &status, 0, &usage) == pid, "wait4 failed");
  ProcessCost cost;
  cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  cost.peak_mib = usage.ru_maxrss / 1024.0;  // KiB on Linux
  cost.system_seconds = usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  cost.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + cost.system_seconds;
  return cost;
}

// rss_flat and cpu_per_movement: the shipped program draining 1,000 and 10,000.
void MeasureDrain(FakePlatform& platform, Report& report) {
  auto db = PointsDatabase(platform.BaseUrl());
  const fs::path folder = TempFolder("drain");
  fs::copy_file(ZENDREL_PROGRAM, folder / "Zendrel");
  fs::copy_file(db->settings_folder() / "Tarvix.ini", folder / "Tarvix.ini");

  const auto drain = [&](int count) {
    FillMovements(*db, count);
    platform.Reset();
    const ProcessCost cost = RunOnce(folder / "Zendrel");
    Require(cost.status == 0, fmt::format("Zendrel -once ended with status {}", cost.status));
    Require(PointsIndex(*db) == count, "Zendrel -once did not drain every movement");
    platform.Reset();
    return cost;
  };
  const ProcessCost small = drain(1000);
  const ProcessCost large = drain(10000);
  fs::remove_all(folder);
  report.Line("rss_peak_1k", small.peak_mib, "MiB");
  report.Line("rss_peak_10k", large.peak_mib, "MiB");
  report.Ratio("rss_flat", large.peak_mib / small.peak_mib, 1.10);
  report.Line("cpu_per_movement", large.cpu_seconds / 10000 * 1e6, "us");
  // The kernel's share: a new connection per posting and the database round trips.
  report.Line("cpu_system_per_movement", large.system_seconds / 10000 * 1e6, "us");
}

// log_append_ratio: one DoSaveLog on a 100 MB log against one on an empty log.
void MeasureLog(Report& report) {
  constexpr int kEntries = 500;
  const fs::path folder = TempFolder("log");
  const std::string message = "MovimentoPontos: Erro interno do servidor!!!";
  const auto per_entry = [&](const fs::path& path) {
    LogRedirect log(path, SystemClock());
    double best = 1e9;
    for (int batch = 0; batch < 3; ++batch) {
      best = std::min(best, SecondsOf([&] {
                        for (int i = 0; i < kEntries; ++i) DoSaveLog(message);
                      }));
    }
    return best / kEntries;
  };
  const double empty = per_entry(folder / "empty.log");
  {
    std::ofstream out(folder / "big.log", std::ios::binary);
    const std::string line = "\r\n23/09/2021 14:05:09 - MovimentoPontos: Erro interno do servidor!!!\r\n";
    for (std::int64_t written = 0; written < (100 << 20); written += static_cast<std::int64_t>(line.size())) {
      out << line;
    }
  }
  const double big = per_entry(folder / "big.log");
  fs::remove_all(folder);
  report.Line("log_append_empty", empty * 1e6, "us");
  report.Line("log_append_100mb", big * 1e6, "us");
  report.Ratio("log_append_ratio", big / empty, 2.0);
}

// refresh_10k: one product refresh of 10,000 products (download, reading, the
// prepared upserts in one transaction) against a bare loop of the same upserts.
void MeasureRefresh(FakePlatform& platform, Report& report) {
  constexpr int kProducts = 10000;
  std::vector<std::pair<std::string, std::string>> items;
  std::string list = "[";
  for (int i = 1; i <= kProducts; ++i) {
    items.emplace_back(fmt::format("789{:010}", i), fmt::format("PRODUTO {} EMBALAGEM 500 G", i));
    list += fmt::format("{}{{\"ean\":\"{}\",\"produto\":\"Produto {} embalagem 500 g\"}}", i > 1 ? "," : "",
                        items.back().first, i);
  }
  list += "]";

  auto db = std::make_unique<TestDatabase>();
  db->Execute(fmt::format(
      "INSERT INTO PADRAO (CODIGO, CGC, BRINDEXWEBSERVICE, BRINDEX_ATIVARPONTUACAO, BRINDEX_ATIVARTOPVENDA, "
      "BRINDEX_WEBSERVICETOPVENDAS, BRINDEX_ULTIMOENVIOTOPVENDA) VALUES (1, '12.345.678/0001-95', '{}', 'N', 'Y', "
      "'{}', -1)",
      platform.BaseUrl(), platform.BaseUrl()));
  const fs::path folder = TempFolder("refresh");
  LogRedirect log(folder / "Zendrel.log", SystemClock());
  auto loop = CreateMainLoop();
  ModuleSettings settings;
  settings.settings_folder = db->settings_folder();
  TSrvZendrel module(*loop, settings);

  double refresh_best = 1e9;
  double bare_best = 1e9;
  for (int round = 0; round < 2; ++round) {
    platform.Reset();
    platform.Script("GET", "/v2/produtos", {ScriptedReply::Json(200, list)});
    db->Execute("DELETE FROM BRINDEX_PROD_TOPVENDAS");
    db->Execute("UPDATE PADRAO SET BRINDEX_ULTIMODOWNLODPRODUTOS = NULL");
    module.CarregarParametrosConexao("SYSDBA", testing::kTestPassword);
    module.erp.Connquimero.Connect();
    module.erp.TBPadrao.Open();
    refresh_best = std::min(refresh_best, SecondsOf([&] { module.EnviaMovimentoTopVendas(); }));
    module.erp.TBPadrao.Close();
    module.erp.Connquimero.Disconnect();
    Require(db->SelectInteger("SELECT COUNT(*) FROM BRINDEX_PROD_TOPVENDAS") == kProducts,
            "the refresh did not store every product");
    Require(db->SelectText("SELECT BRINDEX_ULTIMODOWNLODPRODUTOS FROM PADRAO").has_value(),
            "the refresh did not record its day");

    BareAttachment attachment(db->target());
    bare_best = std::min(bare_best, SecondsOf([&] { attachment.InsertProducts(items); }));
    Require(db->SelectInteger("SELECT COUNT(*) FROM BRINDEX_PROD_TOPVENDAS") == kProducts,
            "the bare loop did not store every product");
  }
  platform.Reset();
  fs::remove_all(folder);
  report.Line("refresh_10k", refresh_best, "s");
  report.Line("refresh_10k_bare", bare_best, "s");
  report.Ratio("refresh_10k_ratio", refresh_best / bare_best, 1.3);
}

// The wait for the ERP's tills on a server that reads in READ CONSISTENCY mode (Firebird
// 4 and 5 by default), both figures measured side by side in one run:
//  - fb4_wait_ratio: the pending step of a cycle (the window of committed numbers, the
//    wait when there is a gap, the read of the rows it may send) with 10 retaining tills
//    idle after a sale committed with retain and no gap, against the same step with no
//    till;
//  - fb4_till_slowdown: a till's insert and commit while the relay waits at a gap (held
//    by another till's open insert), against the same till alone.
void MeasureFb4Wait(Report& report) {
  TestDatabase db;
  Connection relay;
  db.ConfigureConnection(relay);
  relay.Connect();
  PendingServerFacts facts;
  Require(facts.ReadPassesUncommittedInserts(relay),
          "fb4: this server's read waits for uncommitted rows itself (run on Firebird 4 with ReadConsistency 1)");
  const bool knows_states = facts.KnowsTransactionStates(relay);
  MonitoringMarker marker(relay);
  db.Execute(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 50) DO BEGIN "
      "INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, VALOR) VALUES ('1', 'VV', 1); I = I + 1; END END");
  // A sale of a till: the retained transaction keeps its insert count for the table.
  constexpr const char* kSale = "INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, VALOR) VALUES ('3', 'VV', 1)";
  const auto pending_step = [&] {
    const PendingWindow window = ReadPendingWindow(relay, kPontosTable, 0);
    std::int64_t up_to = window.consecutive_up_to;
    if (window.HasGap()) {
      const PendingSettlement settlement =
          SettlePending(relay, marker, kPontosTable, knows_states, std::chrono::milliseconds(60000));
      up_to = settlement.highest.value_or(up_to);
    }
    Transaction transaction(relay, TransactionMode::ReadOnlyReadCommitted, true);
    Query query(relay, transaction);
    query.SetSQL(fmt::format("SELECT * FROM BRINDEX_PONTOS WHERE MOVIMENTO > 0 AND MOVIMENTO <= {}", up_to));
    int rows = 0;
    for (query.Open(); !query.Eof(); query.Next()) ++rows;
    query.Close();
    Require(rows == window.count, "fb4: the pending step did not read every committed row");
  };
  std::vector<std::unique_ptr<testing::SqlSession>> tills;
  for (int i = 0; i < 10; ++i) {
    tills.push_back(db.OpenSession());
    tills.back()->Execute(kSale);
    tills.back()->Execute("COMMIT RETAIN");
  }
  // Interleaved rounds, so that the machine's load falls on both sides alike.
  std::vector<double> with_tills;
  std::vector<double> without_tills;
  for (int round = 0; round < 15; ++round) {
    with_tills.push_back(SecondsOf([&] {
      for (int i = 0; i < 20; ++i) pending_step();
    }));
    for (auto& till : tills) till->Rollback();
    without_tills.push_back(SecondsOf([&] {
      for (int i = 0; i < 20; ++i) pending_step();
    }));
    for (auto& till : tills) {
      till->Execute(kSale);
      till->Execute("COMMIT RETAIN");
    }
  }
  const auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  report.Line("fb4_pending_step_with_idle_tills", median(with_tills) / 20 * 1000, "ms");
  report.Line("fb4_pending_step_without_tills", median(without_tills) / 20 * 1000, "ms");
  report.Ratio("fb4_wait_ratio", median(with_tills) / median(without_tills), 1.1);
  tills.clear();

  // A gap that stays: a till's open insert below a committed one.
  auto holder = db.OpenSession();
  holder->Execute("INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, VALOR) VALUES ('1', 'VV', 1)");
  db.Execute("INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, VALOR) VALUES ('1', 'VV', 1)");
  auto till = db.OpenSession();
  const auto insert_block = [&] {
    return SecondsOf([&] {
      for (int i = 0; i < 20; ++i) {
        till->Execute("INSERT INTO BRINDEX_PONTOS (CPF, TIPOMOVIMENTO, VALOR) VALUES ('2', 'VV', 1)");
        till->Commit();
      }
    });
  };
  std::vector<double> while_waiting;
  std::vector<double> alone;
  int looks = 0;
  for (int round = 0; round < 15; ++round) {
    alone.push_back(insert_block());
    // The relay waits at the gap for as long as the block lasts and a little more.
    std::atomic<bool> done{false};
    std::thread waiting([&] {
      Connection relay_at_gap;
      db.ConfigureConnection(relay_at_gap);
      relay_at_gap.Connect();
      MonitoringMarker gap_marker(relay_at_gap);
      while (!done) {
        looks +=
            SettlePending(relay_at_gap, gap_marker, kPontosTable, knows_states, std::chrono::milliseconds(1500)).looks;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    while_waiting.push_back(insert_block());
    done = true;
    waiting.join();
  }
  holder->Rollback();
  report.Line("fb4_till_insert_alone", median(alone) / 20 * 1000, "ms");
  report.Line("fb4_till_insert_while_waiting", median(while_waiting) / 20 * 1000, "ms");
  report.Line("fb4_wait_looks", looks, "looks");
  report.Ratio("fb4_till_slowdown", median(while_waiting) / median(alone), 1.1);
}

int Main(int argc, char** argv) {
  const std::vector<std::string> only(argv + 1, argv + argc);
  const auto wanted = [&](const std::string& name) {
    return only.empty() || std::find(only.begin(), only.end(), name) != only.end();
  };
  Report report;
  try {
    FakePlatform platform;
    platform.Start();
    if (wanted("relay")) MeasureRelay(platform, report);
    if (wanted("relay_tls")) MeasureRelayTls(platform, report);
    if (wanted("drain")) MeasureDrain(platform, report);
    if (wanted("log")) MeasureLog(report);
    if (wanted("refresh")) MeasureRefresh(platform, report);
    // Only on request: it needs a Firebird 4 server (scripts/bench runs it there).
    if (std::find(only.begin(), only.end(), "fb4") != only.end()) MeasureFb4Wait(report);
  } catch (const std::exception& e) {
    std::cerr << "bench: " << e.what() << std::endl;
    report.Summary();
    return 1;
  }
  report.Summary();
  return 0;
}

}  // namespace
}  // namespace zendrel::bench

int main(int argc, char** argv) { return zendrel::bench::Main(argc, argv); }
