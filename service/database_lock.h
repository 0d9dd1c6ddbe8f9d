// The poll cycle's lock of the database it works on: the database's identity as its
// server names it, the lock taken on it, and what a relay that finds it held says.
#pragma once

#include <memory>
#include <string>

#include "erp/connection.h"
#include "service/relay_lock.h"

namespace zendrel {

// The server's name for `name`'s file without a host part in front ("erp-srv:/dados/
// erp.fdb" gives "/dados/erp.fdb"); a Windows drive letter ("C:\dados") is no host.
std::string WithoutHostPart(const std::string& name);

// The full path of the connected database's file, as the server names it
// (MON$DATABASE_NAME), without a host part: the same for every relay of that database,
// however its settings spell the database.
std::string DatabaseFileOnServer(Connection& connection);

// The log line of a cycle that finds the database's lock held by the relay in
// `holder_folder` ("" when unknown).
std::string DatabaseHeldText(const std::string& database_file, const std::string& holder_folder);

}  // namespace zendrel
