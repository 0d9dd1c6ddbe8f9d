// The statements on the real server: typed reads, NULLs, texts in Latin-1, the
// pending queries' order and filters, and the command statements.
#include "erp/query.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "erp/database_error.h"
#include "erp/statements.h"
#include "erp/testing/test_database.h"
#include "support/errors.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

using ::testing::ElementsAre;
using testing::TestDatabase;

class QueryTest : public ::testing::Test {
 protected:
  QueryTest()
      : read_only_(connection_, TransactionMode::ReadOnlyReadCommitted, true),
        comandos_(connection_, TransactionMode::ReadWriteReadCommitted, false),
        query_(connection_, read_only_),
        command_(connection_, comandos_) {
    db_.ConfigureConnection(connection_);
    connection_.Connect();
  }

  // The values of `column` over every row of `sql`, read as text.
  std::vector<std::string> Column(const std::string& sql, const std::string& column) {
    std::vector<std::string> values;
    query_.SetSQL(sql);
    for (query_.Open(); !query_.Eof(); query_.Next()) values.push_back(query_.Field(column).AsString());
    query_.Close();
    return values;
  }

  TestDatabase db_;
  Connection connection_;
  Transaction read_only_;
  Transaction comandos_;
  Query query_;
  Query command_;
};

TEST_F(QueryTest, PendingPointsComeInOrderWithTheirTypes) {
  db_.RunScript(
      "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, CARTAO, NOME, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR, DATA) "
      "VALUES (12, '111.222.333-96', '5001', 'Ana', 'VV', 9001, 150.75, '2024-03-10');"
      "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, TIPOMOVIMENTO, IDENTIFICACAO_MOVIMENTO, VALOR) "
      "VALUES (10, '444', 'RC', NULL, NULL);"
      "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, TIPOMOVIMENTO, VALOR) VALUES (11, '555', 'VP', -3.5);"
      "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, CPF, TIPOMOVIMENTO) VALUES (9, '666', 'V');");
  query_.SetSQL(S4);
  query_.SetInteger("MOVIMENTO", 9);
  query_.Open();
  ASSERT_FALSE(query_.Eof());
  EXPECT_EQ(query_.Field("MOVIMENTO").AsInteger(), 10);
  EXPECT_EQ(query_.Field("identificacao_movimento").AsInteger(), 0);  // NULL reads as 0
  EXPECT_EQ(query_.Field("IDENTIFICACAO_MOVIMENTO").AsString(), "");  // and as empty text
  EXPECT_EQ(query_.Field("VALOR").AsCurrency(), Currency());
  EXPECT_TRUE(query_.Field("CARTAO").IsNull());
  query_.Next();
  EXPECT_EQ(query_.Field("MOVIMENTO").AsInteger(), 11);
  EXPECT_EQ(query_.Field("VALOR").AsCurrency(), Currency::Parse("-3.5"));
  query_.Next();
  EXPECT_EQ(query_.Field("MOVIMENTO").AsString(), "12");
  EXPECT_EQ(query_.Field("CPF").AsString(), "111.222.333-96");
  EXPECT_EQ(query_.Field("TIPOMOVIMENTO").AsString(), "VV");
  EXPECT_EQ(query_.Field("IDENTIFICACAO_MOVIMENTO").AsInteger(), 9001);
  EXPECT_EQ(query_.Field("VALOR").AsCurrency(), Currency::Parse("150.75"));
  EXPECT_THROW(query_.Field("VALOR").AsInteger(), ConversionError);  // 150.75 has a fraction
  EXPECT_THROW(query_.Field("DATA"), DatabaseError);                 // S4 does not select it
  query_.Next();
  EXPECT_TRUE(query_.Eof());
  EXPECT_THROW(query_.Field("MOVIMENTO"), DatabaseError);
  query_.Close();
  EXPECT_FALSE(query_.Active());
  EXPECT_THROW(query_.Field("MOVIMENTO"), DatabaseError);

  // Existence test.
  EXPECT_THAT(Column(S3, "MOVIMENTO"), ::testing::SizeIs(1));
  db_.Execute("DELETE FROM BRINDEX_PONTOS");
  EXPECT_THAT(Column(S3, "MOVIMENTO"), ::testing::IsEmpty());
}

TEST_F(QueryTest, RewindPositionIsZeroWhenNothingLiesBefore) {
  db_.RunScript(
      "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, DATA) VALUES (5, '2024-03-01');"
      "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, DATA) VALUES (8, '2024-03-02');"
      "INSERT INTO BRINDEX_PONTOS (MOVIMENTO, DATA) VALUES (9, '2024-03-03');");
  struct Case {
    DateTime day;
    int expected;
  };
  const Case cases[] = {{DateTime::Date(2024, 3, 1), 0},
                        {DateTime::Date(2024, 3, 3), 8},
                        {DateTime{2024, 3, 3, 18, 30, 0, 0}, 8},  // compared as a day
                        {DateTime::Date(2025, 1, 1), 9}};
  query_.SetSQL(S5);
  for (const Case& c : cases) {
    query_.SetDate("DATA", c.day);
    query_.Open();
    ASSERT_FALSE(query_.Eof());
    EXPECT_EQ(query_.Field("MOVIMENTO").AsInteger(), c.expected);
    EXPECT_EQ(query_.Field("MOVIMENTO").AsString(), c.expected == 0 ? "" : std::to_string(c.expected));
    query_.Close();
  }
}

TEST_F(QueryTest, PendingTopSalesJoinTheSalespeople) {
  db_.RunScript(
      "INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (1, 'Ana', '123.456.789-09');"
      "INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (2, 'Bia', NULL);"
      "INSERT INTO BRINDEX_MOV_TOPVENDAS (DATA, HORA, TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE, CODIGOMOVIMENTO) "
      "VALUES ('2024-03-10', '14:30:59.9999', 'V', 1, '789', 2.5, 77);"
      "INSERT INTO BRINDEX_MOV_TOPVENDAS (DATA, HORA, TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE, CODIGOMOVIMENTO) "
      "VALUES ('2024-03-10', '15:00:00', 'V', 99, '789', 1, 78);"  // no such salesperson
      "INSERT INTO BRINDEX_MOV_TOPVENDAS (DATA, HORA, TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE, CODIGOMOVIMENTO) "
      "VALUES ('2024-03-11', '09:05:00', 'D', 2, '790', 1, 79);");
  query_.SetSQL(S6);
  query_.SetInteger("SEQUENCIAL", 0);
  query_.Open();
  ASSERT_FALSE(query_.Eof());
  EXPECT_EQ(query_.Field("SEQUENCIAL").AsInteger(), 1);  // assigned by the generator
  EXPECT_EQ(query_.Field("DATA").AsDateTime(), DateTime::Date(2024, 3, 10));
  EXPECT_EQ(query_.Field("HORA").AsDateTime(), (DateTime{1899, 12, 30, 14, 30, 59, 999}));
  EXPECT_EQ(query_.Field("CPF").AsString(), "123.456.789-09");
  EXPECT_EQ(query_.Field("QUANTIDADE").AsCurrency(), Currency::Parse("2.5"));
  EXPECT_EQ(query_.Field("CODIGOMOVIMENTO").AsInteger(), 77);
  query_.Next();
  EXPECT_EQ(query_.Field("SEQUENCIAL").AsInteger(), 3);  // 2 has no FUNCIONARIOS row
  EXPECT_EQ(query_.Field("TIPO").AsString(), "D");
  EXPECT_EQ(query_.Field("CPF").AsString(), "");
  query_.Next();
  EXPECT_TRUE(query_.Eof());
  query_.Close();

  query_.SetInteger("SEQUENCIAL", 1);
  query_.Open();
  EXPECT_EQ(query_.Field("SEQUENCIAL").AsInteger(), 3);
  query_.Close();
}

TEST_F(QueryTest, ProductUpsertKeepsTheLaterNameAndCutsLongTexts) {
  comandos_.StartTransaction();
  command_.SetSQL(S7);
  command_.ExecSQL();
  command_.SetSQL(S8);
  command_.Prepare();
  const std::string sixty = "Café com açúcar e pão de ló, edição especial de inverno 2024";
  ASSERT_EQ(Utf8Length(sixty), 60u);
  command_.SetText("CODIGOPRODUTO", "789");
  command_.SetText("DESCRICAO", "Primeiro nome");
  command_.ExecSQL();
  command_.SetText("CODIGOPRODUTO", "789");
  command_.SetText("DESCRICAO", sixty);
  command_.ExecSQL();
  command_.SetText("CODIGOPRODUTO", "790");
  command_.SetText("DESCRICAO", "");
  command_.ExecSQL();
  EXPECT_EQ(db_.SelectInteger("SELECT COUNT(*) FROM BRINDEX_PROD_TOPVENDAS"), 0);  // not committed yet
  comandos_.Commit();

  EXPECT_THAT(Column("SELECT CODIGOPRODUTO FROM BRINDEX_PROD_TOPVENDAS ORDER BY 1", "CODIGOPRODUTO"),
              ElementsAre("789", "790"));
  EXPECT_EQ(db_.SelectText("SELECT DESCRICAO FROM BRINDEX_PROD_TOPVENDAS WHERE CODIGOPRODUTO = '789'"),
            Utf8Prefix(sixty, 50));
  // An empty text is stored as NULL, not as ''.
  EXPECT_EQ(db_.SelectInteger("SELECT COUNT(*) FROM BRINDEX_PROD_TOPVENDAS WHERE DESCRICAO IS NULL"), 1);
}

TEST_F(QueryTest, Latin1TextsRoundTrip) {
  comandos_.StartTransaction();
  command_.SetSQL("INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (:CODIGO, :NOME, :CPF)");
  command_.SetInteger("CODIGO", 1);
  command_.SetText("NOME", "Conceição Brandão Médici");
  command_.SetText("CPF", "€");  // outside Latin-1
  command_.ExecSQL();
  comandos_.Commit();
  EXPECT_THAT(Column("SELECT NOME FROM FUNCIONARIOS", "NOME"), ElementsAre("Conceição Brandão Médici"));
  EXPECT_EQ(db_.SelectInteger("SELECT OCTET_LENGTH(NOME) FROM FUNCIONARIOS"), 24);  // one byte a letter
  EXPECT_THAT(Column("SELECT CPF FROM FUNCIONARIOS", "CPF"), ElementsAre("?"));

  query_.SetSQL("SELECT CODIGO FROM FUNCIONARIOS WHERE NOME = :NOME");
  query_.SetText("NOME", "Conceição Brandão Médici");
  query_.Open();
  EXPECT_FALSE(query_.Eof());
  query_.Close();
}

TEST_F(QueryTest, FixedLengthTextLosesItsPaddingAndBadStatementsRaise) {
  db_.Execute("INSERT INTO PADRAO (CODIGO, BRINDEX_ATIVARPONTUACAO, BRINDEX_ATIVARTOPVENDA) VALUES (1, 'Y', ' ')");
  query_.SetSQL("SELECT BRINDEX_ATIVARPONTUACAO, BRINDEX_ATIVARTOPVENDA, CAST('ab' AS CHAR(10)) AS C FROM PADRAO");
  query_.Open();
  EXPECT_EQ(query_.Field("BRINDEX_ATIVARPONTUACAO").AsString(), "Y");
  EXPECT_EQ(query_.Field("BRINDEX_ATIVARTOPVENDA").AsString(), "");
  EXPECT_TRUE(query_.Field("BRINDEX_ATIVARTOPVENDA").IsNull());
  EXPECT_EQ(query_.Field("C").AsString(), "ab");
  query_.Close();

  query_.SetSQL("SELECT NADA FROM PADRAO");
  try {
    query_.Open();
    FAIL() << "an unknown column was accepted";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(error.code(), 335544569);  // isc_dsql_error
    EXPECT_NE(std::string(error.what()).find("NADA"), std::string::npos) << error.what();
  }
  EXPECT_FALSE(read_only_.Active());
  query_.SetSQL("SELECT CODIGO FROM PADRAO WHERE CODIGO = :CODIGO");
  EXPECT_THROW(query_.Open(), DatabaseError);  // a parameter without a value
}

TEST_F(QueryTest, RebuildLeavesOutCancelledSalesAndSalespeopleWithoutCpf) {
  db_.RunScript(
      "INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (1, 'Ana', '123');"
      "INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (2, 'Bia', '');"
      "INSERT INTO FUNCIONARIOS (CODIGO, NOME, CPF) VALUES (3, 'Caio', NULL);"
      "INSERT INTO BRINDEX_PROD_TOPVENDAS (CODIGOPRODUTO, DESCRICAO) VALUES ('789', 'CAFE');"
      "INSERT INTO BRINDEX_MOV_TOPVENDAS (DATA, TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE) "
      "VALUES ('2021-11-01', 'V', 1, '789', 1);"
      "INSERT INTO BRINDEX_MOV_TOPVENDAS (DATA, TIPO, VENDEDOR, CODIGOPRODUTO, QUANTIDADE) "
      "VALUES ('2021-11-02', 'V', 1, '789', 1);"
      // Sales: 1 before the day; 2, 5 counted; 3 cancelled; 4 by a salesperson with an empty CPF;
      // 6 by one with a NULL CPF; 7 of a product outside the campaign.
      "INSERT INTO VENDAS (DATA, HORA, ATENDENTE, CODIGOPRODUTO, QUANTIDADE) VALUES ('2021-11-30', '10:00', 1, '789', 1);"
      "INSERT INTO VENDAS (DATA, HORA, ATENDENTE, CODIGOPRODUTO, QUANTIDADE) VALUES ('2021-12-01', '10:00', 1, '789', 2);"
      "INSERT INTO VENDAS (DATA, HORA, ATENDENTE, CODIGOPRODUTO, QUANTIDADE, CANCELAMENTO) "
      "VALUES ('2021-12-02', '10:00', 1, '789', 3, '2021-12-02 11:00');"
      "INSERT INTO VENDAS (DATA, HORA, ATENDENTE, CODIGOPRODUTO, QUANTIDADE) VALUES ('2021-12-02', '10:00', 2, '789', 4);"
      "INSERT INTO VENDAS (DATA, HORA, ATENDENTE, CODIGOPRODUTO, QUANTIDADE) VALUES ('2021-12-03', '11:15', 1, '789', 5);"
      "INSERT INTO VENDAS (DATA, HORA, ATENDENTE, CODIGOPRODUTO, QUANTIDADE) VALUES ('2021-12-03', '10:00', 3, '789', 6);"
      "INSERT INTO VENDAS (DATA, HORA, ATENDENTE, CODIGOPRODUTO, QUANTIDADE) VALUES ('2021-12-03', '10:00', 1, '111', 7);");
  comandos_.StartTransaction();
  command_.SetSQL(S9);
  command_.ExecSQL();
  EXPECT_EQ(command_.RowsAffected(), 2);
  command_.SetSQL(S10(DateTime::Date(2021, 12, 1)));
  command_.ExecSQL();
  EXPECT_EQ(command_.RowsAffected(), 2);
  comandos_.Commit();

  EXPECT_THAT(Column("SELECT SEQUENCIAL FROM BRINDEX_MOV_TOPVENDAS ORDER BY SEQUENCIAL", "SEQUENCIAL"),
              ElementsAre("3", "4"));  // new numbers above the old ones
  EXPECT_THAT(Column("SELECT CODIGOMOVIMENTO FROM BRINDEX_MOV_TOPVENDAS ORDER BY SEQUENCIAL", "CODIGOMOVIMENTO"),
              ElementsAre("2", "5"));
  EXPECT_THAT(Column("SELECT TIPO FROM BRINDEX_MOV_TOPVENDAS ORDER BY SEQUENCIAL", "TIPO"), ElementsAre("V", "V"));
  EXPECT_THAT(Column("SELECT HORA FROM BRINDEX_MOV_TOPVENDAS ORDER BY SEQUENCIAL", "HORA"),
              ElementsAre("10:00:00", "11:15:00"));
}

TEST_F(QueryTest, CommandPreparedBeforeItsTransactionStarts) {
  command_.SetSQL(S8);
  command_.Prepare();
  EXPECT_TRUE(command_.Prepared());
  EXPECT_FALSE(comandos_.Active());
  comandos_.StartTransaction();
  command_.SetText("CODIGOPRODUTO", "789");
  command_.SetText("DESCRICAO", "CAFE");
  command_.ExecSQL();
  comandos_.Commit();
  EXPECT_EQ(db_.SelectText("SELECT DESCRICAO FROM BRINDEX_PROD_TOPVENDAS"), "CAFE");
}

// In an explicit transaction the count is fetched only when asked; it must still be
// the count of the last run, also when asked after the statement was let go of.
TEST_F(QueryTest, RowsAffectedOfAnExplicitTransactionIsTheLastRunsCount) {
  db_.RunScript(
      "INSERT INTO BRINDEX_PROD_TOPVENDAS (CODIGOPRODUTO, DESCRICAO) VALUES ('1', 'A');"
      "INSERT INTO BRINDEX_PROD_TOPVENDAS (CODIGOPRODUTO, DESCRICAO) VALUES ('2', 'B');"
      "INSERT INTO BRINDEX_PROD_TOPVENDAS (CODIGOPRODUTO, DESCRICAO) VALUES ('3', 'C');");
  comandos_.StartTransaction();
  command_.SetSQL("UPDATE BRINDEX_PROD_TOPVENDAS SET DESCRICAO = 'X' WHERE CODIGOPRODUTO <> '1'");
  command_.ExecSQL();
  EXPECT_EQ(command_.RowsAffected(), 2);
  command_.SetSQL(S7);
  command_.ExecSQL();
  command_.Unprepare();  // the count goes with the statement unless taken first
  EXPECT_EQ(command_.RowsAffected(), 3);
  command_.SetSQL(S8);
  command_.SetText("CODIGOPRODUTO", "9");
  command_.SetText("DESCRICAO", "NOVO");
  command_.ExecSQL();
  command_.ExecSQL();  // the same product again: one row each run
  EXPECT_EQ(command_.RowsAffected(), 1);
  comandos_.Commit();
  EXPECT_EQ(command_.RowsAffected(), 1);
}

TEST_F(QueryTest, CommandRolledBackLeavesNothing) {
  comandos_.StartTransaction();
  command_.SetSQL(S9);
  db_.Execute("INSERT INTO BRINDEX_MOV_TOPVENDAS (TIPO) VALUES ('V')");
  command_.ExecSQL();
  comandos_.Rollback();
  EXPECT_FALSE(comandos_.Active());
  EXPECT_EQ(db_.SelectInteger("SELECT COUNT(*) FROM BRINDEX_MOV_TOPVENDAS"), 1);
}

}  // namespace
}  // namespace zendrel
