#include "erp/testing/sql_script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace zendrel::testing {
namespace {

using ::testing::ElementsAre;

TEST(SplitSqlScript, FollowsSetTermAndLiterals) {
  const auto statements = SplitSqlScript(
      "-- header; with a semicolon\n"
      "CREATE TABLE T (A INTEGER);\n"
      "INSERT INTO T VALUES (';');\n"
      "SET TERM ^ ;\n"
      "CREATE TRIGGER X FOR T BEFORE INSERT AS BEGIN NEW.A = 1; END^\n"
      "SET TERM ; ^\n"
      "/* block; */ COMMIT;\n");
  EXPECT_THAT(statements, ElementsAre("CREATE TABLE T (A INTEGER)", "INSERT INTO T VALUES (';')",
                                      "CREATE TRIGGER X FOR T BEFORE INSERT AS BEGIN NEW.A = 1; END", "COMMIT"));
}

}  // namespace
}  // namespace zendrel::testing
