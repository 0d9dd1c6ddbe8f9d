// The database part of the status report.
#include "service/status_database.h"

#include <algorithm>
#include <optional>

#include <fmt/format.h>

#include "erp/database_error.h"
#include "erp/site_settings.h"
#include "service/database_credentials.h"
#include "service/failure_causes.h"

namespace zendrel {
namespace {

// The same account (kUsuarioBanco) and passwords as the poll cycle, tried in its order.
struct Password {
  const char* text;
  const char* name;
};
constexpr Password kPasswords[] = {{kSenhaPrincipal, "senha principal"}, {kSenhaReserva, "senha reserva"}};

}  // namespace

std::vector<std::string> ReportDatabase(StatusPrinter& print, const std::filesystem::path& folder,
                                        Connection& connection, SettingsRow& row) {
  print.Title("Banco de dados", "banco_de_dados");
  std::optional<std::string> accepted;
  std::vector<std::string> causes;  // of the failed attempts, each once
  for (const Password& password : kPasswords) {
    CarregarParametrosConexao(connection, kUsuarioBanco, password.text, folder);
    const std::string label = fmt::format("{}, {}", kUsuarioBanco, password.name);
    try {
      connection.Connect();
      print.Line(label, "aceita");
      accepted = password.name;
      break;
    } catch (const std::exception& e) {
      connection.Disconnect();
      // The cause and its fix first, the client's own words on the next line.
      const auto* database_error = dynamic_cast<const DatabaseError*>(&e);
      const std::string cause = database_error ? DatabaseFailureCause(*database_error) : "falha ao conectar";
      const bool refused = database_error != nullptr && IsPasswordRefused(*database_error);
      print.Line(label, fmt::format("{}: {}\nFirebird: {}", refused ? "recusada" : "não conectou", cause, e.what()));
      if (std::find(causes.begin(), causes.end(), cause) == causes.end()) causes.push_back(cause);
    }
  }

  if (!accepted) {
    print.Line("Conexão", "falhou com as duas senhas");
    std::string joined;
    for (const std::string& cause : causes) joined += (joined.empty() ? "" : "; ") + cause;
    return {"o banco de dados não foi alcançado: " + joined};
  }
  print.Line("Conexão", "aberta com a " + *accepted + " (somente leitura)");
  try {
    row.Open();
    if (!row.HasRow()) print.Line("PADRAO", "sem nenhuma linha: as campanhas ficam desligadas");
  } catch (const std::exception& e) {
    print.Line("PADRAO", std::string("erro ao ler: ") + e.what());
    return {"a linha de configurações (PADRAO) não pôde ser lida"};
  }
  return {};
}

}  // namespace zendrel
