// The reply records the API calls return: what the platform answered (CodRetorno,
// DescRetorno, MensagemErro) plus the fields each call declares. Plain values owned
// by the caller; a new record has empty texts, zeros and the zero date-time.
#pragma once

#include <cstdint>
#include <string>

#include "support/conversions.h"
#include "support/currency.h"
#include "support/date_time.h"

namespace zendrel {

// Reply of LancaMovimentosPontos. Only CodRetorno, DescRetorno and MensagemErro
// are ever filled; the others are declared for the platform's record shape.
struct TMovimentoPontos {
  std::string CPF;
  std::int32_t Legado = 0;
  Currency Ponto;
  DateTime DataOcorrencia;
  TTipoMovimento TipoMovimento = TTipoMovimento::tmVenda;
  std::string CNPJ;
  std::string Versao;
  std::int32_t CodRetorno = 0;
  std::string DescRetorno;
  std::string MensagemErro;
};

// Reply of LancaMovimentosTopVendas. Only CodRetorno and DescRetorno are filled.
struct TMovimentoTopVendas {
  std::string CNPJ;
  std::int32_t CodRetorno = 0;
  std::string DescRetorno;
  std::string MensagemErro;
  std::string CPFVendedor;
  std::int32_t Legado = 0;
  std::string Ean;
  Currency Quantidade;
  DateTime Data;
  std::int32_t Tipo = 0;
};

// Reply of StatusReset: the pending reset's identifier and date.
struct TStatusReset {
  std::string CNPJ;
  std::string MensagemErro;
  std::int32_t CodRetorno = 0;
  std::string DescRetorno;
  std::string Uri;
  DateTime Data;
};

// Reply of Reset; CodRetorno 202 means the reset was acknowledged.
struct TReset {
  std::string CNPJ;
  std::string Uri;
  std::string MensagemErro;
  std::int32_t CodRetorno = 0;
  std::string DescRetorno;
};

}  // namespace zendrel
