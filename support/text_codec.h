// Conversions between the program's UTF-8 texts and the encodings met at its edges:
// the database connection (ISO 8859-1), the form body (Windows-1252), log files with
// UTF-16 byte-order marks, and reply bodies in the charset their Content-Type names.
// Malformed input never throws or crashes: invalid UTF-8 sequences decode as U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace zendrel {

std::string Latin1ToUtf8(std::string_view latin1);
// Characters outside Latin-1 become '?'.
std::string Utf8ToLatin1(std::string_view utf8);

std::string Windows1252ToUtf8(std::string_view cp1252);
// Characters that Windows-1252 lacks become '?'.
std::string Utf8ToWindows1252(std::string_view utf8);

// UTF-16 code units (no byte-order mark) in the given byte order.
std::string Utf16ToUtf8(std::string_view bytes, bool big_endian);
std::string Utf8ToUtf16(std::string_view utf8, bool big_endian);

// Valid UTF-8 with every malformed sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);

// The number of Unicode characters in a UTF-8 text (malformed bytes count one each).
std::size_t Utf8Length(std::string_view utf8);

// The first `max_chars` characters of a UTF-8 text, never cutting a character.
std::string Utf8Prefix(std::string_view utf8, std::size_t max_chars);

// Decodes a reply body by the charset parameter of `content_type` (UTF-8,
// ISO-8859-1/Latin-1, Windows-1252, US-ASCII; any other or none: UTF-8).
std::string DecodeBody(std::string_view body, std::string_view content_type);

// Letters a-z to A-Z and nothing else: no locale, accented letters unchanged.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);

}  // namespace zendrel
