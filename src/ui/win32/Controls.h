// The window's own controls on top of the system's: fonts by size at a DPI, the hex filter,
// the image list items and the sizes a caption needs.
#pragma once

#include <windows.h>

#include <string>

#include "ui/WindowLayout.h"

namespace korvel::win32 {

// The DPI of the monitor a window is on (96 before Windows 10).
int DpiOf(HWND window);
// Design pixels (96 DPI) at a DPI, and back, rounding up so a measured width never shrinks.
inline int Scaled(int design, int dpi) {
  return MulDiv(design, dpi, 96);
}
inline int Unscaled(int pixels, int dpi) {
  return (pixels * 96 + dpi - 1) / dpi;
}

// The fonts of the layout table's sizes: Normal is the system's message font.
class Fonts {
 public:
  Fonts() = default;
  ~Fonts();
  Fonts(const Fonts&) = delete;
  Fonts& operator=(const Fonts&) = delete;
  void Make(int dpi);
  HFONT Of(FontSize size) const { return fonts_[int(size)]; }

 private:
  void Free();
  HFONT fonts_[5] = {};
};

// Refuses typed characters that are not hex digits; control keys and pasting pass, as in
// the other window.
void FilterHex(HWND edit);

// Draws an item of an image list ("caption|index") with its language badge.
void DrawImageItem(const DRAWITEMSTRUCT& item, int dpi);

// Width in pixels of one line of text in a font.
int TextPixels(HWND window, HFONT font, const std::wstring& text);

}  // namespace korvel::win32
