// Conversions between the program's UTF-8 texts and the byte encodings at its edges.
// Every decoder here is total: malformed input turns into U+FFFD (or '?' when
// encoding into a single-byte code page), never into an exception or a crash.
#include "support/text_codec.h"

#include <array>
#include <cstdint>
#include <optional>

#include "support/text.h"

namespace zendrel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One step of UTF-8 decoding: the code point and how many bytes it took. A byte that
// does not begin a complete, shortest-form, non-surrogate sequence is malformed on its
// own (length 1), so every function here counts and replaces malformed bytes alike.
struct Decoded {
  char32_t code_point;
  std::size_t length;
  bool valid;
};

Decoded DecodeUtf8At(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return {lead, 1, true};

  std::size_t length = 0;
  char32_t code_point = 0;
  // The allowed range of the second byte excludes overlong forms, surrogates and
  // values beyond U+10FFFF.
  unsigned char second_min = 0x80;
  unsigned char second_max = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    if (lead == 0xE0) second_min = 0xA0;
    if (lead == 0xED) second_max = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    if (lead == 0xF0) second_min = 0x90;
    if (lead == 0xF4) second_max = 0x8F;
  } else {
    return {kReplacement, 1, false};
  }
  if (text.size() - pos < length) return {kReplacement, 1, false};
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(pos + i);
    const unsigned char min = i == 1 ? second_min : 0x80;
    const unsigned char max = i == 1 ? second_max : 0xBF;
    if (next < min || next > max) return {kReplacement, 1, false};
    code_point = (code_point << 6) | (next & 0x3F);
  }
  return {code_point, length, true};
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Calls `visit(code_point)` for each character of a UTF-8 text, U+FFFD for each
// malformed byte.
template <typename Visit>
void ForEachCodePoint(std::string_view utf8, Visit visit) {
  for (std::size_t pos = 0; pos < utf8.size();) {
    const Decoded d = DecodeUtf8At(utf8, pos);
    visit(d.code_point);
    pos += d.length;
  }
}

// Windows-1252's characters at 0x80-0x9F. The five bytes Windows leaves undefined
// decode to the C1 control of the same value, as Windows itself does, so that every
// byte survives a round trip.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

std::optional<unsigned char> Cp1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] == cp) return static_cast<unsigned char>(0x80 + i);
  }
  return std::nullopt;
}

std::string AsciiToUtf8(std::string_view ascii) {
  std::string out;
  out.reserve(ascii.size());
  for (const char c : ascii) {
    if (static_cast<unsigned char>(c) < 0x80) {
      out += c;
    } else {
      AppendUtf8(out, kReplacement);
    }
  }
  return out;
}

void AppendUtf16Unit(std::string& out, char16_t unit, bool big_endian) {
  const char high = static_cast<char>(unit >> 8);
  const char low = static_cast<char>(unit & 0xFF);
  if (big_endian) {
    out += high;
    out += low;
  } else {
    out += low;
    out += high;
  }
}

// The value of the charset parameter of a Content-Type, lower case and unquoted;
// empty when there is none.
std::string CharsetOf(std::string_view content_type) {
  const std::size_t size = content_type.size();
  const auto blank = [&](std::size_t i) { return content_type[i] == ' ' || content_type[i] == '\t'; };
  // Parameters follow the media type, each after a ';'.
  std::size_t pos = content_type.find(';');
  while (pos < size) {
    ++pos;
    std::size_t name_end = pos;
    while (name_end < size && content_type[name_end] != '=' && content_type[name_end] != ';') ++name_end;
    const std::string name = AsciiLower(TrimSpacesAndTabs(content_type.substr(pos, name_end - pos)));
    pos = name_end;
    if (pos == size || content_type[pos] == ';') continue;  // a parameter without a value

    ++pos;  // past '='
    while (pos < size && blank(pos)) ++pos;
    std::string value;
    if (pos < size && content_type[pos] == '"') {
      // A quoted string, in which a backslash takes the next character as it is.
      for (++pos; pos < size && content_type[pos] != '"'; ++pos) {
        if (content_type[pos] == '\\' && pos + 1 < size) ++pos;
        value += content_type[pos];
      }
      pos = content_type.find(';', pos);
    } else {
      const std::size_t end = content_type.find(';', pos);
      value = std::string(TrimSpacesAndTabs(content_type.substr(pos, end - pos)));
      pos = end;
    }
    if (name == "charset") return AsciiLower(TrimSpacesAndTabs(value));
  }
  return {};
}

}  // namespace

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (const char c : latin1) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  ForEachCodePoint(utf8, [&](char32_t cp) { out += cp <= 0xFF ? static_cast<char>(cp) : '?'; });
  return out;
}

std::string Windows1252ToUtf8(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size());
  for (const char c : cp1252) {
    const auto byte = static_cast<unsigned char>(c);
    AppendUtf8(out, byte >= 0x80 && byte <= 0x9F ? kCp1252High[byte - 0x80] : byte);
  }
  return out;
}

std::string Utf8ToWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  ForEachCodePoint(utf8, [&](char32_t cp) {
    const std::optional<unsigned char> byte = Cp1252Byte(cp);
    out += byte ? static_cast<char>(*byte) : '?';
  });
  return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  const std::size_t units = bytes.size() / 2;
  const auto unit_at = [&](std::size_t i) -> char16_t {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    return static_cast<char16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
  };
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t unit = unit_at(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
      const char16_t next = unit_at(i + 1);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    // A surrogate without its partner is no character.
    AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : char32_t{unit});
  }
  // A dangling odd byte is half a code unit.
  if (bytes.size() % 2 != 0) AppendUtf8(out, kReplacement);
  return out;
}

std::string Utf8ToUtf16(std::string_view utf8, bool big_endian) {
  std::string out;
  out.reserve(utf8.size() * 2);
  ForEachCodePoint(utf8, [&](char32_t cp) {
    if (cp >= 0x10000) {
      const char32_t offset = cp - 0x10000;
      AppendUtf16Unit(out, static_cast<char16_t>(0xD800 + (offset >> 10)), big_endian);
      AppendUtf16Unit(out, static_cast<char16_t>(0xDC00 + (offset & 0x3FF)), big_endian);
    } else {
      AppendUtf16Unit(out, static_cast<char16_t>(cp), big_endian);
    }
  });
  return out;
}

std::string SanitizeUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Decoded d = DecodeUtf8At(bytes, pos);
    if (d.valid) {
      out.append(bytes.substr(pos, d.length));
    } else {
      AppendUtf8(out, kReplacement);
    }
    pos += d.length;
  }
  return out;
}

std::size_t Utf8Length(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < utf8.size(); ++count) pos += DecodeUtf8At(utf8, pos).length;
  return count;
}

std::string Utf8Prefix(std::string_view utf8, std::size_t max_chars) {
  std::size_t pos = 0;
  for (std::size_t count = 0; count < max_chars && pos < utf8.size(); ++count) {
    pos += DecodeUtf8At(utf8, pos).length;
  }
  return std::string(utf8.substr(0, pos));
}

std::string DecodeBody(std::string_view body, std::string_view content_type) {
  const std::string charset = CharsetOf(content_type);
  if (charset == "iso-8859-1" || charset == "iso8859-1" || charset == "iso_8859-1" || charset == "latin1" ||
      charset == "latin-1" || charset == "l1") {
    return Latin1ToUtf8(body);
  }
  if (charset == "windows-1252" || charset == "cp1252" || charset == "x-cp1252") {
    return Windows1252ToUtf8(body);
  }
  if (charset == "us-ascii" || charset == "ascii") return AsciiToUtf8(body);
  return SanitizeUtf8(body);
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace zendrel
