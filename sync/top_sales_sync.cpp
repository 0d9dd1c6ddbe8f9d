// The salesperson top-sales campaign: the daily refresh of the campaign's products,
// the send-index step, then every movement after the send index, one posting each,
// stopping at the first refusal. The loop itself is the shared one (send_loop.h); what
// is the top-sales campaign's own lives here.
#include <cstdint>
#include <string>
#include <vector>

#include "api/brindex_calls.h"
#include "erp/query.h"
#include "erp/settings_row.h"
#include "erp/statements.h"
#include "support/conversions.h"
#include "support/text_codec.h"
#include "sync/campaign_sync.h"
#include "sync/send_loop.h"
#include "sync/settings_columns.h"

namespace zendrel {

namespace {
// Posts the current top-sales row; the row's fields are read in this order, so a row
// with several faults logs the same one every time.
PostAnswer PostTopSales(const Query& row, const SettingsRow& settings) {
  const std::string url = settings.Field(padrao::kUrlTopVendas).AsString();
  const std::string cpf = row.Field("CPF").AsString();
  const std::int32_t codigo = row.Field("CODIGOMOVIMENTO").AsInteger();
  const TTipoMovimento kind = StrtoTipoMovimento(row.Field("TIPO").AsString());
  const std::string produto = row.Field("CODIGOPRODUTO").AsString();
  const Currency quantidade = row.Field("QUANTIDADE").AsCurrency();
  const DateTime momento = DateTime::Combine(row.Field("DATA").AsDateTime(), row.Field("HORA").AsDateTime());
  const TMovimentoTopVendas reply = LancaMovimentosTopVendas(url, cpf, codigo, kind, produto, quantidade, momento);
  return {reply.CodRetorno, reply.DescRetorno};
}
}  // namespace

void CampaignSync::EnviaMovimentoTopVendas() {
  ReportCampaignStart(TTipoCampanha::tcVendedor, padrao::kIndiceTopVendas);
  AtualizaProdutos();
  const std::int32_t last_sent = AtualizaIndiceEnvio(TTipoCampanha::tcVendedor);
  if (last_sent == -1) {
    ReportCampaignEnd(TTipoCampanha::tcVendedor);
    return;
  }

  // Every row is posted: no movement type is passed over. And no message pump between
  // rows, unlike the points campaign: the thread's waiting messages wait for the end of
  // the cycle.
  SendPending(erp_, last_sent,
              {.table = kTopVendasTable,
               .pending = erp_.TBMovTopVendas,
               .index_column = padrao::kIndiceTopVendas,
               .log_prefix = "MovimentoTopVendas: ",
               .post = [this] { return PostTopSales(erp_.TBMovTopVendas, erp_.TBPadrao); },
               .passes_unposted = {},
               .after_row = {},
               .stop = stop_,
               .progress = progress_,
               .campaign = TTipoCampanha::tcVendedor});
  ReportCampaignEnd(TTipoCampanha::tcVendedor);
}

void CampaignSync::AtualizaProdutos() {
  const FieldValue stored_day = erp_.TBPadrao.Field(padrao::kDiaProdutos);
  const DateTime today = clock_.Today();
  const bool refresh_due = stored_day.AsString().empty() || stored_day.AsDateTime().DatePart() < today;
  if (!refresh_due) return;

  // Not guarded: a product list that cannot be read ends the whole run.
  const std::vector<TItemClass> produtos =
      ObterProdutosTopVendas(erp_.TBPadrao.Field(padrao::kUrlTopVendas).AsString());
  // An empty list leaves the products and the day alone, so the next cycle tries again.
  if (produtos.empty()) return;

  // A failure from here to the commit leaves TRComandos active; the poll cycle rolls it
  // back and the old products stay.
  erp_.TRComandos.StartTransaction();
  erp_.TBComandos.SetSQL(S7);
  erp_.TBComandos.ExecSQL();
  erp_.TBComandos.SetSQL(S8);
  erp_.TBComandos.Prepare();
  for (const TItemClass& produto : produtos) {
    erp_.TBComandos.SetText("CODIGOPRODUTO", produto.ean);
    erp_.TBComandos.SetText("DESCRICAO", AsciiUpper(produto.produto));
    erp_.TBComandos.ExecSQL();
  }
  erp_.TBComandos.Unprepare();

  // The day is written inside the commit's guard: a settings write that fails is logged
  // like a failed commit and the cycle goes on; the next cycle refreshes again.
  ConfirmaComandos([&] { erp_.TBPadrao.WriteDateTime(padrao::kDiaProdutos, today); });
}

}  // namespace zendrel
