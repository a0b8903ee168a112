// The rules of the window's hexadecimal fields and image-list items, without a toolkit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Text.h"

namespace korvel {

// What the filter lets through when typing: hex digits and backspace.
bool HexFilterAccepts(char32_t typed);

// "caption|index": the caption before the first '|', the image index after it; an item
// without '|' shows its whole text with image 0.
struct ImageItem {
  std::string caption;
  int imageIndex = 0;
};
ImageItem ParseImageItem(const std::string& item);

}  // namespace korvel
