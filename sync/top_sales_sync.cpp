// The salesperson top-sales campaign: the daily refresh of the campaign's products,
// the send-index step, then every movement after the send index, one posting each,
// stopping at the first refusal.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "api/brindex_calls.h"
#include "erp/statements.h"
#include "support/conversions.h"
#include "support/log_file.h"
#include "support/text_codec.h"
#include "sync/campaign_sync.h"
#include "sync/pending_read.h"
#include "sync/settings_columns.h"

namespace zendrel {

namespace {
constexpr int kAccepted = 200;
constexpr const char* kLogPrefix = "MovimentoTopVendas: ";
}  // namespace

void CampaignSync::EnviaMovimentoTopVendas() {
  AtualizaProdutos();
  const std::int32_t UltimoMovimento = AtualizaIndiceEnvio(TTipoCampanha::tcVendedor);
  if (UltimoMovimento == -1) return;
  EnviaPendentesTopVendas();
}

void CampaignSync::AtualizaProdutos() {
  const FieldValue stored_day = erp_.TBPadrao.Field(padrao::kDiaProdutos);
  const DateTime today = clock_.Today();
  const bool AtualizarBaseProdutos =
      stored_day.AsString().empty() || stored_day.AsDateTime().DatePart() < today;
  if (!AtualizarBaseProdutos) return;

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

  try {
    erp_.TRComandos.Commit();
    erp_.TBPadrao.WriteDateTime(padrao::kDiaProdutos, today);
  } catch (const std::exception& e) {
    if (erp_.TRComandos.Active()) erp_.TRComandos.Rollback();
    DoSaveLog(e.what());
  }
}

void CampaignSync::EnviaPendentesTopVendas() {
  std::int64_t highest = std::numeric_limits<std::int64_t>::max();
  // Where the read itself waits for a till, there is nothing to wait for first.
  if (erp_.settle_pending_holders && ReadCommittedPassesUncommittedInserts(erp_.Connquimero) &&
      !AwaitPendingSettled(erp_.Connquimero, kTopVendasTable, erp_.TransPendentes.lock_timeout(), kLogPrefix, highest)) {
    return;
  }

  Query& pendentes = erp_.TBMovTopVendas;
  pendentes.Close();
  pendentes.SetInteger("SEQUENCIAL", erp_.TBPadrao.Field(padrao::kIndiceTopVendas).AsInteger());
  if (!OpenPending(pendentes, kLogPrefix)) return;

  int Resposta = kAccepted;
  while (!pendentes.Eof() && Resposta == kAccepted) {
    // A later number may still have an uncommitted one below it: the next cycle.
    const std::int64_t sequencial = pendentes.Field("SEQUENCIAL").AsInteger();
    if (sequencial > highest) break;
    try {
      const std::string url = erp_.TBPadrao.Field(padrao::kUrlTopVendas).AsString();
      const std::string cpf = pendentes.Field("CPF").AsString();
      const std::int32_t codigo = pendentes.Field("CODIGOMOVIMENTO").AsInteger();
      const TTipoMovimento kind = StrtoTipoMovimento(pendentes.Field("TIPO").AsString());
      const std::string produto = pendentes.Field("CODIGOPRODUTO").AsString();
      const Currency quantidade = pendentes.Field("QUANTIDADE").AsCurrency();
      const DateTime momento =
          DateTime::Combine(pendentes.Field("DATA").AsDateTime(), pendentes.Field("HORA").AsDateTime());
      const TMovimentoTopVendas MovimentoTopVendas =
          LancaMovimentosTopVendas(url, cpf, codigo, kind, produto, quantidade, momento);
      Resposta = MovimentoTopVendas.CodRetorno;
      if (Resposta == kAccepted) {
        erp_.TBPadrao.WriteInteger(padrao::kIndiceTopVendas, pendentes.Field("SEQUENCIAL").AsInteger());
      }
    } catch (const std::exception& e) {
      Resposta = -1;
      DoSaveLog(std::string(kLogPrefix) + e.what());
    }
    // Reading on past the highest settled number could only wait for a later till.
    if (Resposta == kAccepted && sequencial >= highest) break;
    if (Resposta == kAccepted && !NextPending(pendentes, kLogPrefix)) break;
  }
}

}  // namespace zendrel
