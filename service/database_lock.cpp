// The poll cycle's database lock (see database_lock.h).
#include "service/database_lock.h"

#include "erp/query.h"
#include "erp/transaction.h"

namespace zendrel {

std::string WithoutHostPart(const std::string& name) {
  const std::size_t colon = name.find(':');
  if (colon == std::string::npos || colon < 2) return name;
  const std::string host = name.substr(0, colon);
  if (host.find_first_of("/\\") != std::string::npos) return name;
  return name.substr(colon + 1);
}

std::string DatabaseFileOnServer(Connection& connection) {
  Transaction transaction(connection, TransactionMode::ReadOnlyReadCommitted, true);
  Query query(connection, transaction);
  query.SetSQL("SELECT MON$DATABASE_NAME FROM MON$DATABASE");
  query.Open();
  const std::string name = query.Row().front().AsString();
  query.Close();
  return WithoutHostPart(name);
}

std::string DatabaseHeldText(const std::string& database_file, const std::string& holder_folder) {
  return "O banco de dados " + database_file + " já está sendo atendido por outra execução do Zendrel" +
         (holder_folder.empty() ? std::string(" (pasta desconhecida)") : " na pasta " + holder_folder) +
         "; este ciclo não fez nada";
}

}  // namespace zendrel
