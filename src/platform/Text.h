// Small text helpers shared by the parsers and the displays.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
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

// A moment (seconds since 1970) on this PC's local clock, or in UTC.
std::tm LocalTimeParts(int64_t seconds);
std::tm UtcTimeParts(int64_t seconds);
// strftime of those parts.
std::string FormatTime(const std::tm& parts, const char* format);

// The window's hexadecimal fields. A number as a field shows it: upper-case hex without
// leading zeros; 0 or less is empty.
std::string HexFieldText(int64_t value);
// A field's number: its text as hexadecimal, the empty text as 0; nothing when the text is
// not hexadecimal (the caller reports the conversion error).
std::optional<int64_t> HexFieldNumber(const std::string& text);

}  // namespace korvel
