// The rules of the window's hexadecimal fields and image-list items, without a toolkit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvel {

// A number as a field shows it: upper-case hex without leading zeros; 0 or less is empty.
std::string HexFieldText(int64_t value);
// A field's number: its text as hexadecimal, the empty text as 0; nothing when the text is
// not hexadecimal (the caller reports the conversion error).
std::optional<int64_t> HexFieldNumber(const std::string& text);
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
