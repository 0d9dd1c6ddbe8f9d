// The first pending movement of a campaign and its refusal in the log.
#include "service/stuck_campaign.h"

#include <charconv>

#include <fmt/format.h>

#include "erp/query.h"
#include "support/log_file.h"

namespace zendrel {
namespace {

// The rows the send loops would read first, in their order.
constexpr const char* kFirstPontos =
    "SELECT FIRST 1 MOVIMENTO, DATA, CPF, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO FROM BRINDEX_PONTOS "
    "WHERE MOVIMENTO > :MOVIMENTO ORDER BY MOVIMENTO";
constexpr const char* kFirstTopVendas =
    "SELECT FIRST 1 O.SEQUENCIAL, O.DATA, O.CODIGOPRODUTO, O.CODIGOMOVIMENTO, F.CPF FROM BRINDEX_MOV_TOPVENDAS O "
    "INNER JOIN FUNCIONARIOS F ON O.VENDEDOR = F.CODIGO WHERE O.SEQUENCIAL > :SEQUENCIAL ORDER BY O.SEQUENCIAL";

// The pending-read step's own line when a till holds the rows: not the platform's.
constexpr std::string_view kHeldByErp = "Movimentos pendentes presos por uma transação do ERP";

std::string DayText(const DateTime& day) { return FormatLogTimestamp(day).substr(0, 10); }

std::string OrNone(const std::string& text) { return text.empty() ? "(vazio)" : text; }

// The day of an entry "DD/MM/YYYY HH:mm:ss - ...", or nullopt.
std::optional<DateTime> EntryDay(std::string_view entry) {
  if (entry.size() < 10 || entry[2] != '/' || entry[5] != '/') return std::nullopt;
  int parts[3] = {};
  const std::string_view texts[3] = {entry.substr(0, 2), entry.substr(3, 2), entry.substr(6, 4)};
  for (int i = 0; i < 3; ++i) {
    const auto [end, error] = std::from_chars(texts[i].data(), texts[i].data() + texts[i].size(), parts[i]);
    if (error != std::errc() || end != texts[i].data() + texts[i].size()) return std::nullopt;
  }
  return DateTime::Date(parts[2], parts[1], parts[0]);
}

}  // namespace

std::optional<FirstPending> ReadFirstPending(Connection& connection, Transaction& read_only, bool top_sales,
                                             std::int32_t index) {
  Query query(connection, read_only);
  query.SetSQL(top_sales ? kFirstTopVendas : kFirstPontos);
  query.SetInteger(top_sales ? "SEQUENCIAL" : "MOVIMENTO", index);
  query.Open();
  if (query.Eof()) {
    query.Close();
    return std::nullopt;
  }
  FirstPending first;
  first.day = query.Field("DATA").AsDateTime().DatePart();
  if (top_sales) {
    first.description = fmt::format("sequencial {} de {}, produto {}, CPF do vendedor {}, movimento {}",
                                    query.Field("SEQUENCIAL").AsString(), DayText(first.day),
                                    OrNone(query.Field("CODIGOPRODUTO").AsString()),
                                    OrNone(query.Field("CPF").AsString()), query.Field("CODIGOMOVIMENTO").AsString());
  } else {
    first.description =
        fmt::format("movimento {} de {}, CPF {}, tipo {}, identificação {}", query.Field("MOVIMENTO").AsString(),
                    DayText(first.day), OrNone(query.Field("CPF").AsString()),
                    OrNone(query.Field("TIPOMOVIMENTO").AsString()), query.Field("IDENTIFICACAO_MOVIMENTO").AsString());
  }
  query.Close();
  return first;
}

std::optional<std::string> LastRefusal(const std::vector<std::string>& entries, std::string_view prefix,
                                       const DateTime& since) {
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    const std::size_t dash = entry->find(" - ");
    if (dash == std::string::npos) continue;
    const std::string_view message = std::string_view(*entry).substr(dash + 3);
    if (!message.starts_with(prefix)) continue;
    const std::optional<DateTime> day = EntryDay(*entry);
    // Older than the movement: about one sent before it.
    if (!day || *day < since.DatePart()) return std::nullopt;
    const std::string_view text = message.substr(prefix.size());
    if (text.starts_with(kHeldByErp)) continue;
    return entry->substr(0, dash) + " - " + std::string(text);
  }
  return std::nullopt;
}

}  // namespace zendrel
