// The Portuguese text that explains a reply status; for 400 the platform's own
// validation messages, cut out of the reply JSON text.
#pragma once

#include <cstdint>
#include <string>

namespace zendrel {

// Fixed texts for 203, 204, 301, 401-406, 408, 500, 501; for 400 the text between
// the first "[" and the first "]" of `SchemaErro400` (a reply JSON text), trimmed,
// without double quotes; the empty text for every other status. Never throws.
std::string TraduzErro(std::int32_t CodigoErro, const std::string& SchemaErro400);

}  // namespace zendrel
