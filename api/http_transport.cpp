// Host-independent helpers of the HTTP transport seam: header look-up.
#include "api/http_transport.h"

#include "support/text_codec.h"

namespace zendrel {
namespace {

bool SameName(std::string_view a, std::string_view b) { return a.size() == b.size() && AsciiLower(a) == AsciiLower(b); }

}  // namespace

std::optional<std::string> FindHeader(const HeaderList& headers, std::string_view name) {
  for (const auto& [header_name, value] : headers) {
    if (SameName(header_name, name)) return value;
  }
  return std::nullopt;
}

std::vector<std::string> FindHeaders(const HeaderList& headers, std::string_view name) {
  std::vector<std::string> values;
  for (const auto& [header_name, value] : headers) {
    if (SameName(header_name, name)) values.push_back(value);
  }
  return values;
}

std::string HttpReply::ContentType() const { return FindHeader(headers, "Content-Type").value_or(std::string()); }

}  // namespace zendrel
