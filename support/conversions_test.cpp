#include "support/conversions.h"

#include <gtest/gtest.h>

#include "support/errors.h"

namespace zendrel {
namespace {

TEST(OnlyNumberTest, KeepsTheAsciiDigitsInOrder) {
  struct Case {
    const char* texto;
    const char* digits;
  };
  const Case cases[] = {
      {"123.456.789-09", "12345678909"},
      {"12.345.678/0001-90", "12345678000190"},
      {"12345678909", "12345678909"},
      {"", ""},
      {"abcXYZ", ""},
      {" 1 2\t3\r\n", "123"},
      // Arabic-Indic, full-width and superscript digits are no ASCII digits.
      // clang-format off
      {"\xD9\xA1\xD9\xA2" "7", "7"},
      {"\xEF\xBC\x91" "8\xC2\xB9", "8"},
      // clang-format on
      {"Jos\xC3\xA9 0", "0"},
  };
  for (const Case& c : cases) EXPECT_EQ(OnlyNumber(c.texto), c.digits) << c.texto;
}

TEST(StrtoTipoMovimentoTest, MapsTheSixCodes) {
  struct Case {
    const char* code;
    TTipoMovimento kind;
  };
  const Case cases[] = {
      {"VV", TTipoMovimento::tmVenda},     {"V", TTipoMovimento::tmVenda},      {"RC", TTipoMovimento::tmPagamento},
      {"CV", TTipoMovimento::tmDevolucao}, {"CR", TTipoMovimento::tmDevolucao}, {"D", TTipoMovimento::tmDevolucao},
  };
  for (const Case& c : cases) EXPECT_EQ(StrtoTipoMovimento(c.code), c.kind) << c.code;
}

TEST(StrtoTipoMovimentoTest, RejectsEveryOtherTextNamingIt) {
  for (const char* text : {"vv", " VV", "VV ", "VP", "", "v", "R", "VVV", "DV"}) {
    try {
      StrtoTipoMovimento(text);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const ConversionError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid movement type");
    }
  }
}

TEST(TTipoMovimentoTest, OrdinalsAreTheWireValues) {
  EXPECT_EQ(static_cast<int>(TTipoMovimento::tmVenda), 0);
  EXPECT_EQ(static_cast<int>(TTipoMovimento::tmPagamento), 1);
  EXPECT_EQ(static_cast<int>(TTipoMovimento::tmDevolucao), 2);
  EXPECT_EQ(sizeof(TTipoMovimento), 1u);
}

}  // namespace
}  // namespace zendrel
