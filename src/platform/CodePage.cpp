#include "platform/CodePage.h"

#include "platform/Text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace korvel {

namespace {
// 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsC1Control(char32_t c) {
  return c >= 0x80 && c <= 0x9F;
}

#ifdef _WIN32
std::wstring Utf16(char32_t c) {
  if (c < 0x10000) return std::wstring(1, wchar_t(c));
  c -= 0x10000;
  return {wchar_t(0xD800 + (c >> 10)), wchar_t(0xDC00 + (c & 0x3FF))};
}

// One character in the ANSI code page: its bytes, or the fault.
CodePageFault WindowsByte(UINT cp, char32_t c, char& out) {
  if (c < 0x80) {  // ASCII is the same in every ANSI code page
    out = char(c);
    return CodePageFault::None;
  }
  // A UTF-8 system code page writes every other character in two bytes or more (and takes no
  // default-character flag).
  if (cp == CP_UTF8) return CodePageFault::MultiByte;
  const std::wstring w = Utf16(c);
  char bytes[8] = {};
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, w.data(), int(w.size()), bytes,
                                    int(sizeof bytes), nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return CodePageFault::NotInCodePage;
  if (n > 1) return CodePageFault::MultiByte;
  // The byte must read back as the same character, not as a look-alike.
  wchar_t back[2] = {};
  if (MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes, 1, back, 2) != int(w.size()) ||
      std::wstring(back, w.size()) != w)
    return CodePageFault::NotInCodePage;
  out = bytes[0];
  return CodePageFault::None;
}

std::string Utf8FromWide(const std::wstring& w) {
  if (w.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string text(size_t(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), text.data(), n, nullptr, nullptr);
  return text;
}
#endif
}  // namespace

std::optional<std::u32string> DecodeUtf8(std::string_view utf8) {
  std::u32string out;
  for (size_t i = 0; i < utf8.size();) {
    const uint8_t lead = uint8_t(utf8[i]);
    // The sequence's length, the lead byte's bits, and the least value that needs it.
    size_t length = 1;
    char32_t c = lead;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, c = lead & 0x07, least = 0x10000;
    } else if (lead >= 0x80) {
      return std::nullopt;
    }
    if (length > utf8.size() - i) return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
      const uint8_t next = uint8_t(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    out += c;
    i += length;
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view characters) {
  std::string out;
  for (char32_t c : characters) {
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

char32_t Windows1252ToUnicode(uint8_t b) {
  return b >= 0x80 && b <= 0x9F ? char32_t(kWindows1252High[b - 0x80]) : char32_t(b);
}

std::optional<uint8_t> UnicodeToWindows1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return uint8_t(c);
  if (IsC1Control(c)) return std::nullopt;  // the unused positions hold no character
  for (uint8_t i = 0; i < 32; ++i)
    if (kWindows1252High[i] == c) return uint8_t(0x80 + i);
  return std::nullopt;
}

std::string CodePointText(char32_t c) {
  return "U+" + HexText(c, 4);
}

unsigned SystemCodePage() {
#ifdef _WIN32
  return GetACP();
#else
  return 1252;
#endif
}

CodePageText ToCodePage(std::string_view utf8) {
  CodePageText result;
  const std::optional<std::u32string> characters = DecodeUtf8(utf8);
  if (!characters) {
    result.fault = CodePageFault::NotUtf8;
    return result;
  }
#ifdef _WIN32
  const UINT cp = GetACP();
#endif
  for (char32_t c : *characters) {
    char byte = 0;
    CodePageFault fault = CodePageFault::NotInCodePage;
    if (!IsC1Control(c)) {
#ifdef _WIN32
      fault = WindowsByte(cp, c, byte);
#else
      if (const std::optional<uint8_t> b = UnicodeToWindows1252(c)) {
        byte = char(*b);
        fault = CodePageFault::None;
      }
#endif
    }
    if (fault != CodePageFault::None) {
      result.bytes.clear();
      result.fault = fault;
      result.character = c;
      return result;
    }
    result.bytes += byte;
  }
  return result;
}

std::string FromCodePage(std::string_view bytes) {
#ifdef _WIN32
  if (bytes.empty()) return {};
  const UINT cp = GetACP();
  DWORD flags = MB_ERR_INVALID_CHARS;
  int n = MultiByteToWideChar(cp, flags, bytes.data(), int(bytes.size()), nullptr, 0);
  if (n <= 0) {
    flags = 0;
    n = MultiByteToWideChar(cp, flags, bytes.data(), int(bytes.size()), nullptr, 0);
  }
  if (n <= 0) return {};
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(cp, flags, bytes.data(), int(bytes.size()), w.data(), n);
  return Utf8FromWide(w);
#else
  std::u32string characters;
  for (char b : bytes) characters += Windows1252ToUnicode(uint8_t(b));
  return EncodeUtf8(characters);
#endif
}

}  // namespace korvel
