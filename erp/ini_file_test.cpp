#include "erp/ini_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

namespace zendrel {
namespace {

TEST(IniFile, ReadsLikeTheWindowsProfileFunctions) {
  const IniFile ini = IniFile::Parse(
      "; comment\r\n"
      "[Outro]\r\n"
      "Servidor=errado\r\n"
      "[ tarvix ]\r\n"
      "  SERVIDOR  =  MeuServidor  \r\n"
      "Caminho=\"C:\\Tarvix Dados\\TARVIX.FDB\"\r\n"
      "Vazio=\r\n"
      "servidor=segundo\n"
      "Aspas='x'\n"
      "Meia=\"x\n"
      "Acento=S\xE3o Jo\xE3o\n");
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"Tarvix", "Servidor", "MeuServidor"},                  // case of names ignored, first match wins
      {"TARVIX", "caminho", "C:\\Tarvix Dados\\TARVIX.FDB"},  // one pair of quotes removed, blanks kept inside
      {"Tarvix", "Vazio", ""},                                // present but empty: no default
      {"Tarvix", "Falta", "padrao"},                          // missing key
      {"Nenhuma", "Servidor", "padrao"},                      // missing section
      {"Tarvix", "Aspas", "x"},
      {"Tarvix", "Meia", "\"x"},
      {"Tarvix", "Acento", "São João"},  // Windows-1252 without a byte-order mark
      {"Outro", "Servidor", "errado"},
  };
  for (const Case& c : cases) EXPECT_EQ(ini.ReadString(c.section, c.key, "padrao"), c.expected) << c.key;
}

TEST(IniFile, HonoursByteOrderMarks) {
  EXPECT_EQ(IniFile::Parse("\xEF\xBB\xBF[T]\nK=S\xC3\xA3o\n").ReadString("t", "k", ""), "São");
  const std::string utf16le("\xFF\xFE[\0T\0]\0\n\0K\0=\0\xE3\0\n\0", 18);
  EXPECT_EQ(IniFile::Parse(utf16le).ReadString("T", "K", ""), "ã");
}

TEST(IniFile, CutsLongValuesAndFindsTheFileWithoutRegardToCase) {
  const std::string long_value(3000, 'a');
  EXPECT_EQ(IniFile::Parse("[T]\nK=" + long_value).ReadString("T", "K", "").size(), 2047u);

  const auto folder = std::filesystem::temp_directory_path() / ("zendrel-ini-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "TARVIX.INI") << "[Tarvix]\nServidor=x\n";
  const auto found = FindFileIgnoringCase(folder, "Tarvix.ini");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->filename(), "TARVIX.INI");
  EXPECT_FALSE(FindFileIgnoringCase(folder, "outro.ini").has_value());
  EXPECT_EQ(IniFile::Load(folder / "missing.ini").ReadString("Tarvix", "Servidor", "localhost"), "localhost");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace zendrel
