// Text at the edge of the Win32 API (Windows builds only): the program keeps UTF-8,
// the W functions take UTF-16, and a system error code has a text of its own.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace zendrel {

// UTF-8 to UTF-16 for the W functions; malformed bytes become U+FFFD.
std::wstring Widen(std::string_view utf8);

// UTF-16 from the W functions to UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view utf16);

// The system's text for `code` (FormatMessageW), without the final line end; a
// generic text when the system has none.
std::string SystemErrorText(DWORD code);

}  // namespace zendrel
