// Tarvix.ini, the server-machine check and the connection parameters.
#include "erp/site_settings.h"

#include <algorithm>
#include <charconv>

#include "erp/ini_file.h"
#include "support/executable_folder.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

bool IsDottedIPv4(std::string_view text) {
  int parts = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = text.find('.', start);
    const std::string_view part = text.substr(start, dot == std::string_view::npos ? text.size() - start : dot - start);
    if (part.empty() || part.size() > 3) return false;
    int value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (error != std::errc() || end != part.data() + part.size() || value > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

}  // namespace

std::string ReadTarvixSetting(const std::filesystem::path& folder, std::string_view key, std::string_view fallback) {
  const auto file = FindFileIgnoringCase(folder, "Tarvix.ini");
  if (!file) return std::string(fallback);
  return IniFile::Load(*file).ReadString("Tarvix", key, fallback);
}

std::string ReadTarvixSetting(std::string_view key, std::string_view fallback) {
  return ReadTarvixSetting(ExecutableFolder(), key, fallback);
}

std::string DefaultCaminho(const std::filesystem::path& folder) { return (folder / "TARVIX.FDB").string(); }

std::string CapturarNomeComputador(const HostIdentity& host) {
  try {
    return host.ComputerName();
  } catch (...) {
    return {};
  }
}

std::string CapturarIP(const HostIdentity& host) {
  try {
    const std::string name = CapturarNomeComputador(host);
    if (name.empty()) return {};
    if (AsciiUpper(name) == "LOCALHOST") return "127.0.0.1";
    if (IsDottedIPv4(name)) return name;
    for (const std::string& address : host.ResolveIPv4(name)) {
      if (!address.starts_with("127.")) return address;
    }
    return {};
  } catch (...) {
    return {};
  }
}

std::string ServerCheck::ThisMachine() const {
  std::string text = "nome \"" + name + "\", endereço \"" + address + "\", interfaces ";
  if (interface_addresses.empty()) return text + "(nenhuma)";
  for (std::size_t i = 0; i < interface_addresses.size(); ++i) {
    text += (i == 0 ? "" : ", ") + interface_addresses[i];
  }
  return text;
}

std::string ServerCheck::Reason() const {
  switch (match) {
    case ServerMatch::kNone: return "este computador: " + ThisMachine();
    case ServerMatch::kLocalhost: return "localhost";
    case ServerMatch::kLoopback: return "endereço 127.0.0.1";
    case ServerMatch::kAddress: return "endereço deste computador, " + address;
    case ServerMatch::kInterfaceAddress: return "endereço de uma interface deste computador, " + servidor;
    case ServerMatch::kName: break;
  }
  return "nome deste computador, " + name;
}

ServerCheck CheckDatabaseServer(const std::filesystem::path& folder, const HostIdentity& host) {
  ServerCheck check;
  check.servidor = ReadTarvixSetting(folder, "Servidor", "localhost");
  check.name = CapturarNomeComputador(host);
  check.address = CapturarIP(host);
  try {
    check.interface_addresses = host.InterfaceIPv4();
  } catch (...) {
    check.interface_addresses.clear();
  }
  const std::string wanted = AsciiLower(check.servidor);
  const std::string name = AsciiLower(check.name);
  if (wanted == "localhost") {
    check.match = ServerMatch::kLocalhost;
  } else if (wanted == "127.0.0.1") {
    check.match = ServerMatch::kLoopback;
  } else if (wanted == check.address) {
    check.match = ServerMatch::kAddress;
  } else if (!wanted.empty() && std::find(check.interface_addresses.begin(), check.interface_addresses.end(), wanted) !=
                                    check.interface_addresses.end()) {
    check.match = ServerMatch::kInterfaceAddress;
  } else if (wanted == name || wanted == name.substr(0, name.find('.'))) {
    check.match = ServerMatch::kName;
  }
  return check;
}

bool Computador_e_Servidor(const std::filesystem::path& folder, const HostIdentity& host) {
  return CheckDatabaseServer(folder, host).is_server();
}

bool Computador_e_Servidor() { return Computador_e_Servidor(ExecutableFolder(), SystemHostIdentity()); }

void CarregarParametrosConexao(Connection& connection, std::string_view Usuario, std::string_view Senha,
                               const std::filesystem::path& folder) {
  const std::string server = ReadTarvixSetting(folder, "Servidor", "localhost");
  const std::string database_path = ReadTarvixSetting(folder, "Caminho", DefaultCaminho(folder));
  std::vector<std::string>& params = connection.Params();
  params.clear();
  params.push_back("DriverID=FB");
  params.push_back("Pooled=false");
  params.push_back("Database=" + database_path);
  params.push_back("User_Name=" + std::string(Usuario));
  params.push_back("Password=" + std::string(Senha));
  params.push_back("Protocol=TCPIP");
  params.push_back("Server=" + server);
  params.push_back("Port=3050");
  params.push_back("SQLDialect=3");
  params.push_back("CharacterSet=ISO8859_1");
  params.push_back("ExtendedMetaData=False");
  params.push_back("OpenMode=Open");
}

void CarregarParametrosConexao(Connection& connection, std::string_view Usuario, std::string_view Senha) {
  CarregarParametrosConexao(connection, Usuario, Senha, ExecutableFolder());
}

}  // namespace zendrel
