// Failure causes from the Firebird client's status vector codes, libcurl's and
// WinHTTP's failure kinds (http_transport.h) and the platform's HTTP statuses.
#include "service/failure_causes.h"

#include <fmt/format.h>

namespace zendrel {
namespace {

// Firebird's error codes (iberror.h), the ones an attachment can fail with.
constexpr long kNetworkError = 335544721;      // isc_network_error
constexpr long kNetConnectErr = 335544722;     // isc_net_connect_err: nothing listens
constexpr long kNetLookupErr = 335544704;      // isc_net_lookup_err: host name unknown
constexpr long kHostUnknown = 335544706;       // isc_host_unknown
constexpr long kServiceUnknown = 335544705;    // isc_service_unknown: port name unknown
constexpr long kLogin = 335544472;             // isc_login: user name and password refused
constexpr long kIoError = 335544344;           // isc_io_error: the file could not be used
constexpr long kIoOpenErr = 335544734;         // isc_io_open_err: ... not opened
constexpr long kIoAccessErr = 335544739;       // isc_io_access_err
constexpr long kTransliteration = 335544565;   // isc_transliteration_failed
constexpr long kMalformedString = 335544849;   // isc_malformed_string
constexpr long kBadDbFormat = 335544323;       // isc_bad_db_format: not a database
constexpr long kWrongOds = 335544379;          // isc_wrong_ods: another server version's file
constexpr long kUnavailable = 335544375;       // isc_unavailable
constexpr long kShutdown = 335544528;          // isc_shutdown: the database is shut down
constexpr long kConfAccessDenied = 335544831;  // isc_conf_access_denied: DatabaseAccess

}  // namespace

bool IsPasswordRefused(const DatabaseError& error) { return error.HasCode(kLogin); }

std::string DatabaseFailureCause(const DatabaseError& error) {
  if (error.code() == DatabaseError::kClientLibraryMissing) {
    return "a biblioteca cliente do Firebird não foi encontrada neste computador: instale o cliente do Firebird "
           "(fbclient) na mesma arquitetura do Zendrel";
  }
  if (error.HasCode(kLogin)) {
    return "o servidor não aceitou esta senha do SYSDBA (a senha do SYSDBA deste servidor precisa ser uma das duas que "
           "o serviço usa)";
  }
  if (error.HasCode(kNetLookupErr) || error.HasCode(kHostUnknown)) {
    return "o nome do servidor do banco não foi encontrado: confira \"Servidor\" no Tarvix.ini e o DNS deste "
           "computador";
  }
  if (error.HasCode(kServiceUnknown)) {
    return "a porta do Firebird não é conhecida neste computador: confira a porta em \"Servidor\" no Tarvix.ini";
  }
  if (error.HasCode(kNetConnectErr) || error.HasCode(kNetworkError) || error.HasCode(kUnavailable)) {
    return "o servidor Firebird não responde nesse endereço e porta: o serviço do Firebird está em execução? "
           "Confira também \"Servidor\" no Tarvix.ini e o firewall (porta 3050)";
  }
  if (error.HasCode(kTransliteration) || error.HasCode(kMalformedString)) {
    return "os caracteres do caminho do banco não podem ser passados ao servidor: use em \"Caminho\" do Tarvix.ini "
           "um caminho sem letras fora do alfabeto latino";
  }
  if (error.HasCode(kConfAccessDenied)) {
    return "o servidor Firebird não permite abrir bancos nesse caminho: confira \"Caminho\" no Tarvix.ini e a opção "
           "DatabaseAccess do firebird.conf";
  }
  if (error.HasCode(kIoError) && (error.HasCode(kIoOpenErr) || error.HasCode(kIoAccessErr))) {
    return "o arquivo do banco não existe nesse caminho no servidor (ou o serviço do Firebird não pode abri-lo): "
           "confira \"Caminho\" no Tarvix.ini";
  }
  if (error.HasCode(kIoError)) {
    return "o arquivo do banco não pôde ser usado pelo servidor (erro de disco ou permissão): confira \"Caminho\" "
           "no Tarvix.ini e as permissões do arquivo";
  }
  if (error.HasCode(kBadDbFormat) || error.HasCode(kWrongOds)) {
    return "o arquivo nesse caminho não é um banco que este servidor Firebird abra: confira \"Caminho\" no "
           "Tarvix.ini e a versão do Firebird";
  }
  if (error.HasCode(kShutdown)) return "o banco está desligado (shutdown) no servidor: reative-o com o gfix";
  if (error.connection_lost()) return "a conexão com o servidor Firebird caiu durante a abertura: tente de novo";
  return fmt::format("o servidor Firebird recusou a conexão (código {})", error.code());
}

std::string TransportFailureCause(HttpFailureKind kind) {
  switch (kind) {
    case HttpFailureKind::kConnectionRefused:
      return "a conexão foi recusada (nada responde nesse endereço e porta): confira o endereço base da campanha "
             "e se a plataforma está no ar";
    case HttpFailureKind::kHostNotFound:
      return "o nome do servidor da plataforma não foi encontrado: confira o endereço base da campanha e o DNS deste "
             "computador";
    case HttpFailureKind::kTimeout:
      return "a plataforma não respondeu a tempo: confira a rede deste computador (firewall, proxy) e tente de novo";
    case HttpFailureKind::kTls:
      return "o canal seguro (TLS) com a plataforma falhou: confira a data deste computador e o endereço base "
             "(https)";
    case HttpFailureKind::kNone:
    case HttpFailureKind::kOther: break;
  }
  return "a comunicação com a plataforma falhou";
}

std::string HttpStatusMeaning(int status) {
  switch (status) {
    case 200: return "200 aceito";
    case 202: return "202 aceito";
    case 400: return "400 pedido recusado: a plataforma não aceitou os dados enviados";
    case 401: return "401 não autorizado: o token do programa foi recusado pela plataforma";
    case 403: return "403 proibido: o token do programa não tem acesso a esta campanha (ou ao CNPJ desta loja)";
    case 404: return "404 não encontrado: o endereço base da campanha está errado";
    case 405: return "405 método não permitido: o endereço base da campanha aponta para outro serviço";
    case 408: return "408 tempo esgotado na plataforma: tente de novo";
    case 429: return "429 pedidos demais: a plataforma pede que se espere";
    default: break;
  }
  if (status >= 500 && status <= 599) {
    return fmt::format("{} erro da própria plataforma: tente mais tarde ou avise a Brindex", status);
  }
  if (status >= 300 && status <= 399) {
    return fmt::format("{} redirecionamento que não leva a uma resposta: confira o endereço base da campanha", status);
  }
  return fmt::format("{} resposta inesperada da plataforma", status);
}

std::string CertificateProblemText(CertificateProblem problem) {
  switch (problem) {
    case CertificateProblem::kNameMismatch: return "o nome no certificado não confere com o endereço da plataforma";
    case CertificateProblem::kUnknownAuthority:
      return "o certificado foi emitido por uma autoridade desconhecida deste computador";
    case CertificateProblem::kExpired: return "o certificado está fora da validade";
    case CertificateProblem::kOther: return "o certificado não passou na verificação";
    case CertificateProblem::kNone: break;
  }
  return {};
}

}  // namespace zendrel
