// The ERP's CPF/CNPJ texts and movement codes, as the platform expects them.
#include "support/conversions.h"

#include <fmt/format.h>

#include "support/errors.h"

namespace zendrel {

std::string OnlyNumber(std::string_view texto) {
  std::string digits;
  digits.reserve(texto.size());
  // Bytewise is exact: in UTF-8 no byte of a non-ASCII character lies in '0'..'9',
  // so digits of other scripts are dropped along with everything else.
  for (const char c : texto) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits;
}

TTipoMovimento StrtoTipoMovimento(std::string_view Str) {
  if (Str == "VV" || Str == "V") return TTipoMovimento::tmVenda;
  if (Str == "RC") return TTipoMovimento::tmPagamento;
  if (Str == "CV" || Str == "CR" || Str == "D") return TTipoMovimento::tmDevolucao;
  // An unknown code must stop its movement visibly rather than be posted as some
  // arbitrary kind.
  throw ConversionError(fmt::format("'{}' is not a valid movement type", Str));
}

}  // namespace zendrel
