// Conversions between the program's UTF-8, the UTF-16 of the Win32 API and the
// single- or multi-byte code pages.
#include "support/windows_text.h"

#include <stdexcept>

#include <fmt/format.h>

namespace zendrel {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int size = static_cast<int>(utf16.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

namespace {

// WideCharToMultiByte refuses any flag for these code pages (ERROR_INVALID_FLAGS).
bool RefusesConversionFlags(UINT code_page) {
  switch (code_page) {
    case CP_UTF7:
    case CP_UTF8:
    case 42:  // symbol
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229: return true;
    default: return code_page >= 57002 && code_page <= 57011;  // ISCII
  }
}

std::runtime_error ConversionError(const char* direction, UINT code_page, DWORD error) {
  return std::runtime_error(
      fmt::format("Cannot convert the text {} code page {}: {}", direction, code_page, SystemErrorText(error)));
}

}  // namespace

std::string ToCodePage(std::string_view utf8, UINT code_page) {
  const std::wstring wide = Widen(utf8);
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  DWORD flags = RefusesConversionFlags(code_page) ? 0 : WC_NO_BEST_FIT_CHARS;
  int length = WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length == 0 && flags != 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    // A code page this list does not know to refuse flags.
    flags = 0;
    length = WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
  }
  if (length <= 0) throw ConversionError("to", code_page, GetLastError());
  std::string bytes(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(code_page, flags, wide.data(), size, bytes.data(), length, nullptr, nullptr) != length) {
    throw ConversionError("to", code_page, GetLastError());
  }
  return bytes;
}

std::string FromCodePage(std::string_view bytes, UINT code_page) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
  if (length <= 0) throw ConversionError("from", code_page, GetLastError());
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(code_page, 0, bytes.data(), size, wide.data(), length) != length) {
    throw ConversionError("from", code_page, GetLastError());
  }
  return Narrow(wide);
}

std::string SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return fmt::format("System error {}", code);
  std::wstring text(buffer, length);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  return Narrow(text);
}

}  // namespace zendrel
