#include "support/company_cnpj.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

namespace zendrel {
namespace {

// A settings row held in memory; a column it lacks fails as a closed query would.
using Columns = std::map<std::string, std::string, std::less<>>;

class RowInMemory final : public SettingsTextReader {
 public:
  explicit RowInMemory(Columns columns) : columns_(std::move(columns)) {}
  std::string ReadText(std::string_view column) const override {
    const auto found = columns_.find(column);
    if (found == columns_.end()) throw std::runtime_error("no column " + std::string(column));
    return found->second;
  }

 private:
  Columns columns_;
};

class CNPJEmpresaTest : public testing::Test {
 protected:
  ~CNPJEmpresaTest() override { SetCompanySettingsRow(nullptr); }
};

TEST_F(CNPJEmpresaTest, GivesTheDigitsOfTheColumnCGC) {
  const RowInMemory row(Columns{{"CGC", "12.345.678/0001-90"}, {"RAZAO", "Loja 1"}});
  SetCompanySettingsRow(&row);
  EXPECT_EQ(CNPJEmpresa(), "12345678000190");
}

TEST_F(CNPJEmpresaTest, AnEmptyColumnGivesTheEmptyText) {
  const RowInMemory row(Columns{{"CGC", ""}});
  SetCompanySettingsRow(&row);
  EXPECT_EQ(CNPJEmpresa(), "");
}

TEST_F(CNPJEmpresaTest, PassesTheRowsOwnError) {
  const RowInMemory row(Columns{{"RAZAO", "Loja 1"}});
  SetCompanySettingsRow(&row);
  EXPECT_THROW(
      {
        try {
          CNPJEmpresa();
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "no column CGC");
          throw;
        }
      },
      std::runtime_error);
}

TEST_F(CNPJEmpresaTest, FailsWhenNoRowIsRegistered) {
  SetCompanySettingsRow(nullptr);
  EXPECT_THROW(CNPJEmpresa(), std::runtime_error);
}

}  // namespace
}  // namespace zendrel
