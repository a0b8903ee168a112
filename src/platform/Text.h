// Small text helpers shared by the parsers and the displays.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

// Blanks (spaces and tabs) off both ends.
std::string_view TrimBlanks(std::string_view s);
bool EqualNoCase(std::string_view a, std::string_view b);
// 1 to 8 hexadecimal digits and nothing else.
bool ParseHexDigits(std::string_view s, uint32_t& value);
// Upper-case hexadecimal with at least minDigits digits.
std::string HexText(uint64_t value, int minDigits);

}  // namespace korvel
