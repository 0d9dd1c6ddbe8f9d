// Request addresses: base address handling, canonical form, redirect targets.
#include "api/request_address.h"

#include <optional>
#include <string_view>

#include "support/text.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUnreserved(char c) { return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

bool IsAllowedInUri(char c) {
  constexpr std::string_view kGenDelims = ":/?#[]@";
  constexpr std::string_view kSubDelims = "!$&'()*+,;=";
  // '%' starts an escape that is already made.
  return IsUnreserved(c) || kGenDelims.find(c) != std::string_view::npos ||
         kSubDelims.find(c) != std::string_view::npos || c == '%';
}

// The length of the scheme at the start of `text` ("http" of "http://x"), or 0.
size_t SchemeLength(std::string_view text) {
  if (text.empty() || !IsAlpha(text[0])) return 0;
  size_t i = 1;
  while (i < text.size() &&
         (IsAlpha(text[i]) || IsDigit(text[i]) || text[i] == '+' || text[i] == '-' || text[i] == '.')) {
    ++i;
  }
  return (i < text.size() && text[i] == ':') ? i : 0;
}

// The five components of a URI reference (RFC 3986 appendix B).
struct UriParts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
};

UriParts Split(std::string_view text) {
  UriParts parts;
  if (const size_t hash = text.find('#'); hash != std::string_view::npos) text = text.substr(0, hash);
  if (const size_t scheme = SchemeLength(text); scheme > 0) {
    parts.scheme = std::string(text.substr(0, scheme));
    text.remove_prefix(scheme + 1);
  }
  if (text.starts_with("//")) {
    text.remove_prefix(2);
    const size_t end = text.find_first_of("/?");
    parts.authority = std::string(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end);
  }
  const size_t question = text.find('?');
  parts.path = std::string(text.substr(0, question));
  if (question != std::string_view::npos) parts.query = std::string(text.substr(question + 1));
  return parts;
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string_view input) {
  std::string output;
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.remove_prefix(3);
    } else if (input.starts_with("./")) {
      input.remove_prefix(2);
    } else if (input.starts_with("/./")) {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../") || input == "/..") {
      input = input.size() == 3 ? std::string_view("/") : input.substr(3);
      const size_t last = output.rfind('/');
      output.erase(last == std::string::npos ? 0 : last);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const size_t next = input.find('/', input.starts_with('/') ? 1 : 0);
      output.append(input.substr(0, next));
      input = next == std::string_view::npos ? std::string_view() : input.substr(next);
    }
  }
  return output;
}

std::string Merge(const UriParts& base, const std::string& reference_path) {
  if (base.authority.has_value() && base.path.empty()) return "/" + reference_path;
  const size_t last = base.path.rfind('/');
  return last == std::string::npos ? reference_path : base.path.substr(0, last + 1) + reference_path;
}

std::string Compose(const UriParts& parts) {
  std::string text;
  if (parts.scheme) text += *parts.scheme + ":";
  if (parts.authority) text += "//" + *parts.authority;
  text += parts.path;
  if (parts.query) text += "?" + *parts.query;
  return text;
}

}  // namespace

bool HasSchemeAndAuthority(std::string_view text) {
  const size_t scheme = SchemeLength(text);
  return scheme > 0 && text.substr(scheme).starts_with("://");
}

std::string CanonicalUri(std::string_view uri) { return PercentEncode(uri, IsAllowedInUri); }

std::string PercentEncodeName(std::string_view name) { return PercentEncode(name, IsUnreserved); }

std::string RequestAddress(std::string_view URL, std::string_view resource) {
  // A blank or line end left at either end of the settings column would otherwise
  // travel inside every request address.
  std::string base(TrimControlsAndSpaces(URL));
  if (base.empty() || base.back() != '/') base += '/';

  if (!HasSchemeAndAuthority(base)) base = "http://" + base;
  base.pop_back();  // the one final "/" added or found above

  while (resource.starts_with('/')) resource.remove_prefix(1);

  std::string address = base;
  const bool joined = address.ends_with('/') || resource.starts_with('?') || resource.starts_with('#');
  if (!joined) address += '/';
  address += resource;
  return CanonicalUri(address);
}

std::string ResolveReference(std::string_view base_text, std::string_view reference_text) {
  const UriParts base = Split(base_text);
  const UriParts reference = Split(TrimControlsAndSpaces(reference_text));
  UriParts target;
  if (reference.scheme) {
    target = reference;
    target.path = RemoveDotSegments(reference.path);
  } else {
    if (reference.authority) {
      target.authority = reference.authority;
      target.path = RemoveDotSegments(reference.path);
      target.query = reference.query;
    } else {
      if (reference.path.empty()) {
        target.path = base.path;
        target.query = reference.query ? reference.query : base.query;
      } else {
        target.path = RemoveDotSegments(reference.path.starts_with('/') ? reference.path : Merge(base, reference.path));
        target.query = reference.query;
      }
      target.authority = base.authority;
    }
    target.scheme = base.scheme;
  }
  return CanonicalUri(Compose(target));
}

std::string UriHost(std::string_view uri) {
  const UriParts parts = Split(uri);
  if (!parts.authority) return std::string();
  std::string_view host = *parts.authority;
  if (const size_t at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
  if (host.starts_with('[')) {
    const size_t close = host.find(']');
    host = host.substr(0, close == std::string_view::npos ? host.size() : close + 1);
  } else if (const size_t colon = host.find(':'); colon != std::string_view::npos) {
    host = host.substr(0, colon);
  }
  return AsciiLower(host);
}

}  // namespace zendrel
