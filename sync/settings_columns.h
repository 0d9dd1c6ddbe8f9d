// Column names of the settings row that the campaigns read and write.
#pragma once

namespace zendrel::padrao {

inline constexpr const char* kCnpj = "CGC";
inline constexpr const char* kUrlPontos = "BRINDEXWEBSERVICE";
inline constexpr const char* kIndicePontos = "BRINDEX_ULTIMOENVIO";
inline constexpr const char* kAtivaPontos = "BRINDEX_ATIVARPONTUACAO";
inline constexpr const char* kAtivaTopVendas = "BRINDEX_ATIVARTOPVENDA";
inline constexpr const char* kIndiceTopVendas = "BRINDEX_ULTIMOENVIOTOPVENDA";
inline constexpr const char* kDiaProdutos = "BRINDEX_ULTIMODOWNLODPRODUTOS";
inline constexpr const char* kUrlTopVendas = "BRINDEX_WEBSERVICETOPVENDAS";

}  // namespace zendrel::padrao
