// The status report: a few aligned lines per subject, and an exit status a monitoring
// probe can use.
#include "service/status_report.h"

#include <iterator>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "api/brindex_calls.h"
#include "erp/connection.h"
#include "erp/ini_file.h"
#include "erp/query.h"
#include "erp/settings_row.h"
#include "erp/site_settings.h"
#include "erp/transaction.h"
#include "service/database_credentials.h"
#include "service/log_tail.h"
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

// The same account (kUsuarioBanco) and passwords as the poll cycle, tried in its order.
struct Password {
  const char* text;
  const char* name;
};
constexpr Password kPasswords[] = {{kSenhaPrincipal, "senha principal"}, {kSenhaReserva, "senha reserva"}};

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

// A log file of its own in the temporary folder, removed at the end: the calls write
// their transport failures there instead of into the service's log.
class ThrowawayLog {
 public:
  explicit ThrowawayLog(const Clock& clock) : path_(NewPath()), redirect_(path_, clock) {}
  ~ThrowawayLog() {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  ThrowawayLog(const ThrowawayLog&) = delete;
  ThrowawayLog& operator=(const ThrowawayLog&) = delete;

  // The messages written since the last call, without their timestamps.
  std::vector<std::string> TakeMessages() {
    const LogTail tail = ReadLogTail(path_, static_cast<std::size_t>(-1));
    std::vector<std::string> messages;
    for (std::size_t i = taken_; i < tail.entries.size(); ++i) {
      const std::string& entry = tail.entries[i];
      const std::size_t dash = entry.find(" - ");
      messages.push_back(dash == std::string::npos ? entry : entry.substr(dash + 3));
    }
    taken_ = tail.entries.size();
    return messages;
  }

 private:
  static fs::path NewPath() {
    std::random_device random;
    std::error_code error;
    fs::path folder = fs::temp_directory_path(error);
    if (error) folder = fs::path(".");
    return folder / fmt::format("zendrel-status-{:08x}{:08x}.log", random(), random());
  }

  fs::path path_;
  LogRedirect redirect_;
  std::size_t taken_ = 0;
};

// Forwards every exchange to the transport the settings would make, and keeps why an
// exchange got no usable reply: the calls log only "no reply", the operator needs the
// reason (refused, time-out, name not found, certificate...).
class RecordingTransport final : public HttpTransport {
 public:
  RecordingTransport(std::unique_ptr<HttpTransport> inner, std::vector<std::string>& failures)
      : inner_(std::move(inner)), failures_(failures) {}

  HttpExchange Exchange(const HttpRequest& request) override {
    HttpExchange exchange = inner_->Exchange(request);
    if (!exchange.replied()) {
      failures_.push_back("sem resposta: " + exchange.failure);
    } else if (exchange.reply->status >= 500 && exchange.reply->status <= 599) {
      failures_.push_back(fmt::format("HTTP {} (erro do servidor)", exchange.reply->status));
    }
    return exchange;
  }

 private:
  std::unique_ptr<HttpTransport> inner_;
  std::vector<std::string>& failures_;
};

// `api` with every transport wrapped in a RecordingTransport writing to `failures`.
ApiSettings Recording(const ApiSettings& api, std::vector<std::string>& failures) {
  ApiSettings recording = api;
  recording.transport_factory = [api, &failures](const HttpTimeouts& timeouts) -> std::unique_ptr<HttpTransport> {
    ApiSettings inner = api;
    inner.timeouts = timeouts;
    return std::make_unique<RecordingTransport>(inner.NewTransport(), failures);
  };
  return recording;
}

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

// The movement the campaign sends next and, when the log holds the platform's refusal
// of it, that the campaign is held there.
void ReportFirstPending(StatusPrinter& print, const Campaign& campaign, Connection& connection, Transaction& read_only,
                        std::int32_t index, const std::vector<std::string>& log_entries) {
  const std::optional<FirstPending> first = ReadFirstPending(connection, read_only, campaign.top_sales, index);
  if (!first) return;
  print.Line("Primeiro pendente", first->description);
  const std::optional<std::string> refusal = LastRefusal(log_entries, campaign.log_prefix, first->day);
  print.Line("Última recusa no log", refusal ? *refusal : "nenhuma");
  print.Line("Retida", refusal ? "sim: o serviço tenta este movimento em cada ciclo e não envia os seguintes até que "
                                 "ele seja corrigido no ERP ou um reset da plataforma passe por ele"
                               : "não (o próximo ciclo começa por este movimento)");
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
                        Transaction& read_only, const std::vector<std::string>& log_entries) {
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
    ReportFirstPending(print, campaign, connection, read_only, index, log_entries);
    print.Line("Retido por", HoldersText(connection, campaign.top_sales ? kTopVendasTable : kPontosTable, index));
  }

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

// Asks the platform the campaign's reset question. Returns whether it answered.
bool ReportPlatform(StatusPrinter& print, const std::string& url, ThrowawayLog& log,
                    std::vector<std::string>& transport_failures) {
  transport_failures.clear();
  const auto start = std::chrono::steady_clock::now();
  std::optional<TStatusReset> reply;
  std::string failure;
  try {
    reply = StatusReset(url);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();

  std::string details;
  for (const std::string& transport_failure : transport_failures) details += "\n" + transport_failure;
  for (const std::string& message : log.TakeMessages()) {
    // The reply's own text, which the call logs when the exchange failed; the fixed
    // failure text is already the answer's description.
    if (!TrimControlsAndSpaces(message).empty() && (!reply || message != reply->DescRetorno)) details += "\n" + message;
  }

  if (!reply) {
    print.Line("Plataforma", fmt::format("erro ao perguntar ({} ms): {}{}", elapsed, failure, details));
    return false;
  }
  if (reply->CodRetorno == 0) {
    print.Line("Plataforma", fmt::format("não responde ({} ms): {}{}", elapsed, reply->DescRetorno, details));
    print.Line("Reset pendente", "desconhecido");
    return false;
  }
  const std::string description = Short(reply->DescRetorno);
  print.Line("Plataforma", fmt::format("responde: HTTP {}{} em {} ms{}", reply->CodRetorno,
                                       description.empty() ? "" : " - " + description, elapsed, details));
  if (reply->CodRetorno != 200) {
    print.Line("Reset pendente", "desconhecido (a plataforma não respondeu 200)");
  } else if (TrimControlsAndSpaces(reply->Uri).empty()) {
    print.Line("Reset pendente", "não");
  } else {
    print.Line("Reset pendente",
               fmt::format("sim, desde {} (uri \"{}\"); será aplicado e confirmado pelo serviço no próximo ciclo",
                           reply->Data.IsZero() ? "(sem data)" : DayText(reply->Data), reply->Uri));
  }
  return true;
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

// Connects with the poll cycle's passwords and reads the settings row; `row` is
// active afterwards only when it was read.
Problems ReportDatabase(StatusPrinter& print, const fs::path& folder, Connection& connection, SettingsRow& row) {
  print.Title("Banco de dados", "banco_de_dados");
  std::optional<std::string> accepted;
  for (const Password& password : kPasswords) {
    CarregarParametrosConexao(connection, kUsuarioBanco, password.text, folder);
    const std::string label = fmt::format("{}, {}", kUsuarioBanco, password.name);
    try {
      connection.Connect();
      print.Line(label, "aceita");
      accepted = password.name;
      break;
    } catch (const std::exception& e) {
      connection.Disconnect();
      print.Line(label, std::string("recusada: ") + e.what());
    }
  }

  if (!accepted) {
    print.Line("Conexão", "falhou com as duas senhas");
    return {"o banco de dados não foi alcançado"};
  }
  print.Line("Conexão", "aberta com a " + *accepted + " (somente leitura)");
  try {
    row.Open();
    if (!row.HasRow()) print.Line("PADRAO", "sem nenhuma linha: as campanhas ficam desligadas");
  } catch (const std::exception& e) {
    print.Line("PADRAO", std::string("erro ao ler: ") + e.what());
    return {"a linha de configurações (PADRAO) não pôde ser lida"};
  }
  return {};
}

// Each campaign's lines from the database.
Problems ReportCampaigns(StatusPrinter& print, const SettingsRow& row, Connection& connection, Transaction& read_only,
                         const std::vector<std::string>& log_entries) {
  Problems problems;
  for (const Campaign& campaign : kCampaigns) {
    print.Title(campaign.title, campaign.key);
    try {
      ReportCampaignData(print, campaign, row, connection, read_only, log_entries);
    } catch (const std::exception& e) {
      print.Line("Erro", e.what());
      problems.push_back(fmt::format("{}: erro ao ler o banco de dados", campaign.title));
    }
  }
  return problems;
}

// The reset question to the platform of each campaign that is on.
Problems ReportPlatforms(StatusPrinter& print, const SettingsRow& row, const Clock& clock,
                         std::vector<std::string>& transport_failures) {
  Problems problems;
  const ScopedCompanyRow company(row);
  ThrowawayLog log(clock);
  print.Title("Plataforma Brindex (pergunta de reset, sem confirmar)", "plataforma");
  bool any_on = false;
  for (const Campaign& campaign : kCampaigns) {
    if (!IsOn(row, campaign)) continue;
    any_on = true;
    print.Group(campaign.title, campaign.key);
    if (!ReportPlatform(print, row.Field(campaign.url_column).AsString(), log, transport_failures)) {
      problems.push_back(fmt::format("{}: a plataforma não responde", campaign.title));
    }
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
                 StatusFormat format) {
  StatusPrinter print(out, format);
  std::vector<std::string> transport_failures;
  const ScopedApiSettings api_scope(Recording(api, transport_failures));
  const Clock& clock = CurrentApiSettings().CurrentClock();

  print.Heading(FormatLogTimestamp(clock.Now()));
  const fs::path log_path = folder / "Zendrel.log";
  const LogTail log_history = ReadLogTail(log_path, kRefusalSearchEntries);

  Problems problems = ReportInstallation(print, folder, host);

  // No automatic reconnection: a report that waits and retries hides what happened.
  Connection connection(ReconnectPolicy{1, std::chrono::milliseconds(0)});
  Transaction read_only(connection, TransactionMode::ReadOnlyReadCommitted, true, std::chrono::seconds(5));
  // Read-only for both directions: nothing in this report can write the row.
  SettingsRow row(connection, read_only, read_only);
  Append(problems, ReportDatabase(print, folder, connection, row));
  if (row.Active()) Append(problems, ReportCampaigns(print, row, connection, read_only, log_history.entries));
  // The platform may take its time: hold no attachment while waiting for it.
  connection.Disconnect();
  if (row.Active()) Append(problems, ReportPlatforms(print, row, clock, transport_failures));

  ReportLogTail(print, log_path);
  return ReportResult(print, problems);
}

}  // namespace zendrel
