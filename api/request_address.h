// Request addresses: how a campaign's base address and a call's resource path make
// the address a request goes to, its canonical form, and where a redirect's
// Location leads. Pure text functions, the same on every host.
#pragma once

#include <string>
#include <string_view>

namespace zendrel {

// The address of a call's request for the base address `URL` as the settings row
// holds it and the call's resource path. Characters up to code 32 are cleared from
// both ends of `URL` first; then it gets one final "/" when it has none, "http://"
// in front when no "scheme://" begins it, loses that one final "/" again, and is
// joined to the resource (whose leading "/"s are dropped) with exactly one "/"
// unless it already ends with one. The result is in canonical form. So a base
// address with zero, one or two final "/" gives one "/" before the resource.
std::string RequestAddress(std::string_view URL, std::string_view resource);

// `uri` with every byte that a URI does not allow (blanks, controls, quotes,
// angle brackets, non-ASCII bytes of UTF-8 text, ...) percent-encoded. Existing
// "%" escapes and every reserved character stay as they are.
std::string CanonicalUri(std::string_view uri);

// Whether `text` begins with a URI scheme followed by "://".
bool HasSchemeAndAuthority(std::string_view text);

// The target of `reference` (a Location value) resolved against the absolute
// address `base` by RFC 3986 section 5.2, fragment dropped, in canonical form.
std::string ResolveReference(std::string_view base, std::string_view reference);

// The host of an absolute address, lower-cased, without port or user info.
std::string UriHost(std::string_view uri);

// The name percent-encoded for a query string: everything but unreserved
// characters (letters, digits, "-", ".", "_", "~") is escaped.
std::string PercentEncodeName(std::string_view name);

}  // namespace zendrel
