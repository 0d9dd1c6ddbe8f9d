// Small conversions from the ERP's values to what the platform expects.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zendrel {

// Kind of a loyalty movement; the ordinal is sent as "tipo".
enum class TTipoMovimento : std::uint8_t { tmVenda = 0, tmPagamento = 1, tmDevolucao = 2 };

// The ASCII digits of `texto`, in order (CPF and CNPJ numbers).
std::string OnlyNumber(std::string_view texto);

// Maps the ERP's movement codes VV, V -> tmVenda; RC -> tmPagamento; CV, CR, D ->
// tmDevolucao, exactly (case and blanks matter). Any other text throws a
// ConversionError whose message names it.
TTipoMovimento StrtoTipoMovimento(std::string_view Str);

}  // namespace zendrel
