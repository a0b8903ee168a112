#include "ui/HexField.h"

#include "platform/Text.h"

namespace korvel {

bool HexFilterAccepts(char32_t c) {
  return c == U'\b' || (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'f') ||
         (c >= U'A' && c <= U'F');
}

ImageItem ParseImageItem(const std::string& item) {
  const size_t bar = item.find('|');
  if (bar == std::string::npos) return {item, 0};
  ImageItem out{item.substr(0, bar), 0};
  int index = 0;
  bool digits = bar + 1 < item.size();
  for (size_t i = bar + 1; i < item.size() && digits; ++i) {
    if (item[i] < '0' || item[i] > '9' || index > 100000)
      digits = false;
    else
      index = index * 10 + (item[i] - '0');
  }
  out.imageIndex = digits ? index : 0;
  return out;
}

}  // namespace korvel
