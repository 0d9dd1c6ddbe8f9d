// Status texts for the reply record's DescRetorno. The 400 rule works on the text of
// the reply JSON text, not on parsed JSON: operators and the platform's support know
// the messages in exactly the form this cut produces (commas and indentation between
// messages, escapes left in place), so it is kept character for character.
#include "api/status_translation.h"

#include <string_view>

#include "support/text.h"

namespace zendrel {
namespace {

std::string MessagesOf400(const std::string& schema) {
  // One left-to-right pass: "\r\r\n" keeps its first CR.
  std::string joined;
  joined.reserve(schema.size());
  for (std::size_t i = 0; i < schema.size(); ++i) {
    if (schema[i] == '\r' && i + 1 < schema.size() && schema[i + 1] == '\n') {
      ++i;
      continue;
    }
    joined += schema[i];
  }

  const std::size_t open = joined.find('[');
  const std::size_t close = joined.find(']');
  if (open == std::string::npos || close == std::string::npos) return {};
  // The character right after "[" goes with it; nothing when "]" comes too soon.
  if (close <= open + 2) return {};
  std::string_view taken(joined.data() + open + 2, close - open - 2);

  taken = TrimControlsAndSpaces(taken);

  std::string result;
  result.reserve(taken.size());
  for (char c : taken) {
    if (c != '"') result += c;
  }
  return result;
}

}  // namespace

std::string TraduzErro(std::int32_t CodigoErro, const std::string& SchemaErro400) {
  switch (CodigoErro) {
    case 203: return "Não autorizado!!!";
    case 204: return "Não existe conteúdo!!!";
    case 301: return "Movido!!!";
    case 400: return MessagesOf400(SchemaErro400);
    case 401: return "Acesso não autorizado!!!";
    case 402: return "Pagamento necessário!!!";
    case 403: return "Proibido!!!";
    case 404: return "Não encontrado, verifique a URL!!!";
    case 405: return "Método não permitido!!!";
    case 406: return "Não aceitável!!!";
    case 408: return "Tempo esgotado [Timeout]!!!";
    case 500: return "Erro interno do servidor!!!";
    case 501: return "Recurso não implementado!!!";
    default: return {};
  }
}

}  // namespace zendrel
