// The reset question of the status report and how its answer reads.
#include "service/status_platform.h"

#include <chrono>
#include <optional>
#include <random>
#include <string_view>
#include <system_error>

#include <fmt/format.h>

#include "api/brindex_calls.h"
#include "service/exchange_watch.h"
#include "service/failure_causes.h"
#include "service/log_tail.h"
#include "support/date_time.h"
#include "support/text.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

namespace fs = std::filesystem;

// A new name in the temporary folder, so that two reports never share a log.
fs::path NewLogPath() {
  std::random_device random;
  std::error_code error;
  fs::path folder = fs::temp_directory_path(error);
  if (error) folder = fs::path(".");
  return folder / fmt::format("zendrel-status-{:08x}{:08x}.log", random(), random());
}

// "DD/MM/YYYY", as the log writes its days.
std::string DayText(const DateTime& moment) { return FormatLogTimestamp(moment).substr(0, 10); }

// The first line of a text, at most `limit` characters: platform replies can be long.
std::string Short(std::string_view text, std::size_t limit = 160) {
  std::string line(text.substr(0, text.find_first_of("\r\n")));
  if (Utf8Length(line) > limit) line = Utf8Prefix(line, limit) + "...";
  return line;
}

// A reset question answered so tells that every posting will be refused too: the
// token or the base address is wrong.
bool RefusesUs(int status) { return status == 401 || status == 403 || status == 404; }

}  // namespace

std::string ReportPlatform(StatusPrinter& print, const std::string& url, ThrowawayLog& log, ExchangeNotes& notes) {
  notes.Clear();
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
  for (const std::string& transport_failure : notes.failures) details += "\n" + transport_failure;
  for (const std::string& message : log.TakeMessages()) {
    // The reply's own text, which the call logs when the exchange failed; the fixed
    // failure text is already the answer's description.
    if (!TrimControlsAndSpaces(message).empty() && (!reply || message != reply->DescRetorno)) details += "\n" + message;
  }

  if (!notes.waived_certificates.empty()) {
    print.Line("Certificado", "não passou na verificação: " + notes.waived_certificates.front() +
                                  "; a pergunta seguiu sem verificá-lo, como o serviço faz, e os CPFs enviados podem "
                                  "ser lidos por quem se passar pela plataforma");
  }
  if (!reply) {
    print.Line("Plataforma", fmt::format("erro ao perguntar ({} ms): {}{}", elapsed, failure, details));
    return "erro ao perguntar à plataforma: " + Short(failure);
  }
  if (reply->CodRetorno == 0) {
    print.Line("Plataforma", fmt::format("não responde ({} ms): {}{}", elapsed, reply->DescRetorno, details));
    print.Line("Reset pendente", "desconhecido");
    // The first line of the first failure: its cause and fix.
    const std::string cause = notes.failures.empty() ? std::string() : Short(notes.failures.front(), 400);
    return "a plataforma não responde" + (cause.empty() ? std::string() : ": " + cause);
  }
  const std::string description = Short(reply->DescRetorno);
  print.Line("Plataforma", fmt::format("responde: HTTP {}{} em {} ms{}", reply->CodRetorno,
                                       description.empty() ? "" : " - " + description, elapsed, details));
  if (RefusesUs(reply->CodRetorno)) {
    const std::string meaning = HttpStatusMeaning(reply->CodRetorno);
    print.Line("Reset pendente", "desconhecido: a plataforma recusou a pergunta, " + meaning);
    return "a plataforma recusou a pergunta de reset com HTTP " + meaning + "; todos os envios serão recusados";
  }
  if (reply->CodRetorno != 200) {
    print.Line("Reset pendente", "desconhecido (a plataforma não respondeu 200)");
  } else if (TrimControlsAndSpaces(reply->Uri).empty()) {
    print.Line("Reset pendente", "não");
  } else {
    print.Line("Reset pendente",
               fmt::format("sim, desde {} (uri \"{}\"); será aplicado e confirmado pelo serviço no próximo ciclo",
                           reply->Data.IsZero() ? "(sem data)" : DayText(reply->Data), reply->Uri));
  }
  return {};
}

ThrowawayLog::ThrowawayLog(const Clock& clock) : path_(NewLogPath()), redirect_(path_, clock) {}

ThrowawayLog::~ThrowawayLog() {
  std::error_code ignored;
  fs::remove(path_, ignored);
}

std::vector<std::string> ThrowawayLog::TakeMessages() {
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

ApiSettings RecordingExchanges(const ApiSettings& api, ExchangeNotes& notes) {
  return WatchingExchanges(api, [&notes](const HttpRequest&, const HttpExchange& exchange) {
    if (!exchange.replied()) {
      notes.failures.push_back(TransportFailureCause(exchange.failure_kind) + "\n(" + exchange.failure + ")");
    } else if (exchange.reply->status >= 500 && exchange.reply->status <= 599) {
      notes.failures.push_back("HTTP " + HttpStatusMeaning(exchange.reply->status));
    }
    if (exchange.certificate_waived != CertificateProblem::kNone) {
      notes.waived_certificates.push_back(CertificateProblemText(exchange.certificate_waived));
    }
  });
}

}  // namespace zendrel
