#include "erp/named_parameters.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace zendrel {
namespace {

using ::testing::ElementsAre;

struct Case {
  const char* sql;
  const char* text;
  std::vector<std::string> names;
};

TEST(ToPositional, RewritesNamesOutsideLiteralsAndComments) {
  const Case cases[] = {
      {"WHERE MOVIMENTO > :MOVIMENTO", "WHERE MOVIMENTO > ?", {"MOVIMENTO"}},
      {"VALUES(:CodigoProduto, :DESCRICAO)", "VALUES(?, ?)", {"CODIGOPRODUTO", "DESCRICAO"}},
      {"WHERE A = :X OR B = :x", "WHERE A = ? OR B = ?", {"X", "X"}},
      {"WHERE H = '12:30' AND N = :N", "WHERE H = '12:30' AND N = ?", {"N"}},
      {"WHERE S = 'it''s :NOT' AND T = :T", "WHERE S = 'it''s :NOT' AND T = ?", {"T"}},
      {"SELECT \":Q\" FROM T -- :C\nWHERE X = :P_1$", "SELECT \":Q\" FROM T -- :C\nWHERE X = ?", {"P_1$"}},
      {"SELECT /* :C */ 1 FROM T", "SELECT /* :C */ 1 FROM T", {}},
      {"SELECT 1 FROM T WHERE X = : Y", "SELECT 1 FROM T WHERE X = : Y", {}},
  };
  for (const Case& c : cases) {
    const PositionalSql result = ToPositional(c.sql);
    EXPECT_EQ(result.text, c.text) << c.sql;
    EXPECT_EQ(result.names, c.names) << c.sql;
  }
}

TEST(ToPositional, KeepsAnUnterminatedLiteralWhole) {
  const PositionalSql result = ToPositional("WHERE A = 'x :Y");
  EXPECT_EQ(result.text, "WHERE A = 'x :Y");
  EXPECT_THAT(result.names, ElementsAre());
}

}  // namespace
}  // namespace zendrel
