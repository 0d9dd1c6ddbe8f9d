// The five calls of the loyalty platform's web API. Each builds its own request
// from the campaign's base address `URL`, sends it (time-outs, redirects and
// certificate handling of the request layer), writes what went wrong to the log
// and returns what the platform answered. None throws for a failed or refused
// exchange; an error while building the request (CNPJEmpresa) or a log file that
// cannot be written reaches the caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/json_records.h"
#include "api/reply_records.h"
#include "support/conversions.h"
#include "support/currency.h"
#include "support/date_time.h"

namespace zendrel {

// Compiled-in credentials and identification of this software.
inline constexpr char Token[] = "Rk3vQp8WzN1tLm6YdHs0GfJc2XbAe9UoPi7TnKw4MqVy5ZrBxE";
inline constexpr char Software[] = "quimero";
inline constexpr char Versao[] = "9.0";

// The failure text of an exchange that got no usable reply.
inline constexpr char kFalhaComunicacao[] = "Falha na Comunicação com o Servidor da Brindex!!!";

// POST v1/lancador: one customer points movement, dated with the moment of sending
// (the clock of the API settings). CodRetorno 200 is acceptance.
TMovimentoPontos LancaMovimentosPontos(const std::string& URL, const std::string& cpf, std::int32_t CodigoMovimento,
                                       TTipoMovimento TipoMovimento, Currency Valor);

// POST v1/lancador: one salesperson top-sales movement at its own date and time.
// CodRetorno 200 is acceptance.
TMovimentoTopVendas LancaMovimentosTopVendas(const std::string& URL, const std::string& CPFVendedor,
                                             std::int32_t CodigoMovimento, TTipoMovimento TipoMovimento,
                                             const std::string& CodigoProduto, Currency Quantidade,
                                             const DateTime& DataOcorrencia);

// GET v2/produtos: the campaign's products, in the reply's order; null elements
// are left out. Empty when nothing was obtained. A 200 reply that cannot be read
// throws the record mapping's ConversionError.
std::vector<TItemClass> ObterProdutosTopVendas(const std::string& URL);

// GET v1/reset: the pending reset; Uri is the last item's identifier and Data the
// date of the last item with a non-blank identifier.
TStatusReset StatusReset(const std::string& URL);

// POST v1/reset: acknowledges the reset `Uri` (sent as it is). CodRetorno 202 is
// acceptance.
TReset Reset(const std::string& URL, const std::string& Uri);

}  // namespace zendrel
