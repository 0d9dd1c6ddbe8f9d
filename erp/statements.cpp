// The texts of the statements. The blanks inside the lines are part of them.
#include "erp/statements.h"

#include <fmt/format.h>

#include "support/regional_settings.h"

namespace zendrel {

const char* const S1 =
    "SELECT CODIGO\n"
    "     , CGC\n"
    "     , BRINDEXWEBSERVICE\n"
    "     , BRINDEX_ULTIMOENVIO\n"
    "     , BRINDEX_ATIVARPONTUACAO\n"
    "     , BRINDEX_ATIVARTOPVENDA\n"
    "     , BRINDEX_ULTIMOENVIOTOPVENDA\n"
    "     , BRINDEX_ULTIMODOWNLODPRODUTOS\n"
    "     , BRINDEX_WEBSERVICETOPVENDAS\n"
    "FROM PADRAO\n"
    "ORDER BY CODIGO";

const char* const S3 = "SELECT FIRST 1 MOVIMENTO FROM BRINDEX_PONTOS";

const char* const S4 =
    "SELECT MOVIMENTO\n"
    "     , CPF\n"
    "     , CARTAO\n"
    "     , NOME\n"
    "     , TIPOMOVIMENTO\n"
    "     , IDENTIFICACAO_MOVIMENTO\n"
    "     , VALOR\n"
    "FROM BRINDEX_PONTOS\n"
    "WHERE MOVIMENTO > :MOVIMENTO\n"
    "ORDER BY MOVIMENTO";

const char* const S5 =
    "SELECT MAX(MOVIMENTO) AS MOVIMENTO\n"
    "FROM BRINDEX_PONTOS\n"
    "WHERE DATA < :DATA      ";

const char* const S6 =
    "SELECT O.SEQUENCIAL\n"
    "     , O.DATA\n"
    "     , O.HORA\n"
    "     , O.TIPO\n"
    "     , F.CPF\n"
    "     , O.CODIGOPRODUTO\n"
    "     , O.QUANTIDADE\n"
    "     , O.CODIGOMOVIMENTO\n"
    "FROM BRINDEX_MOV_TOPVENDAS O\n"
    "INNER JOIN FUNCIONARIOS F ON O.VENDEDOR = F.CODIGO\n"
    "WHERE O.SEQUENCIAL > :SEQUENCIAL\n"
    "ORDER BY O.SEQUENCIAL";

const char* const S7 = "DELETE FROM BRINDEX_PROD_TOPVENDAS";

const char* const S8 =
    "UPDATE OR INSERT INTO BRINDEX_PROD_TOPVENDAS(CODIGOPRODUTO, DESCRICAO) VALUES(:CODIGOPRODUTO, :DESCRICAO)";

const char* const S9 = "DELETE FROM BRINDEX_MOV_TOPVENDAS";

std::string S10StartDayText(const DateTime& start_day) {
  const char separator = Regional().date_separator;
  const std::string text =
      fmt::format("{}{}{}{}{:04}", start_day.month, separator, start_day.day, separator, start_day.year);
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return quoted + "'";
}

std::string S10(const DateTime& start_day) {
  return "INSERT INTO BRINDEX_MOV_TOPVENDAS(DATA, HORA, TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE, "
         "CODIGOMOVIMENTO)\n"
         "SELECT V.DATA, V.HORA, 'V', V.ATENDENTE, V.CODIGOPRODUTO, V.QUANTIDADE, V.SEQUENCIAL FROM VENDAS V\n"
         "INNER JOIN BRINDEX_PROD_TOPVENDAS O ON V.CODIGOPRODUTO = O.CODIGOPRODUTO\n"
         "INNER JOIN FUNCIONARIOS F ON V.ATENDENTE = F.CODIGO\n"
         "WHERE V.DATA >= " +
         S10StartDayText(start_day) +
         "\n"
         "AND V.CANCELAMENTO IS NULL\n"
         "AND COALESCE(F.CPF, '') <> ''\n"
         "ORDER BY SEQUENCIAL";
}

}  // namespace zendrel
