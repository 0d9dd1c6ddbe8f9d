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

// `utf8` in the code page `code_page`, a character it lacks as "?" and never a
// look-alike (no best-fit mapping) where the code page allows that choice; UTF-8,
// UTF-7 and the code pages that refuse conversion flags are converted without
// flags. Throws std::runtime_error, with the system's reason, when the conversion
// fails (an unknown code page).
std::string ToCodePage(std::string_view utf8, UINT code_page);

// The UTF-8 text of `bytes` in the code page `code_page`. Throws std::runtime_error
// when the conversion fails.
std::string FromCodePage(std::string_view bytes, UINT code_page);

// The system's text for `code` (FormatMessageW), without the final line end; a
// generic text when the system has none.
std::string SystemErrorText(DWORD code);

}  // namespace zendrel
