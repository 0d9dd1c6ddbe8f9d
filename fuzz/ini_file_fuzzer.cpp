// Tarvix.ini as an operator might leave it: any bytes parse, in any of the encodings
// a byte-order mark can name, and the two keys the service reads can be looked up.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "erp/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const zendrel::IniFile ini = zendrel::IniFile::Parse(bytes);
  (void)ini.ReadString("Tarvix", "Servidor", "");
  (void)ini.ReadString("Tarvix", "Caminho", "fallback");
  (void)ini.ReadString("", "", "");
  return 0;
}
