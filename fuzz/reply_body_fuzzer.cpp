// A reply body as the platform might send it, through every reading the API client
// makes of it: the reply JSON text, the status translation of a refusal and both
// list records. Anything may arrive on the wire; the only failure these readings may
// report is a ConversionError of the record mapping.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "api/json_records.h"
#include "api/reply_json_text.h"
#include "api/status_translation.h"
#include "support/errors.h"

namespace {

template <typename Record>
void ReadRecord(const std::string& text) {
  try {
    (void)Record::FromJsonString(text);
  } catch (const zendrel::ConversionError&) {
    // A reply that does not fit its record: reported to the caller, not a fault.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const std::string text = zendrel::ReplyJsonText(body);
  (void)zendrel::TraduzErro(400, text);
  (void)zendrel::TraduzErro(500, text);
  const std::string wrapped = zendrel::WrapItems(text);
  ReadRecord<zendrel::TRootClass>(wrapped);
  ReadRecord<zendrel::TRetornoResetClass>(wrapped);
  // The record reader also meets texts that did not come through the reply JSON text.
  ReadRecord<zendrel::TRootClass>(std::string(body));
  ReadRecord<zendrel::TRetornoResetClass>(std::string(body));
  return 0;
}
