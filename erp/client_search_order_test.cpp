#include "erp/client_search_order.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zendrel {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> Files(const std::vector<ClientPlace>& places) {
  std::vector<std::string> files;
  for (const ClientPlace& place : places) files.push_back(place.file);
  return files;
}

TEST(WindowsClientPlaces, FollowTheOrderOfAFirebirdInstallationAndEndWithTheSystemSearch) {
  ClientSearchFacts facts;
  facts.executable_folder = "C:\\Zendrel\\";
  // The registry lists values in its own order: the default instance still comes first.
  facts.instances = {{"Loja2", "D:\\Firebird_2_5"}, {"DefaultInstance", "C:\\Program Files\\Firebird\\Firebird_3_0\\"}};
  facts.services = {{"FirebirdServerZip", "\"E:\\Firebird Zip\\firebird.exe\" -s Zip"}};
  facts.other_view_instances = {{"DefaultInstance", "C:\\Program Files (x86)\\Firebird\\Firebird_3_0\\"}};
  const std::vector<ClientPlace> places = WindowsClientPlaces(facts, "fbclient.dll");
  EXPECT_THAT(Files(places),
              ElementsAre("C:\\Zendrel\\fbclient.dll",                                     //
                          "C:\\Program Files\\Firebird\\Firebird_3_0\\fbclient.dll",       //
                          "C:\\Program Files\\Firebird\\Firebird_3_0\\bin\\fbclient.dll",  //
                          "D:\\Firebird_2_5\\fbclient.dll",                                //
                          "D:\\Firebird_2_5\\bin\\fbclient.dll",                           //
                          "E:\\Firebird Zip\\fbclient.dll",                                //
                          "C:\\Program Files (x86)\\Firebird\\Firebird_3_0\\fbclient.dll",
                          "C:\\Program Files (x86)\\Firebird\\Firebird_3_0\\bin\\fbclient.dll", "fbclient.dll"));
  EXPECT_EQ(places[0].origin, "pasta do executável");
  EXPECT_EQ(places[1].origin, "instância do Firebird no registro (DefaultInstance)");
  EXPECT_EQ(places[5].origin, "serviço FirebirdServerZip");
  EXPECT_EQ(places[6].origin, "instância do Firebird no registro de 32 bits (DefaultInstance)");
  EXPECT_EQ(places.back().origin, "caminho de busca do sistema");
}

TEST(WindowsClientPlaces, TriesEachFileOnceAndSkipsEmptyFolders) {
  ClientSearchFacts facts;
  facts.instances = {{"DefaultInstance", "C:\\Firebird\\"}, {"Vazia", ""}};
  // The installer's service runs from the instance's own folder.
  facts.services = {{"FirebirdServerDefaultInstance", "c:\\firebird\\firebird.exe -s DefaultInstance"},
                    {"FirebirdGuardianDefaultInstance", "sem pasta"}};
  EXPECT_THAT(Files(WindowsClientPlaces(facts, "fbclient.dll")),
              ElementsAre("C:\\Firebird\\fbclient.dll", "C:\\Firebird\\bin\\fbclient.dll", "fbclient.dll"));
}

TEST(ServiceProgramFolder, ReadsTheProgramOfABinaryPath) {
  const struct {
    const char* binary_path;
    const char* folder;
  } cases[] = {
      {"\"C:\\Program Files\\Firebird\\Firebird_3_0\\firebird.exe\" -s DefaultInstance",
       "C:\\Program Files\\Firebird\\Firebird_3_0\\"},
      {"C:\\Program Files\\Firebird\\Firebird_2_5\\bin\\fbguard.exe -s",
       "C:\\Program Files\\Firebird\\Firebird_2_5\\bin\\"},
      {"C:\\Fb\\bin\\fbserver.EXE", "C:\\Fb\\bin\\"},
      {"  \"D:\\Fb Zip\\firebird.exe\"", "D:\\Fb Zip\\"},
      {"C:\\Fb\\firebird -s x", "C:\\Fb\\"},
      {"firebird.exe -s", ""},
      {"", ""},
      {"\"C:\\sem aspas no fim\\firebird.exe", "C:\\sem aspas no fim\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(ServiceProgramFolder(c.binary_path), c.folder) << c.binary_path;
}

TEST(IsFirebirdService, KnowsTheServerByItsNameOrItsProgram) {
  EXPECT_TRUE(IsFirebirdService("FirebirdServerDefaultInstance", "C:\\x\\qualquer.exe"));
  EXPECT_TRUE(IsFirebirdService("FBLoja", "\"C:\\Fb\\firebird.exe\" -s FBLoja"));
  EXPECT_TRUE(IsFirebirdService("Guarda", "C:\\Fb\\bin\\FBGUARD.EXE -s"));
  EXPECT_TRUE(IsFirebirdService("Antigo", "C:\\Fb\\bin\\fbserver.exe"));
  EXPECT_TRUE(IsFirebirdService("Classic", "C:\\Fb\\bin\\fb_inet_server.exe"));
  EXPECT_FALSE(IsFirebirdService("SrvZendrel", "C:\\Zendrel\\Zendrel.exe"));
  EXPECT_FALSE(IsFirebirdService("Spooler", "C:\\Windows\\System32\\spoolsv.exe"));
}

// A DOS header pointing at a PE header for `machine`.
std::string PeHeader(unsigned machine, std::size_t pe_offset = 0x80) {
  std::string bytes(pe_offset + 24, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[0x3c] = static_cast<char>(pe_offset & 0xff);
  bytes[0x3d] = static_cast<char>((pe_offset >> 8) & 0xff);
  bytes.replace(pe_offset, 4, std::string("PE\0\0", 4));
  bytes[pe_offset + 4] = static_cast<char>(machine & 0xff);
  bytes[pe_offset + 5] = static_cast<char>(machine >> 8);
  return bytes;
}

TEST(PortableExecutableBitness, TellsA32BitDllFromA64BitOne) {
  EXPECT_EQ(PortableExecutableBitness(PeHeader(0x014c)), 32);
  EXPECT_EQ(PortableExecutableBitness(PeHeader(0x8664, 0x100)), 64);
  EXPECT_EQ(PortableExecutableBitness(PeHeader(0x01c4)), 0);                  // ARM
  EXPECT_EQ(PortableExecutableBitness(PeHeader(0x8664).substr(0, 0x84)), 0);  // cut inside the PE header
  std::string not_pe = PeHeader(0x8664);
  not_pe[0x81] = 'X';
  EXPECT_EQ(PortableExecutableBitness(not_pe), 0);
  std::string pointing_outside = PeHeader(0x8664);
  pointing_outside[0x3d] = '\x7f';
  EXPECT_EQ(PortableExecutableBitness(pointing_outside), 0);
  EXPECT_EQ(PortableExecutableBitness("\x7f"
                                      "ELF"),
            0);
  EXPECT_EQ(PortableExecutableBitness(""), 0);
}

}  // namespace
}  // namespace zendrel
