// What a failure means and what to do about it, in Portuguese, for the status report
// and the record of the last cycle. Read from the client's own error codes, never
// from its English text: a support person must tell a stopped Firebird service from
// a wrong password or a wrong path, and a closed port from an unknown host name or a
// platform that refuses our token.
#pragma once

#include <string>

#include "api/http_transport.h"
#include "erp/database_error.h"

namespace zendrel {

// The cause and its fix of a failed attempt to open the database ("o servidor
// Firebird não responde nesse endereço e porta: ...").
std::string DatabaseFailureCause(const DatabaseError& error);

// Whether the server refused the user name and password (and nothing else).
bool IsPasswordRefused(const DatabaseError& error);

// The cause and its fix of an exchange with the platform that got no reply.
std::string TransportFailureCause(HttpFailureKind kind);

// What an HTTP status from the platform means, and what to check ("401 não
// autorizado: o token do programa foi recusado ...").
std::string HttpStatusMeaning(int status);

// "o nome do certificado não confere com o endereço", "...autoridade desconhecida...",
// "...fora da validade...".
std::string CertificateProblemText(CertificateProblem problem);

}  // namespace zendrel
