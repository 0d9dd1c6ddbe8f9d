// The two reset calls: the pending reset's status and its acknowledgement.
#include <exception>

#include "api/api_settings.h"
#include "api/brindex_calls.h"
#include "api/call_framing.h"
#include "api/exchange.h"
#include "support/company_cnpj.h"
#include "support/date_parsing.h"
#include "support/errors.h"
#include "support/log_file.h"
#include "support/text.h"

namespace zendrel {
namespace {

constexpr char kItemVazio[] = "Item vazio na lista de resets!!!";

// Reads the items of a 200 reply into the record: the last item's identifier, and
// the date of the last item whose identifier is not blank.
void ReadPendingReset(const std::string& json_text, TStatusReset& record) {
  const std::optional<TRetornoResetClass> root = TRetornoResetClass::FromJsonString(WrapItems(json_text));
  if (!root) return;
  for (const std::optional<TItemRetornoResetClass>& item : root->Items) {
    if (!item) throw ConversionError(kItemVazio);
    record.Uri = item->uri;
    if (!TrimControlsAndSpaces(item->uri).empty()) record.Data = TrataData(item->data);
  }
}

}  // namespace

TStatusReset StatusReset(const std::string& URL) {
  TStatusReset record;
  ApiRequest request = NewCallRequest(HttpMethod::kGet, URL, "v1/reset");
  request.AddField("cnpj", CNPJEmpresa());

  const ExchangeOutcome outcome = SendRequest(request);
  // The reset calls report no status for a failed exchange, not even a 5xx.
  if (!outcome.completed()) return TransportFailure(outcome, std::move(record), true);

  ReadReply(outcome, record, "StatusReset: ", [&record](const std::string& json_text) {
    if (record.CodRetorno != 200) return;
    try {
      ReadPendingReset(json_text, record);
    } catch (const std::exception& error) {
      // Cleared before the log write, which can fail too: a half-read list must
      // never leave an identifier behind with an earlier or zero date, which the
      // caller would acknowledge and rewind to.
      record.Data = DateTime::Zero();
      record.Uri.clear();
      DoSaveLog(std::string("StatusReset: ") + error.what());
    }
  });
  return record;
}

TReset Reset(const std::string& URL, const std::string& Uri) {
  TReset record;
  ApiRequest request = NewCallRequest(HttpMethod::kPost, URL, "v1/reset");
  request.AddField("cnpj", CNPJEmpresa());
  request.AddField("uri", Uri);

  const ExchangeOutcome outcome = SendRequest(request);
  if (!outcome.completed()) return TransportFailure(outcome, std::move(record), true);

  ReadReply(outcome, record, "Reset: ", [](const std::string&) {});
  return record;
}

}  // namespace zendrel
