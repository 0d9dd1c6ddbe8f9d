// The reply records the API calls return: what the platform answered (CodRetorno,
// DescRetorno, MensagemErro) plus what a call reads on top. Plain values owned by
// the caller; a new record has empty texts, zeros and the zero date-time.
#pragma once

#include <cstdint>
#include <string>

#include "support/date_time.h"

namespace zendrel {

// Every record carries all three answer fields, even where a call never fills one:
// the shared failure branches write them, and callers read any record the same way.

// Reply of LancaMovimentosPontos.
struct TMovimentoPontos {
  std::int32_t CodRetorno = 0;
  std::string DescRetorno;
  std::string MensagemErro;
};

// Reply of LancaMovimentosTopVendas; MensagemErro is never filled.
struct TMovimentoTopVendas {
  std::int32_t CodRetorno = 0;
  std::string DescRetorno;
  std::string MensagemErro;
};

// Reply of StatusReset: the pending reset's identifier and date.
struct TStatusReset {
  std::string MensagemErro;
  std::int32_t CodRetorno = 0;
  std::string DescRetorno;
  std::string Uri;
  DateTime Data;
};

// Reply of Reset; CodRetorno 202 means the reset was acknowledged. Uri is never
// filled: callers must not take it for the identifier acknowledged.
struct TReset {
  std::string Uri;
  std::string MensagemErro;
  std::int32_t CodRetorno = 0;
  std::string DescRetorno;
};

}  // namespace zendrel
