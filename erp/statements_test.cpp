#include "erp/statements.h"

#include <gtest/gtest.h>

#include <string>

namespace zendrel {
namespace {

TEST(Statements, StartDayIsMonthDayYearQuoted) {
  struct Case {
    DateTime day;
    const char* text;
  };
  const Case cases[] = {
      {DateTime::Date(2021, 9, 5), "'9/5/2021'"},
      {DateTime::Date(2021, 12, 1), "'12/1/2021'"},
      {DateTime{2022, 1, 31, 17, 45, 10, 0}, "'1/31/2022'"},  // the time of day is not written
      {DateTime::Date(987, 3, 4), "'3/4/0987'"},
  };
  for (const Case& c : cases) EXPECT_EQ(S10StartDayText(c.day), c.text);
}

TEST(Statements, RebuildCarriesTheStartDayOnItsFifthLine) {
  const std::string sql = S10(DateTime::Date(2021, 12, 1));
  EXPECT_EQ(
      sql,
      "INSERT INTO BRINDEX_MOV_TOPVENDAS(DATA, HORA, TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE, CODIGOMOVIMENTO)\n"
      "SELECT V.DATA, V.HORA, 'V', V.ATENDENTE, V.CODIGOPRODUTO, V.QUANTIDADE, V.SEQUENCIAL FROM VENDAS V\n"
      "INNER JOIN BRINDEX_PROD_TOPVENDAS O ON V.CODIGOPRODUTO = O.CODIGOPRODUTO\n"
      "INNER JOIN FUNCIONARIOS F ON V.ATENDENTE = F.CODIGO\n"
      "WHERE V.DATA >= '12/1/2021'\n"
      "AND V.CANCELAMENTO IS NULL\n"
      "AND COALESCE(F.CPF, '') <> ''\n"
      "ORDER BY SEQUENCIAL");
}

TEST(Statements, TextsAreExact) {
  EXPECT_EQ(std::string(S3), "SELECT FIRST 1 MOVIMENTO FROM BRINDEX_PONTOS");
  // The blanks after :DATA belong to the statement.
  EXPECT_EQ(std::string(S5), "SELECT MAX(MOVIMENTO) AS MOVIMENTO\nFROM BRINDEX_PONTOS\nWHERE DATA < :DATA      ");
  EXPECT_EQ(std::string(S7), "DELETE FROM BRINDEX_PROD_TOPVENDAS");
  EXPECT_EQ(std::string(S9), "DELETE FROM BRINDEX_MOV_TOPVENDAS");
  EXPECT_EQ(
      std::string(S8),
      "UPDATE OR INSERT INTO BRINDEX_PROD_TOPVENDAS(CODIGOPRODUTO, DESCRICAO) VALUES(:CODIGOPRODUTO, :DESCRICAO)");
  EXPECT_TRUE(std::string(S1).starts_with("SELECT CODIGO\n     , CGC\n"));
  EXPECT_TRUE(std::string(S1).ends_with("     , BRINDEX_WEBSERVICETOPVENDAS\nFROM PADRAO\nORDER BY CODIGO"));
  EXPECT_TRUE(std::string(S4).ends_with("FROM BRINDEX_PONTOS\nWHERE MOVIMENTO > :MOVIMENTO\nORDER BY MOVIMENTO"));
  EXPECT_TRUE(
      std::string(S6).ends_with("FROM BRINDEX_MOV_TOPVENDAS O\nINNER JOIN FUNCIONARIOS F ON O.VENDEDOR = F.CODIGO\n"
                                "WHERE O.SEQUENCIAL > :SEQUENCIAL\nORDER BY O.SEQUENCIAL"));
}

}  // namespace
}  // namespace zendrel
