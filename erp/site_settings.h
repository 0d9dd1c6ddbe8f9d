// The site's settings file Tarvix.ini (beside the executable), the check that this
// machine is the database server, and the connection parameters built from it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "erp/connection.h"
#include "erp/host_identity.h"

namespace zendrel {

// The value of `key` in section "Tarvix" of Tarvix.ini in `folder` (the file found
// without regard to case), or `fallback` when the file, section or key is missing.
std::string ReadTarvixSetting(const std::filesystem::path& folder, std::string_view key, std::string_view fallback);
// The same in the executable's folder.
std::string ReadTarvixSetting(std::string_view key, std::string_view fallback);

// The database path used when Tarvix.ini names none: `folder` with its trailing
// separator, then "TARVIX.FDB".
std::string DefaultCaminho(const std::filesystem::path& folder);

// This computer's name, or "" when it cannot be obtained.
std::string CapturarNomeComputador(const HostIdentity& host = SystemHostIdentity());

// This computer's IPv4 address in dotted form: "127.0.0.1" for the name localhost,
// the name itself when it is a dotted address, else the first address the name
// resolves to outside 127.0.0.0/8 (Debian maps the host name to 127.0.1.1). ""
// when there is none.
std::string CapturarIP(const HostIdentity& host = SystemHostIdentity());

// What made "Servidor" name this machine, in the order the check tries them.
enum class ServerMatch {
  kNone,              // not this machine
  kLocalhost,         // "localhost"
  kLoopback,          // "127.0.0.1"
  kAddress,           // the address CapturarIP gives
  kInterfaceAddress,  // the address of one of this machine's network interfaces
  kName,              // this machine's name, or the first label of a full domain name
};

// The server check with what it compared: "Servidor" as read, and this
// machine's name, address and interface addresses.
struct ServerCheck {
  ServerMatch match = ServerMatch::kNone;
  std::string servidor;
  std::string name;
  std::string address;
  std::vector<std::string> interface_addresses;

  bool is_server() const { return match != ServerMatch::kNone; }
  // `nome "N", endereço "A", interfaces A, B`: this machine, for a message saying why
  // it is not the server.
  std::string ThisMachine() const;
  // Why the check decided as it did, in the words that -status and the ONCE mode
  // show: "localhost", "endereço 127.0.0.1", "endereço deste computador, A",
  // "endereço de uma interface deste computador, S", "nome deste computador, N", or
  // "este computador: " and ThisMachine() when this is not the server.
  std::string Reason() const;
};

// Whether this machine is the database server that Tarvix.ini in `folder` names in
// "Servidor" (default "localhost"): compared, lower-cased, with "localhost",
// "127.0.0.1", this machine's address, every IPv4 address of its interfaces (a Linux
// host's name often resolves only to loopback), and its name (and the first label of
// a full domain name) without regard to case.
ServerCheck CheckDatabaseServer(const std::filesystem::path& folder, const HostIdentity& host);
bool Computador_e_Servidor(const std::filesystem::path& folder, const HostIdentity& host);
bool Computador_e_Servidor();

// Rebuilds the twelve parameter lines of `connection` for `Usuario` and `Senha` from
// Tarvix.ini in `folder` ("Servidor", "Caminho" as read). Does not connect.
void CarregarParametrosConexao(Connection& connection, std::string_view Usuario, std::string_view Senha,
                               const std::filesystem::path& folder);
// The same with the executable's folder.
void CarregarParametrosConexao(Connection& connection, std::string_view Usuario, std::string_view Senha);

}  // namespace zendrel
