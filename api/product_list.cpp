// The campaign's product list download.
#include "api/api_settings.h"
#include "api/brindex_calls.h"
#include "api/call_framing.h"
#include "api/exchange.h"
#include "api/reply_json_text.h"
#include "support/company_cnpj.h"
#include "support/log_file.h"
#include "support/text.h"

namespace zendrel {

std::vector<TItemClass> ObterProdutosTopVendas(const std::string& URL) {
  std::vector<TItemClass> products;
  ApiRequest request = NewCallRequest(HttpMethod::kGet, URL, "v2/produtos");
  request.AddField("software", Software);
  request.AddField("versao", Versao);
  request.AddField("cnpj", CNPJEmpresa());

  const ExchangeOutcome outcome = SendRequest(request);
  if (!outcome.completed()) {
    DoSaveLog(outcome.reply_text);
    return products;
  }
  if (outcome.status != 200) {
    DoSaveLog("ProdutosTopVendas: " + outcome.reply_text);
    return products;
  }

  // A 200 reply that cannot be read is the caller's to handle: it throws from here.
  std::optional<TRootClass> root = TRootClass::FromJsonString(WrapItems(ReplyJsonText(outcome.reply_text)));
  if (root) {
    for (std::optional<TItemClass>& item : root->Items) {
      // A null element names no product; the caller must meet only real records.
      if (!item) continue;
      // The product code is the key of the campaign's product table: an item without
      // one would be written as NULL and fail the whole refresh in every cycle, so it
      // is left out, visibly, and the other products are stored.
      if (TrimControlsAndSpaces(item->ean).empty()) {
        DoSaveLog("ProdutosTopVendas: produto sem EAN ignorado: " + item->produto);
        continue;
      }
      products.push_back(std::move(*item));
    }
  }
  return products;
}

}  // namespace zendrel
