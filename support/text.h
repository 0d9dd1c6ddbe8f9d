// Small text helpers that several layers share: trimming, each function named for
// the characters it removes (the callers need different sets, and each set is part
// of some behaviour that must not drift), and percent-escaping.
#pragma once

#include <string>
#include <string_view>

namespace zendrel {

// Every character with a code up to 32 (the ASCII controls and the space) removed
// from both ends. What a settings column or a reply field may carry around its
// value: blanks, tabs, line ends, NUL padding.
std::string_view TrimControlsAndSpaces(std::string_view text);

// ' ' and '\t' removed from both ends: the blanks HTTP allows around header
// parameters and cookie parts.
std::string_view TrimSpacesAndTabs(std::string_view text);

// ' ', '\t' and '\r' removed from both ends: what the Windows profile functions drop
// around an INI line, key or value (the '\r' a CRLF file leaves on each line).
std::string_view TrimSpacesTabsAndCr(std::string_view text);

// ' ', '\t', '\r' and '\n' removed from both ends: JSON's whitespace, and what isql
// drops around a statement.
std::string_view TrimSpacesTabsAndLineEnds(std::string_view text);

// ' ' and '\t' removed from the front; ' ', '\t', '\r' and '\n' from the back. A
// header line as curl hands it over still ends with its line end.
std::string_view TrimSpacesTabsAndTrailingLineEnds(std::string_view text);

// `text` with every byte for which `keep` is false written as "%XX", two upper-case
// hexadecimal digits.
std::string PercentEncode(std::string_view text, bool (*keep)(char));

}  // namespace zendrel
