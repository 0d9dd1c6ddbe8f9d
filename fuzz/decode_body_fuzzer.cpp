// Reply bodies decoded by the charset of their Content-Type. The input's first line
// is the Content-Type, the rest the body; the result must always be valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/text_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t line_end = input.find('\n');
  const std::string_view content_type = input.substr(0, line_end);
  const std::string_view body = line_end == std::string_view::npos ? std::string_view() : input.substr(line_end + 1);
  const std::string text = zendrel::DecodeBody(body, content_type);
  // Decoding promises valid UTF-8: sanitising it again must change nothing.
  if (zendrel::SanitizeUtf8(text) != text) std::abort();
  return 0;
}
