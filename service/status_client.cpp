// The Firebird client in the status report. A store's support person sees which
// fbclient.dll the relay took (a store may have several Firebird versions
// installed), or where it looked for one when the connection cannot even start.
#include "service/status_client.h"

#include "erp/client_load.h"

namespace zendrel {

std::vector<std::string> ReportFirebirdClient(StatusPrinter& print) {
  print.Title("Cliente Firebird", "cliente_firebird");
  const ClientLoad load = LoadFirebirdClientReport(DefaultFirebirdClientName());
  if (load.api) {
    print.Line("Arquivo", load.path);
    print.Line("Versão", load.version.empty() ? "(a biblioteca não diz)" : load.version);
    return {};
  }
  print.Line("Arquivo", "nenhum carregado");
  std::vector<std::string> places;
  for (const ClientPlaceTried& tried : load.tried) places.push_back(tried.place + ": " + tried.failure);
  print.ListLine("Locais procurados", places);
  const std::string advice = ClientBitnessAdvice(load);
  if (!advice.empty()) {
    print.Line("Atenção", advice);
    return {advice};
  }
  return {"a biblioteca cliente do Firebird não foi encontrada"};
}

}  // namespace zendrel
