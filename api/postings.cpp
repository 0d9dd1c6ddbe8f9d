// The two postings of movements: customer points and salesperson top sales.
#include <exception>
#include <string>
#include <string_view>

#include "api/api_settings.h"
#include "api/brindex_calls.h"
#include "api/call_framing.h"
#include "api/exchange.h"
#include "support/company_cnpj.h"
#include "support/log_file.h"

namespace zendrel {

namespace {

// A posting the platform did not accept leaves a line in the log. Written inside the
// reading, so a log write that fails takes the call's failure branch.
template <typename Record>
void LogRefusal(const Record& record, std::string_view log_prefix) {
  if (record.CodRetorno != 200) DoSaveLog(std::string(log_prefix) + record.DescRetorno);
}

}  // namespace

TMovimentoPontos LancaMovimentosPontos(const std::string& URL, const std::string& cpf, std::int32_t CodigoMovimento,
                                       TTipoMovimento TipoMovimento, Currency Valor) {
  TMovimentoPontos record;
  ApiRequest request = NewCallRequest(HttpMethod::kPost, URL, "v1/lancador");
  request.AddField("cpf", OnlyNumber(cpf));
  request.AddField("legado", std::to_string(CodigoMovimento));
  request.AddField("ponto", Valor.FormatTwoDecimals());
  // The platform dates a points movement by when it was relayed, not by the sale.
  request.AddField("dtocorrencia", FormatPostingMoment(CurrentApiSettings().CurrentClock().Now()));
  request.AddField("tipo", std::to_string(static_cast<int>(TipoMovimento)));
  request.AddField("cnpj", CNPJEmpresa());
  request.AddField("versao", std::string(Software) + Versao);

  const ExchangeOutcome outcome = SendRequest(request);
  if (!outcome.completed()) return TransportFailure(outcome, std::move(record), false);

  ReadReply(outcome, record,
            "MovimentoPontos: ", [&record](const std::string&) { LogRefusal(record, "MovimentoPontos: "); });
  return record;
}

TMovimentoTopVendas LancaMovimentosTopVendas(const std::string& URL, const std::string& CPFVendedor,
                                             std::int32_t CodigoMovimento, TTipoMovimento TipoMovimento,
                                             const std::string& CodigoProduto, Currency Quantidade,
                                             const DateTime& DataOcorrencia) {
  TMovimentoTopVendas record;
  ApiRequest request = NewCallRequest(HttpMethod::kPost, URL, "v1/lancador");
  request.AddField("software", Software);
  request.AddField("versao", Versao);
  request.AddField("cnpj", CNPJEmpresa());
  request.AddField("cpf", OnlyNumber(CPFVendedor));
  request.AddField("legado", std::to_string(CodigoMovimento));
  request.AddField("ean", CodigoProduto);
  request.AddField("quantidade", Quantidade.FormatWhole());
  request.AddField("dtocorrencia", FormatPostingMoment(DataOcorrencia));
  // The top-sales campaign knows sales and returns only: a payment sends no kind.
  if (TipoMovimento != TTipoMovimento::tmPagamento) {
    request.AddField("tipo", std::to_string(static_cast<int>(TipoMovimento)));
  }

  const ExchangeOutcome outcome = SendRequest(request);
  if (!outcome.completed()) return TransportFailure(outcome, std::move(record), false);

  std::string json_text;
  try {
    ReadReplyStatus(outcome, record, json_text);
    LogRefusal(record, "MovimentoTopVendas: ");
  } catch (const std::exception&) {
    // This posting's failure branch records the reply and logs nothing.
    record.CodRetorno = outcome.status;
    record.DescRetorno = json_text;
  }
  return record;
}

}  // namespace zendrel
