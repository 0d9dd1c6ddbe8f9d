// Trimming by named character sets, and percent-escaping.
#include "support/text.h"

namespace zendrel {
namespace {

bool IsControlOrSpace(char c) { return static_cast<unsigned char>(c) <= 32; }
bool IsSpaceOrTab(char c) { return c == ' ' || c == '\t'; }
bool IsSpaceTabOrCr(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool IsSpaceTabOrLineEnd(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimEnds(std::string_view text, bool (*front)(char), bool (*back)(char)) {
  while (!text.empty() && front(text.front())) text.remove_prefix(1);
  while (!text.empty() && back(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string_view TrimControlsAndSpaces(std::string_view text) {
  return TrimEnds(text, IsControlOrSpace, IsControlOrSpace);
}

std::string_view TrimSpacesAndTabs(std::string_view text) { return TrimEnds(text, IsSpaceOrTab, IsSpaceOrTab); }

std::string_view TrimSpacesTabsAndCr(std::string_view text) { return TrimEnds(text, IsSpaceTabOrCr, IsSpaceTabOrCr); }

std::string_view TrimSpacesTabsAndLineEnds(std::string_view text) {
  return TrimEnds(text, IsSpaceTabOrLineEnd, IsSpaceTabOrLineEnd);
}

std::string_view TrimSpacesTabsAndTrailingLineEnds(std::string_view text) {
  return TrimEnds(text, IsSpaceOrTab, IsSpaceTabOrLineEnd);
}

std::string PercentEncode(std::string_view text, bool (*keep)(char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (const char c : text) {
    if (keep(c)) {
      encoded += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

}  // namespace zendrel
