// The status report: a few aligned lines per subject, and an exit status a monitoring
// probe can use.
#include "service/status_report.h"

#include <chrono>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "erp/connection.h"
#include "erp/ini_file.h"
#include "erp/query.h"
#include "erp/settings_row.h"
#include "erp/site_settings.h"
#include "erp/transaction.h"
#include "service/cycle_state_file.h"
#include "service/log_tail.h"
#include "service/status_database.h"
#include "service/status_last_cycle.h"
#include "service/status_platform.h"
#include "service/status_client.h"
#include "service/status_printer.h"
#include "service/stuck_campaign.h"
#include "support/company_cnpj.h"
#include "support/date_time.h"
#include "support/log_file.h"
#include "support/text.h"
#include "support/text_codec.h"
#include "sync/pending_hold_report.h"
#include "sync/pending_holders.h"
#include "sync/settings_columns.h"

namespace zendrel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLogEntries = 10;
// How far back the log is searched for a pending movement's refusal.
constexpr std::size_t kRefusalSearchEntries = 2000;
// Ini values never hold a line break: this tells a missing key from any value.
constexpr std::string_view kMissing = "\n";

constexpr const char* kPendingPontos =
    "SELECT COUNT(*) AS PENDENTES, MIN(DATA) AS MAIS_ANTIGO FROM BRINDEX_PONTOS WHERE MOVIMENTO > :MOVIMENTO";
// The rows the top-sales loop would send: a movement without its salesperson never is.
constexpr const char* kPendingTopVendas =
    "SELECT COUNT(*) AS PENDENTES, MIN(O.DATA) AS MAIS_ANTIGO FROM BRINDEX_MOV_TOPVENDAS O "
    "INNER JOIN FUNCIONARIOS F ON O.VENDEDOR = F.CODIGO WHERE O.SEQUENCIAL > :SEQUENCIAL";
constexpr const char* kProdutos = "SELECT COUNT(*) AS PRODUTOS FROM BRINDEX_PROD_TOPVENDAS";

// While alive, the company's CNPJ is read from `row`; the earlier registration comes
// back after.
class ScopedCompanyRow {
 public:
  explicit ScopedCompanyRow(const SettingsTextReader& row) : previous_(CompanySettingsRow()) {
    SetCompanySettingsRow(&row);
  }
  ~ScopedCompanyRow() { SetCompanySettingsRow(previous_); }
  ScopedCompanyRow(const ScopedCompanyRow&) = delete;
  ScopedCompanyRow& operator=(const ScopedCompanyRow&) = delete;

 private:
  const SettingsTextReader* previous_;
};

struct Campaign {
  const char* title;
  const char* key;  // of its section in JSON
  const char* switch_column;
  const char* url_column;
  const char* index_column;
  bool top_sales;
  const char* log_prefix;  // of the send loop's log lines
};

constexpr Campaign kCampaigns[] = {
    {"Campanha de pontos", "campanha_pontos", padrao::kAtivaPontos, padrao::kUrlPontos, padrao::kIndicePontos, false,
     "MovimentoPontos: "},
    {"Campanha top vendas", "campanha_top_vendas", padrao::kAtivaTopVendas, padrao::kUrlTopVendas,
     padrao::kIndiceTopVendas, true, "MovimentoTopVendas: "},
};

// A path as UTF-8 text on every host (a Windows folder name need not fit the ANSI code
// page that path::string() would convert to).
std::string PathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string SettingText(const fs::path& folder, std::string_view key, const std::string& fallback) {
  const std::string value = ReadTarvixSetting(folder, key, kMissing);
  if (value == kMissing) return fallback + " (padrão: chave ausente)";
  return value.empty() ? "(vazio)" : value;
}

}  // namespace

std::string DatabaseServerVerdict(const fs::path& folder, const HostIdentity& host, bool& is_server) {
  const ServerCheck check = CheckDatabaseServer(folder, host);
  is_server = check.is_server();
  return fmt::format("{} ({})", is_server ? "sim" : "não", check.Reason());
}

namespace {

// "DD/MM/YYYY", as the log writes its days.
std::string DayText(const DateTime& moment) { return FormatLogTimestamp(moment).substr(0, 10); }

// The first line of a text, at most `limit` characters: platform replies can be long.
std::string Short(std::string_view text, std::size_t limit = 160) {
  std::string line(text.substr(0, text.find_first_of("\r\n")));
  if (Utf8Length(line) > limit) line = Utf8Prefix(line, limit) + "...";
  return line;
}

std::string PendingText(Query& query, std::string_view parameter, std::int32_t index) {
  query.SetInteger(parameter, index);
  query.Open();
  const std::int32_t count = query.Field("PENDENTES").AsInteger();
  const std::string oldest = query.Field("MAIS_ANTIGO").AsString();
  query.Close();
  if (count == 0) return "nenhum";
  return fmt::format("{}, o mais antigo de {}", count, oldest.empty() ? "(data vazia)" : oldest);
}

// The movement the campaign sends next and whether the campaign is held there: only
// when the last cycle stopped at this very movement with a refusal (the log cannot
// tell which movement a refusal was about).
void ReportFirstPending(StatusPrinter& print, const Campaign& campaign, Connection& connection, Transaction& read_only,
                        std::int32_t index, const std::vector<std::string>& log_entries,
                        const CycleStateRead& last_cycle) {
  const std::optional<FirstPending> first = ReadFirstPending(connection, read_only, campaign.top_sales, index);
  if (!first) return;
  print.Line("Primeiro pendente", first->description);
  const Retention retention = JudgeRetention(last_cycle, campaign.top_sales, first->number);
  std::optional<std::string> refusal;
  if (retention.held) refusal = LastRefusal(log_entries, campaign.log_prefix, last_cycle.state->started);
  print.Line("Última recusa no log", refusal ? *refusal : "nenhuma deste movimento");
  print.Line("Retida", retention.text);
}

// What would hold the campaign's next send back now, by the send loop's own rules.
std::string HoldersText(Connection& connection, const PendingTable& table, std::int32_t index) {
  try {
    return DescribePendingHolds(connection, table, index);
  } catch (const std::exception& e) {
    return "não foi possível ver: " + Short(e.what());
  }
}

// The campaign's lines from the database.
void ReportCampaignData(StatusPrinter& print, const Campaign& campaign, const SettingsRow& row, Connection& connection,
                        Transaction& read_only, const std::vector<std::string>& log_entries,
                        const CycleStateRead& last_cycle) {
  const std::string on_text = row.Field(campaign.switch_column).AsString();
  print.Line("Ligada", on_text == "Y" ? "sim" : fmt::format("não ({} = '{}')", campaign.switch_column, on_text));
  const std::string url = row.Field(campaign.url_column).AsString();
  print.Line("Endereço base", url.empty() ? "(vazio)" : url);

  const FieldValue index_field = row.Field(campaign.index_column);
  const bool never_started = index_field.AsString().empty();
  const std::int32_t index = index_field.AsInteger();
  if (never_started && campaign.top_sales) {
    print.Line("Índice de envio", "vazio: campanha ainda não iniciada (a primeira execução recria os movimentos)");
  } else {
    print.Line("Índice de envio", never_started ? "vazio (lido como 0)" : std::to_string(index));
  }

  Query query(connection, read_only);
  if (index == -1) {
    print.Line("Pendentes", "campanha retida: o índice -1 suspende os envios");
  } else if (!(never_started && campaign.top_sales)) {
    query.SetSQL(campaign.top_sales ? kPendingTopVendas : kPendingPontos);
    print.Line("Pendentes", PendingText(query, campaign.top_sales ? "SEQUENCIAL" : "MOVIMENTO", index));
    ReportFirstPending(print, campaign, connection, read_only, index, log_entries, last_cycle);
    print.Line("Retido por", HoldersText(connection, campaign.top_sales ? kTopVendasTable : kPontosTable, index));
  }
  ReportCampaignLastCycle(print, last_cycle, campaign.top_sales);

  if (campaign.top_sales) {
    query.SetSQL(kProdutos);
    query.Open();
    const std::int32_t product_count = query.Field("PRODUTOS").AsInteger();
    query.Close();
    print.Line("Produtos da campanha", std::to_string(product_count));
    const FieldValue day = row.Field(padrao::kDiaProdutos);
    print.Line("Produtos atualizados", day.AsString().empty() ? "nunca" : DayText(day.AsDateTime()));
  }
}

// Whether the campaign is switched on in the row, read as the poll cycle reads it; a
// column that cannot be read counts as off.
bool IsOn(const SettingsRow& row, const Campaign& campaign) {
  try {
    return row.Field(campaign.switch_column).AsString() == "Y";
  } catch (const std::exception&) {
    return false;
  }
}

using Problems = std::vector<std::string>;

void Append(Problems& problems, Problems more) {
  problems.insert(problems.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

// The folder, Tarvix.ini and whether this machine is the database server.
Problems ReportInstallation(StatusPrinter& print, const fs::path& folder, const HostIdentity& host) {
  print.Title("Instalação", "instalacao");
  print.Line("Pasta do executável", PathText(folder));
  const std::optional<fs::path> ini = FindFileIgnoringCase(folder, "Tarvix.ini");
  print.Line("Tarvix.ini", ini ? "encontrado: " + PathText(*ini) : "não encontrado (valem os valores padrão)");
  print.Line("Servidor", SettingText(folder, "Servidor", "localhost"));
  print.Line("Caminho", SettingText(folder, "Caminho", DefaultCaminho(folder)));
  bool is_server = false;
  print.Line("Servidor do banco", DatabaseServerVerdict(folder, host, is_server));
  if (!is_server) return {"este computador não é o servidor do banco: o serviço não trabalha aqui"};
  return {};
}

// Each campaign's lines from the database.
Problems ReportCampaigns(StatusPrinter& print, const SettingsRow& row, Connection& connection, Transaction& read_only,
                         const std::vector<std::string>& log_entries, const CycleStateRead& last_cycle) {
  Problems problems;
  for (const Campaign& campaign : kCampaigns) {
    print.Title(campaign.title, campaign.key);
    try {
      ReportCampaignData(print, campaign, row, connection, read_only, log_entries, last_cycle);
    } catch (const std::exception& e) {
      print.Line("Erro", e.what());
      problems.push_back(fmt::format("{}: erro ao ler o banco de dados", campaign.title));
    }
  }
  return problems;
}

// The reset question to the platform of each campaign that is on.
Problems ReportPlatforms(StatusPrinter& print, const SettingsRow& row, const Clock& clock, ExchangeNotes& notes) {
  Problems problems;
  const ScopedCompanyRow company(row);
  ThrowawayLog log(clock);
  print.Title("Plataforma Brindex (pergunta de reset, sem confirmar)", "plataforma");
  bool any_on = false;
  for (const Campaign& campaign : kCampaigns) {
    if (!IsOn(row, campaign)) continue;
    any_on = true;
    print.Group(campaign.title, campaign.key);
    const std::string problem = ReportPlatform(print, row.Field(campaign.url_column).AsString(), log, notes);
    if (!problem.empty()) problems.push_back(fmt::format("{}: {}", campaign.title, problem));
  }
  if (!any_on) print.Line("Nenhuma campanha ligada", "nada a perguntar");
  return problems;
}

// The log's last entries.
void ReportLogTail(StatusPrinter& print, const fs::path& log_path) {
  print.Title(fmt::format("Últimas entradas do log ({})", PathText(log_path)), "log");
  const LogTail tail = ReadLogTail(log_path, kLogEntries);
  if (!tail.found) {
    print.Note(tail.error.empty() ? "(o arquivo não existe)" : "(não foi possível ler: " + tail.error + ")");
  } else if (tail.entries.empty()) {
    print.Note("(nenhuma entrada)");
  }
  for (const std::string& entry : tail.entries) print.LogEntry(entry);
}

// The verdict; returns the exit status.
int ReportResult(StatusPrinter& print, const Problems& problems) {
  print.Title("Resultado", "resultado");
  const int exit_status = problems.empty() ? 0 : 1;
  if (problems.empty()) {
    print.Line("Situação", "OK");
  } else {
    print.Line("Situação", "FALHA");
    print.ListLine("Motivos", problems);
  }
  print.Finish(exit_status);
  return exit_status;
}

}  // namespace

int ReportStatus(const fs::path& folder, const HostIdentity& host, const ApiSettings& api, std::ostream& out,
                 StatusFormat format, const ServiceStateProbe* service) {
  StatusPrinter print(out, format);
  ExchangeNotes notes;
  const ScopedApiSettings api_scope(RecordingExchanges(api, notes));
  const Clock& clock = CurrentApiSettings().CurrentClock();

  print.Heading(FormatLogTimestamp(clock.Now()));
  const fs::path log_path = folder / "Zendrel.log";
  const LogTail log_history = ReadLogTail(log_path, kRefusalSearchEntries);
  const CycleStateRead last_cycle = ReadCycleStateFile(CycleStateFilePath(folder));

  Problems problems = ReportInstallation(print, folder, host);
  const std::unique_ptr<ServiceStateProbe> host_service = service ? nullptr : NewHostServiceStateProbe();
  Append(problems, ReportService(print, folder, last_cycle, service ? *service : *host_service, clock));

  // No automatic reconnection: a report that waits and retries hides what happened.
  Connection connection(ReconnectPolicy{1, std::chrono::milliseconds(0)});
  Transaction read_only(connection, TransactionMode::ReadOnlyReadCommitted, true, std::chrono::seconds(5));
  // Read-only for both directions: nothing in this report can write the row.
  SettingsRow row(connection, read_only, read_only);
  Append(problems, ReportFirebirdClient(print));
  Append(problems, ReportDatabase(print, folder, connection, row));
  if (row.Active()) {
    Append(problems, ReportCampaigns(print, row, connection, read_only, log_history.entries, last_cycle));
  }
  // The platform may take its time: hold no attachment while waiting for it.
  connection.Disconnect();
  if (row.Active()) Append(problems, ReportPlatforms(print, row, clock, notes));

  ReportLogTail(print, log_path);
  return ReportResult(print, problems);
}

}  // namespace zendrel
