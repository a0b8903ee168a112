#include "platform/Text.h"

#include <cctype>
#include <cstdio>

namespace korvel {

std::string_view TrimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool ParseHexDigits(std::string_view s, uint32_t& value) {
  if (s.empty() || s.size() > 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * 16 + uint32_t(d);
  }
  value = v;
  return true;
}

std::string HexFieldText(int64_t value) {
  return value <= 0 ? "" : HexText(uint64_t(value), 1);
}

std::optional<int64_t> HexFieldNumber(const std::string& text) {
  if (text.empty()) return 0;
  uint32_t v = 0;
  if (!ParseHexDigits(text, v)) return std::nullopt;
  return int64_t(v);
}

std::string HexText(uint64_t value, int minDigits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", minDigits, static_cast<unsigned long long>(value));
  return text;
}

std::tm LocalTimeParts(int64_t seconds) {
  const std::time_t t = std::time_t(seconds);
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &t);
#else
  localtime_r(&t, &parts);
#endif
  return parts;
}

std::tm UtcTimeParts(int64_t seconds) {
  const std::time_t t = std::time_t(seconds);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &t);
#else
  gmtime_r(&t, &parts);
#endif
  return parts;
}

std::string FormatTime(const std::tm& parts, const char* format) {
  char text[64] = {};
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

}  // namespace korvel
