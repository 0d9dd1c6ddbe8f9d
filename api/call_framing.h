// What the five calls share: building a request (the base address taken as the
// settings row holds it, the Authorization header with the compiled-in token) and
// reading its reply into a reply record, with the two failure branches.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "api/brindex_calls.h"
#include "api/exchange.h"
#include "api/reply_json_text.h"
#include "api/request.h"
#include "api/status_translation.h"
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

// The reading of a completed exchange: the record gets the status and its
// translation. `json_text` receives the reply JSON text first, so that the caller's
// failure branch has it when the translation raises.
template <typename Record>
void ReadReplyStatus(const ExchangeOutcome& outcome, Record& record, std::string& json_text) {
  json_text = ReplyJsonText(outcome.reply_text);
  record.CodRetorno = outcome.status;
  record.DescRetorno = TraduzErro(outcome.status, json_text);
}

// ReadReplyStatus, then what the call reads on top (`read_more`, given the reply
// JSON text); whatever raises on the way, a log write included, takes the outer
// failure branch with `log_prefix`.
template <typename Record, typename ReadMore>
void ReadReply(const ExchangeOutcome& outcome, Record& record, std::string_view log_prefix, ReadMore read_more) {
  std::string json_text;
  try {
    ReadReplyStatus(outcome, record, json_text);
    read_more(json_text);
  } catch (const std::exception&) {
    OuterFailure(outcome.status, json_text, record, log_prefix);
  }
}

}  // namespace zendrel
