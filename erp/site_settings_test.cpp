#include "erp/site_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include <fmt/format.h>

namespace zendrel {
namespace {

using ::testing::ElementsAre;

// A host with a chosen name and chosen look-up answers.
class FakeHost final : public HostIdentity {
 public:
  std::string name;
  std::map<std::string, std::vector<std::string>> addresses;
  std::vector<std::string> interfaces;

  std::string ComputerName() const override { return name; }
  std::vector<std::string> ResolveIPv4(const std::string& host) const override {
    const auto found = addresses.find(host);
    return found == addresses.end() ? std::vector<std::string>{} : found->second;
  }
  std::vector<std::string> InterfaceIPv4() const override { return interfaces; }
};

class SiteSettingsTest : public ::testing::Test {
 protected:
  SiteSettingsTest() {
    static int counter = 0;
    folder_ = std::filesystem::temp_directory_path() /
              ("zendrel-site-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(folder_);
    host_.name = "CAIXA01";
    host_.addresses["CAIXA01"] = {"127.0.1.1", "192.168.0.10", "10.0.0.5"};
    host_.interfaces = {"127.0.0.1", "192.168.0.10", "172.16.4.2"};
  }
  ~SiteSettingsTest() override { std::filesystem::remove_all(folder_); }

  void WriteIni(const std::string& name, const std::string& body) { std::ofstream(folder_ / name) << body; }

  std::filesystem::path folder_;
  FakeHost host_;
};

TEST_F(SiteSettingsTest, ServerCheck) {
  struct Case {
    const char* servidor_line;  // nullptr: no file at all
    bool expected;
  };
  const Case cases[] = {
      {nullptr, true},               // no file: "localhost"
      {"Servidor=LOCALHOST", true},  // lower-cased before comparing
      {"Servidor=Localhost", true},
      {"Servidor=127.0.0.1", true},
      {"Servidor=192.168.0.10", true},  // the first address outside loopback
      {"Servidor=10.0.0.5", false},     // a second resolved address does not count
      {"Servidor=172.16.4.2", true},    // an interface's address
      {"Servidor=172.16.4.20", false},
      {"Servidor=caixa01", true},  // the name in another case
      {"Servidor=outro", false},
      {"Servidor=", false},  // empty value: no default, matches nothing here
      {"Caminho=x", true},   // key missing: default
  };
  for (const Case& c : cases) {
    std::filesystem::remove(folder_ / "tarvix.ini");
    if (c.servidor_line != nullptr) WriteIni("tarvix.ini", std::string("[Tarvix]\n") + c.servidor_line + "\n");
    EXPECT_EQ(Computador_e_Servidor(folder_, host_), c.expected) << (c.servidor_line ? c.servidor_line : "(no file)");
  }
}

TEST_F(SiteSettingsTest, ServerCheckWithFullDomainNameAndUnknownHost) {
  WriteIni("Tarvix.ini", "[Tarvix]\nServidor=Caixa01\n");
  host_.name = "caixa01.loja.example";
  host_.addresses.clear();
  EXPECT_TRUE(Computador_e_Servidor(folder_, host_));

  // Nothing obtainable about this machine: an empty value then equals the empty
  // address and counts as this machine.
  host_.name = "";
  WriteIni("Tarvix.ini", "[Tarvix]\nServidor=\n");
  EXPECT_TRUE(Computador_e_Servidor(folder_, host_));
}

// The usual Linux host: its name resolves only to loopback, so only its interfaces
// know its network address.
TEST_F(SiteSettingsTest, ServerCheckByInterfaceAddressWhenTheNameResolvesToLoopback) {
  host_.name = "vm";
  host_.addresses = {{"vm", {"127.0.0.1"}}};
  host_.interfaces = {"127.0.0.1", "192.0.2.2"};
  WriteIni("Tarvix.ini", "[Tarvix]\nServidor=192.0.2.2\n");
  ServerCheck check = CheckDatabaseServer(folder_, host_);
  EXPECT_EQ(check.match, ServerMatch::kInterfaceAddress);
  EXPECT_EQ(check.address, "");

  WriteIni("Tarvix.ini", "[Tarvix]\nServidor=192.0.2.3\n");
  check = CheckDatabaseServer(folder_, host_);
  EXPECT_FALSE(check.is_server());
  EXPECT_EQ(check.ThisMachine(), "nome \"vm\", endereço \"\", interfaces 127.0.0.1, 192.0.2.2");

  // An empty Servidor is no interface's address.
  host_.interfaces.push_back("");
  WriteIni("Tarvix.ini", "[Tarvix]\nServidor=\n");
  EXPECT_NE(CheckDatabaseServer(folder_, host_).match, ServerMatch::kInterfaceAddress);
}

// The real interfaces of this machine: each of their addresses makes it the server,
// an address next to them does not.
TEST_F(SiteSettingsTest, RealInterfacesCountAsThisMachine) {
  const std::vector<std::string> interfaces = SystemHostIdentity().InterfaceIPv4();
  ASSERT_FALSE(interfaces.empty()) << "the host listed no IPv4 interface address";
  for (const std::string& address : interfaces) {
    SCOPED_TRACE(address);
    int parts[4] = {};
    char end = 0;
    ASSERT_EQ(std::sscanf(address.c_str(), "%d.%d.%d.%d%c", &parts[0], &parts[1], &parts[2], &parts[3], &end), 4);
    WriteIni("Tarvix.ini", "[Tarvix]\nServidor=" + address + "\n");
    EXPECT_TRUE(Computador_e_Servidor(folder_, SystemHostIdentity()));

    // The same network, another host: an address no interface holds.
    for (int last = 1; last < 255; ++last) {
      const std::string other = fmt::format("{}.{}.{}.{}", parts[0], parts[1], parts[2], last);
      if (std::find(interfaces.begin(), interfaces.end(), other) != interfaces.end()) continue;
      if (other == CapturarIP() || other == "127.0.0.1") continue;
      WriteIni("Tarvix.ini", "[Tarvix]\nServidor=" + other + "\n");
      EXPECT_FALSE(Computador_e_Servidor(folder_, SystemHostIdentity())) << other;
      break;
    }
  }
}

TEST_F(SiteSettingsTest, CapturarIP) {
  EXPECT_EQ(CapturarIP(host_), "192.168.0.10");
  host_.name = "localhost";
  EXPECT_EQ(CapturarIP(host_), "127.0.0.1");
  host_.name = "10.1.2.3";
  EXPECT_EQ(CapturarIP(host_), "10.1.2.3");
  host_.name = "10.1.2.300";  // not an address: looked up, found nothing
  EXPECT_EQ(CapturarIP(host_), "");
  host_.name = "solo";
  host_.addresses["solo"] = {"127.0.1.1"};
  EXPECT_EQ(CapturarIP(host_), "");
}

TEST_F(SiteSettingsTest, RealHostGivesANameAndNoLoopbackAddress) {
  EXPECT_FALSE(CapturarNomeComputador().empty());
  EXPECT_FALSE(CapturarIP().starts_with("127."));
}

TEST_F(SiteSettingsTest, ParameterLines) {
  Connection connection;
  connection.Params() = {"Stale=1"};
  CarregarParametrosConexao(connection, "SYSDBA", "trivel", folder_);
  const std::string caminho = (folder_ / "TARVIX.FDB").string();
  EXPECT_THAT(connection.Params(),
              ElementsAre("DriverID=FB", "Pooled=false", "Database=" + caminho, "User_Name=SYSDBA", "Password=trivel",
                          "Protocol=TCPIP", "Server=localhost", "Port=3050", "SQLDialect=3", "CharacterSet=ISO8859_1",
                          "ExtendedMetaData=False", "OpenMode=Open"));

  WriteIni("TARVIX.ini", "[TARVIX]\nServidor=LOCALHOST\nCaminho=  C:\\Dados Tarvix\\TARVIX.FDB \n");
  CarregarParametrosConexao(connection, "SYSDBA", "gravulent", folder_);
  EXPECT_EQ(connection.Params()[2], "Database=C:\\Dados Tarvix\\TARVIX.FDB");
  EXPECT_EQ(connection.Params()[4], "Password=gravulent");
  EXPECT_EQ(connection.Params()[6], "Server=LOCALHOST");
  EXPECT_EQ(connection.Param("server"), "LOCALHOST");
}

}  // namespace
}  // namespace zendrel
