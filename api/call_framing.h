// What the five calls share when they build a request: the base address taken as
// the settings row holds it and the Authorization header with the compiled-in token.
#pragma once

#include <string>
#include <string_view>

#include "api/brindex_calls.h"
#include "api/exchange.h"
#include "api/request.h"
#include "support/log_file.h"

namespace zendrel {

// A new request of `method` to `resource` under the base address `URL`, with the
// Authorization header as its first parameter; the call adds its own fields.
ApiRequest NewCallRequest(HttpMethod method, const std::string& URL, std::string_view resource);

// The transport-failure branch of a call with a reply record: the reply text (empty
// when no reply came) goes to the log, the record gets the status seen and the
// failure text. The reset calls report 0 whatever the status, and log that text too.
template <typename Record>
Record TransportFailure(const ExchangeOutcome& outcome, Record record, bool reset_call) {
  DoSaveLog(outcome.reply_text);
  record.CodRetorno = reset_call ? 0 : outcome.status;
  record.DescRetorno = kFalhaComunicacao;
  if (reset_call) DoSaveLog(kFalhaComunicacao);
  return record;
}

// The outer failure branch, taken when reading a completed exchange raised: the
// record keeps the reply JSON text as its description and its error, and the log
// gets `log_prefix` followed by it.
template <typename Record>
void OuterFailure(int status, const std::string& json_text, Record& record, std::string_view log_prefix) {
  record.CodRetorno = status;
  record.DescRetorno = json_text;
  record.MensagemErro = record.DescRetorno;
  DoSaveLog(std::string(log_prefix) + record.MensagemErro);
}

}  // namespace zendrel
