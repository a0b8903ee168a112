// Text in the system's 8-bit code page: the form in which the dongle's string descriptor and
// TX.ini keep the product name, one byte a character. The window holds UTF-8. On Windows the
// code page is the system's ANSI code page; elsewhere it is Windows-1252, so that a Western
// Windows station and a Linux station write the same bytes and read each other's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

enum class CodePageFault {
  None,
  NotUtf8,        // the text is not valid UTF-8
  NotInCodePage,  // a character the code page has no byte for
  MultiByte,      // a character the code page writes in more than one byte
};

struct CodePageText {
  std::string bytes;  // one byte a character; empty on a fault
  CodePageFault fault = CodePageFault::None;
  char32_t character = 0;  // the first character that could not be taken
  bool Ok() const { return fault == CodePageFault::None; }
};

// UTF-8 to the code page. The first character that is not a single byte of it refuses the
// whole text. The C1 controls (U+0080 to U+009F) are refused on every system: they are no
// characters of a name, and Windows-1252 has them only in its five unused positions.
CodePageText ToCodePage(std::string_view utf8);
// The code page's bytes as UTF-8, as the system reads them. Never fails: on Windows a
// sequence the code page does not define becomes what the system makes of it.
std::string FromCodePage(std::string_view bytes);
// The code page's number: GetACP() on Windows, 1252 elsewhere.
unsigned SystemCodePage();

// The characters of strict UTF-8 (no overlong forms, surrogates or values above U+10FFFF);
// nothing when the text is not UTF-8. Its size is the text's character count.
std::optional<std::u32string> DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(std::u32string_view characters);

// Windows-1252 by its table. The five unused positions (0x81, 0x8D, 0x8F, 0x90, 0x9D) read as
// the C1 controls of the same number, as Windows reads them, and are given to no character.
char32_t Windows1252ToUnicode(uint8_t b);
std::optional<uint8_t> UnicodeToWindows1252(char32_t c);

// "U+4E2D".
std::string CodePointText(char32_t c);

}  // namespace korvel
