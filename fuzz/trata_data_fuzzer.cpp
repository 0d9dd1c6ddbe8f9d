// The platform's date texts as TrataData reads them: any text either gives a date or
// a ConversionError, under both the process's regional settings and a month-first one.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/date_parsing.h"
#include "support/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    (void)zendrel::TrataData(text);
  } catch (const zendrel::ConversionError&) {
  }
  zendrel::RegionalSettings other = zendrel::Regional();
  if (size > 0) other.date_separator = static_cast<char>(data[0]);
  try {
    (void)zendrel::TrataData(text, other);
  } catch (const zendrel::ConversionError&) {
  }
  return 0;
}
